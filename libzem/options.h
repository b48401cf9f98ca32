// What a virtual:// URL asks for: the load on the probe, the instrument's
// identity and the faults to inject.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zemsim {

enum class LoadKind { Open, Short, Resistor, Capacitor, Diode, ResistorDiode };

struct Load
{
    LoadKind kind = LoadKind::Open;
    double ohms = 1000.0; // resistor, resistor_diode
    double farads = 1.0e-6; // capacitor
    double emission = 1.0; // diode, resistor_diode: scales the forward voltage
};

struct InjectedFailure
{
    std::int32_t code = 0;
    std::uint64_t fromCall = 1; // the first call (counted from 1) that fails
};

struct Faults
{
    std::map<std::string, InjectedFailure, std::less<>> fail; // by operation name without "zem_"
    std::uint32_t delayMs = 0; // added to every device call
    std::uint64_t loseAfter = 0; // 0: never lost
    bool neverComplete = false;
};

struct Options
{
    Load load;
    // Loads the probe touches in turn (pins=), replacing `load` when not empty.
    std::vector<Load> pins;
    // One board of a production lot: each pin's values are off by a factor
    // within ±spread percent, fixed by the board number and the pin's position.
    std::uint64_t board = 0;
    double spread = 0; // percent, 0 to kMaxSpread; 0 leaves every value as given
    // Positions (from 0) of the pins whose values change at every measurement;
    // without pins= the load is the one pin, at position 0.
    std::vector<std::size_t> unstable;
    double noise = 1.0; // scale of the default noise; 0 gives exact values
    std::optional<std::uint32_t> seed;
    std::uint32_t serial = 1234;
    std::int32_t rank = 1;
    std::int16_t temperature = 31;
    std::uint16_t ioState = 0;
    std::uint16_t ioEvents = 0;
    std::uint32_t buttonPeriodMs = 0; // generator button pressed/released every period; 0: never
    // Without a button: measurements on one pin before the probe moves on, as
    // a program that captures each point several times takes them.
    std::uint32_t perPin = 1;
    std::uint32_t calibrationMs = 20;
    Faults faults;
    // A virtual gantry (gantry=host:port) whose tip decides the pin instead;
    // port 0: none.
    std::string gantryHost;
    std::uint16_t gantryPort = 0;
};

inline constexpr double kMaxSpread = 50.0; // percent
// An unstable pin's values change by up to this share at every measurement.
inline constexpr double kUnstableChange = 0.3;

// Longest URL accepted; anything longer is refused before it is parsed.
inline constexpr std::size_t kMaxUrlLength = 2048;

// Parses "virtual://<load>[?key=value&...]". Returns nothing, with a reason in
// *error, for any other form, an unknown load or option, or a bad value.
std::optional<Options> parseUrl(std::string_view url, std::string *error = nullptr);

// True for the names of the device operations that faults can target.
bool isOperationName(std::string_view name);

} // namespace zemsim
