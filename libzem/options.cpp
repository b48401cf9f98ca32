#include "options.h"

#include <charconv>
#include <cmath>

namespace zemsim {
namespace {

constexpr std::string_view kScheme = "virtual://";

constexpr std::string_view kOperations[]
    = { "get_measurement", "get_identity_information", "start_autocalibration", "get_status",
          "get_measurement_settings", "set_measurement_settings", "start_measurement",
          "check_measurement_status", "get_calibration_settings", "set_calibration_settings",
          "get_measurement_raw", "reset_events", "get_profile", "set_profile", "get_device_rank" };

bool fail(std::string *error, std::string message)
{
    if (error)
        *error = std::move(message);
    return false;
}

// Whole-text conversions: trailing characters, empty texts and overflow are
// refused. Numbers are read the same in every locale ('.' as the decimal
// point): a program that set a decimal-comma locale still opens the URLs its
// users copy from the documentation.
bool toDouble(std::string_view text, double &out)
{
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    if (text.empty() || text.size() > 64)
        return false;
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

template <class T> bool toInteger(std::string_view text, T &out)
{
    T v {};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return false;
    out = v;
    return true;
}

bool parseLoad(std::string_view name, Load &load)
{
    static constexpr std::pair<std::string_view, LoadKind> kLoads[]
        = { { "open", LoadKind::Open }, { "short", LoadKind::Short },
              { "resistor", LoadKind::Resistor }, { "capacitor", LoadKind::Capacitor },
              { "diode", LoadKind::Diode }, { "resistor_diode", LoadKind::ResistorDiode } };
    for (const auto &[text, kind] : kLoads) {
        if (name == text) {
            load.kind = kind;
            return true;
        }
    }
    return false;
}

// "<load>[:<value>]" items separated by commas; the value is the ohms of a
// resistor or resistor_diode, the farads of a capacitor.
bool parsePins(std::string_view text, std::vector<Load> &pins, std::string *error)
{
    constexpr std::size_t kMaxPins = 1000;
    pins.clear();
    do {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t colon = item.find(':');
        Load load;
        if (!parseLoad(item.substr(0, colon), load))
            return fail(error, "pins: unknown load '" + std::string(item.substr(0, colon)) + "'");
        if (colon != std::string_view::npos) {
            double value = 0;
            const bool valued = load.kind == LoadKind::Resistor
                || load.kind == LoadKind::ResistorDiode || load.kind == LoadKind::Capacitor;
            if (!valued || !toDouble(item.substr(colon + 1), value) || value <= 0)
                return fail(error, "pins: bad value in '" + std::string(item) + "'");
            (load.kind == LoadKind::Capacitor ? load.farads : load.ohms) = value;
        }
        pins.push_back(load);
        if (pins.size() > kMaxPins)
            return fail(error, "pins: more than 1000 loads");
    } while (!text.empty());
    return true;
}

// "i,j,..." pin positions from 1, stored from 0; checked against the pins
// once the whole URL is read.
bool parsePositions(std::string_view text, std::vector<std::size_t> &positions, std::string *error)
{
    constexpr std::size_t kMaxPositions = 1000;
    positions.clear();
    do {
        const std::size_t comma = text.find(',');
        std::size_t position = 0;
        if (!toInteger(text.substr(0, comma), position) || position == 0)
            return fail(error, "unstable: expected pin positions from 1, separated by commas");
        positions.push_back(position - 1);
        if (positions.size() > kMaxPositions)
            return fail(error, "unstable: more than 1000 positions");
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty())
            return fail(error, "unstable: expected pin positions from 1, separated by commas");
    } while (!text.empty());
    return true;
}

// "op:code[@n]" items separated by commas.
bool parseFailures(std::string_view text, Faults &faults, std::string *error)
{
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);

        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos)
            return fail(error, "fail: expected <operation>:<code>[@<call>]");
        const std::string_view op = item.substr(0, colon);
        std::string_view rest = item.substr(colon + 1);
        InjectedFailure f;
        const std::size_t at = rest.find('@');
        if (at != std::string_view::npos) {
            if (!toInteger(rest.substr(at + 1), f.fromCall) || f.fromCall == 0)
                return fail(error, "fail: the call number must be 1 or more");
            rest = rest.substr(0, at);
        }
        if (!isOperationName(op))
            return fail(error, "fail: unknown operation '" + std::string(op) + "'");
        if (!toInteger(rest, f.code))
            return fail(error, "fail: bad result code");
        faults.fail[std::string(op)] = f;
    }
    return true;
}

