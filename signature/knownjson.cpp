#include "knownjson.h"

#include "signature.h"
#include "zem.h"

#include <string>
#include <vector>

namespace sig {
namespace {

using Json = nlohmann::ordered_json;

// The pieces of a signature file, for reading it: what a key or an element
// holds. Only what the file format knows is built; the rest is skipped as
// it is read, so an unknown key costs no memory however large its value.
enum class Node {
    Skipped, // an unknown key's value
    Scalar, // a known key that holds a text or a number
    Top,
    Image,
    Settings,
    Points,
    Point,
    Place, // [x, y]: a point's place, its millimetres, a fiducial's
    Fiducials,
    Fiducial,
    Outline, // the board's corners, each a Place
    Expect, // a point's {"ohms": N}
    Measurements,
    Measurement,
    Variants, // a point's alternate references
    Variant,
    Curves,
    Curve,
    Numbers, // a curve's V or mA
    Parts, // the netlist's parts
    Part,
    Pads, // a part's [pin, net] pairs
    Pad,
};

bool isObjectNode(Node p)
{
    return p == Node::Top || p == Node::Image || p == Node::Settings || p == Node::Point
        || p == Node::Measurement || p == Node::Curve || p == Node::Fiducial || p == Node::Expect
        || p == Node::Variant || p == Node::Part;
}

bool isArrayNode(Node p)
{
    return p == Node::Points || p == Node::Place || p == Node::Measurements || p == Node::Curves
        || p == Node::Numbers || p == Node::Fiducials || p == Node::Outline || p == Node::Variants
        || p == Node::Parts || p == Node::Pads || p == Node::Pad;
}

Node keyNode(Node object, const std::string &key)
{
    const auto any = [&key](std::initializer_list<const char *> names) {
        return std::any_of(names.begin(), names.end(), [&key](const char *n) { return key == n; });
    };
    switch (object) {
    case Node::Top:
        if (key == "image")
            return Node::Image;
        if (key == "settings")
            return Node::Settings;
        if (key == "points")
            return Node::Points;
        if (key == "fiducials")
            return Node::Fiducials;
        if (key == "outline")
            return Node::Outline;
        if (key == "parts")
            return Node::Parts;
        return any({ "format", "version", "board", "tolerance", "prediction_tolerance", "common" })
            ? Node::Scalar
            : Node::Skipped;
    case Node::Part:
        if (key == "pads")
            return Node::Pads;
        if (key == "mm")
            return Node::Place;
        return any({ "refdes", "value", "height" }) ? Node::Scalar : Node::Skipped;
    case Node::Image:
        return any({ "type", "data" }) ? Node::Scalar : Node::Skipped;
    case Node::Settings:
        return any({ "SamplingRate", "ProbeSignalFrequency", "NumberPoints", "NumberChargePoints",
                   "MaxVoltage", "CurrentSensorMode", "OutputMode" })
            ? Node::Scalar
            : Node::Skipped;
    case Node::Point:
        if (key == "at" || key == "mm")
            return Node::Place;
        if (key == "measurements")
            return Node::Measurements;
        if (key == "expect")
            return Node::Expect;
        if (key == "variants")
            return Node::Variants;
        return any({ "name", "tolerance", "group", "component", "side", "net", "check", "origin",
                   "models" })
            ? Node::Scalar
            : Node::Skipped;
    case Node::Variant:
        if (key == "measurements")
            return Node::Measurements;
        return key == "name" ? Node::Scalar : Node::Skipped;
    case Node::Expect:
        return any({ "ohms", "farads", "henries", "open" }) ? Node::Scalar : Node::Skipped;
    case Node::Fiducial:
        if (key == "mm" || key == "px" || key == "machine")
            return Node::Place;
        return key == "name" ? Node::Scalar : Node::Skipped;
    case Node::Measurement:
        if (key == "settings")
            return Node::Settings;
        if (key == "reference")
            return Node::Curve;
        return key == "references" ? Node::Curves : Node::Skipped;
    case Node::Curve:
        return any({ "V", "mA" }) ? Node::Numbers : Node::Skipped;
    default:
        return Node::Skipped;
    }
}

Node elementNode(Node array)
{
    switch (array) {
    case Node::Points:
        return Node::Point;
    case Node::Measurements:
        return Node::Measurement;
    case Node::Variants:
        return Node::Variant;
    case Node::Curves:
        return Node::Curve;
    case Node::Fiducials:
        return Node::Fiducial;
    case Node::Outline:
        return Node::Place;
    case Node::Parts:
        return Node::Part;
    case Node::Pads:
        return Node::Pad;
    case Node::Pad:
        return Node::Scalar;
    case Node::Place:
    case Node::Numbers:
        return Node::Scalar;
    default:
        return Node::Skipped;
    }
}

// Builds the document as the plain parser would, but only of the known pieces:
// an unknown key is skipped with its value; a list or object where another
// kind of value belongs is built empty, which the checks then refuse; a list
// of numbers keeps no more elements than a valid one can have plus one,
// which its length check then refuses.
class SignatureReader : public nlohmann::json_sax<Json>
{
public:
    explicit SignatureReader(Json &root)
        : m_dom(root, false)
    {
    }