bool applyOption(std::string_view key, std::string_view value, Options &o, std::string *error)
{
    auto bad = [&] {
        return fail(error, "bad value '" + std::string(value) + "' for '" + std::string(key) + "'");
    };
    if (key == "ohms") {
        if (!toDouble(value, o.load.ohms) || o.load.ohms <= 0)
            return bad();
    } else if (key == "farads") {
        if (!toDouble(value, o.load.farads) || o.load.farads <= 0)
            return bad();
    } else if (key == "noise") {
        if (!toDouble(value, o.noise) || o.noise < 0)
            return bad();
    } else if (key == "seed") {
        std::uint32_t seed = 0;
        if (!toInteger(value, seed))
            return bad();
        o.seed = seed;
    } else if (key == "serial") {
        if (!toInteger(value, o.serial))
            return bad();
    } else if (key == "rank") {
        if (!toInteger(value, o.rank))
            return bad();
    } else if (key == "temperature") {
        if (!toInteger(value, o.temperature))
            return bad();
    } else if (key == "io_state") {
        if (!toInteger(value, o.ioState) || o.ioState > 3)
            return bad();
    } else if (key == "io_events") {
        if (!toInteger(value, o.ioEvents) || o.ioEvents > 15)
            return bad();
    } else if (key == "per_pin") {
        if (!toInteger(value, o.perPin) || o.perPin < 1 || o.perPin > 1000)
            return bad();
    } else if (key == "button_period_ms") {
        if (!toInteger(value, o.buttonPeriodMs))
            return bad();
    } else if (key == "calibration_ms") {
        if (!toInteger(value, o.calibrationMs) || o.calibrationMs > 60000)
            return bad();
    } else if (key == "delay_ms") {
        if (!toInteger(value, o.faults.delayMs) || o.faults.delayMs > 60000)
            return bad();
    } else if (key == "lose_after") {
        if (!toInteger(value, o.faults.loseAfter) || o.faults.loseAfter == 0)
            return bad();
    } else if (key == "never_complete") {
        if (value != "0" && value != "1")
            return bad();
        o.faults.neverComplete = value == "1";
    } else if (key == "board") {
        if (!toInteger(value, o.board))
            return bad();
    } else if (key == "spread") {
        if (!toDouble(value, o.spread) || o.spread < 0 || o.spread > kMaxSpread)
            return bad();
    } else if (key == "gantry") {
        const std::size_t colon = value.rfind(':');
        if (colon == std::string_view::npos || colon == 0
            || !toInteger(value.substr(colon + 1), o.gantryPort) || o.gantryPort == 0)
            return fail(error, "gantry: expected <host>:<port>, got '" + std::string(value) + "'");
        o.gantryHost = std::string(value.substr(0, colon));
    } else if (key == "unstable") {
        return parsePositions(value, o.unstable, error);
    } else if (key == "pins") {
        return parsePins(value, o.pins, error);
    } else if (key == "fail") {
        return parseFailures(value, o.faults, error);
    } else {
        return fail(error, "unknown option '" + std::string(key) + "'");
    }
    return true;
}

} // namespace

bool isOperationName(std::string_view name)
{
    for (std::string_view op : kOperations)
        if (op == name)
            return true;
    return false;
}

std::optional<Options> parseUrl(std::string_view url, std::string *error)
{
    if (url.size() > kMaxUrlLength) {
        fail(error, "URL too long");
        return std::nullopt;
    }
    if (url.substr(0, kScheme.size()) != kScheme) {
        // Serial and network transports need hardware this build does not drive.
        fail(error, "no transport for this URL; only virtual:// devices are available");
        return std::nullopt;
    }
    url.remove_prefix(kScheme.size());

    Options o;
    const std::size_t query = url.find('?');
    if (!parseLoad(url.substr(0, query), o.load)) {
        fail(error, "unknown load '" + std::string(url.substr(0, query)) + "'");
        return std::nullopt;
    }
    if (query == std::string_view::npos)
        return o;

    std::string_view rest = url.substr(query + 1);
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view item = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            fail(error, "expected key=value in '" + std::string(item) + "'");
            return std::nullopt;
        }
        if (!applyOption(item.substr(0, eq), item.substr(eq + 1), o, error))
            return std::nullopt;
    }
    // Options come in any order: positions are checked once the pins are known.
    const std::size_t pinCount = o.pins.empty() ? 1 : o.pins.size();
    for (std::size_t position : o.unstable) {
        if (position >= pinCount) {
            fail(error, "unstable: no pin at position " + std::to_string(position + 1));
            return std::nullopt;
        }
    }
    return o;
}

} // namespace zemsim