    // Each returns false only to stop at a syntax error; what is skipped
    // returns true without reaching the builder.
    bool null() override { return !kept() || m_dom.null(); }
    bool boolean(bool v) override { return !kept() || m_dom.boolean(v); }
    bool number_integer(number_integer_t v) override { return !kept() || m_dom.number_integer(v); }
    bool number_unsigned(number_unsigned_t v) override
    {
        return !kept() || m_dom.number_unsigned(v);
    }
    bool number_float(number_float_t v, const string_t &s) override
    {
        return !kept() || m_dom.number_float(v, s);
    }
    bool string(string_t &v) override { return !kept() || m_dom.string(v); }
    bool binary(binary_t &v) override { return !kept() || m_dom.binary(v); }
    bool start_object(std::size_t n) override { return !start(true) || m_dom.start_object(n); }
    bool start_array(std::size_t n) override { return !start(false) || m_dom.start_array(n); }
    bool end_object() override { return !end() || m_dom.end_object(); }
    bool end_array() override { return !end() || m_dom.end_array(); }
    bool key(string_t &k) override
    {
        if (m_skipping > 0)
            return true;
        m_keyNode = keyNode(m_open.back().node, k);
        return m_keyNode == Node::Skipped || m_dom.key(k);
    }
    bool parse_error(
        std::size_t at, const std::string &token, const nlohmann::detail::exception &e) override
    {
        m_dom.parse_error(at, token, e);
        return false;
    }

private:
    struct Open
    {
        Node node;
        std::size_t elements = 0;
    };

    // What the value that comes next is, counted as its container's element.
    Node next()
    {
        if (m_open.empty())
            return Node::Top;
        Open &o = m_open.back();
        if (isObjectNode(o.node))
            return m_keyNode;
        const std::size_t kept = o.node == Node::Place ? 3
            : o.node == Node::Fiducials                ? kMaxFiducials + 1
            : o.node == Node::Numbers                  ? std::size_t(MAX_NUMBER_POINTS) + 1
                                                       : SIZE_MAX;
        return ++o.elements > kept ? Node::Skipped : elementNode(o.node);
    }

    // Whether the text or number that comes now is kept.
    bool kept()
    {
        if (m_skipping > 0)
            return false;
        return next() != Node::Skipped;
    }

    // Whether the list or object that starts now is kept.
    bool start(bool object)
    {
        if (m_skipping > 0) {
            ++m_skipping;
            return false;
        }
        const Node node = next();
        if (node == Node::Skipped) {
            m_skipping = 1;
            return false;
        }
        // Built, but with nothing in it, when it is not what belongs here.
        const bool fits = object ? isObjectNode(node) : isArrayNode(node);
        m_open.push_back({ fits ? node : Node::Skipped });
        return true;
    }

    bool end()
    {
        if (m_skipping == 0) {
            m_open.pop_back();
            return true;
        }
        --m_skipping;
        return false;
    }

    nlohmann::detail::json_sax_dom_parser<Json> m_dom;
    std::vector<Open> m_open;
    Node m_keyNode = Node::Skipped;
    std::size_t m_skipping = 0; // depth inside a skipped list or object
};

} // namespace

bool readKnownJson(const QByteArray &data, Json &out)
{
    SignatureReader reader(out);
    return Json::sax_parse(data.constBegin(), data.constEnd(), &reader);
}

} // namespace sig
