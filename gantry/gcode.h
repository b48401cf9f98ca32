// The G-code a GRBL 1.1 controller takes from this gantry: words read from
// one line and checked as GRBL checks them, with its error numbers.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace gantry {

// GRBL's numbers for the errors this gantry reports.
namespace error {
constexpr int kExpectedLetter = 1;
constexpr int kBadNumber = 2;
constexpr int kInvalidStatement = 3;
constexpr int kNegativeValue = 4;
constexpr int kSettingDisabled = 5;
constexpr int kNotIdle = 8;
constexpr int kLocked = 9;
constexpr int kSoftLimitsNeedHoming = 10;
constexpr int kLineOverflow = 11;
constexpr int kTravelExceeded = 15;
constexpr int kInvalidJog = 16;
constexpr int kUnsupportedCommand = 20;
constexpr int kModalGroupViolation = 21;
constexpr int kUndefinedFeedRate = 22;
constexpr int kWordRepeated = 25;
constexpr int kNoAxisWords = 26;
constexpr int kValueWordMissing = 28;
constexpr int kUnusedValueWords = 36;
} // namespace error

// One line's words, in millimetres once units are applied by the caller.
struct GcodeBlock
{
    std::optional<int> motion; // G0 or G1
    bool dwell = false; // G4
    bool machineCoordinates = false; // G53
    std::optional<bool> absolute; // G90 / G91
    std::optional<bool> inches; // G20 / G21
    std::optional<double> feed; // F, in the line's units per minute
    std::optional<double> pause; // P, seconds
    std::array<std::optional<double>, 3> axes; // X, Y, Z
    bool hasAxes() const { return axes[0] || axes[1] || axes[2]; }
};

// Reads a G-code line (comments, spaces and case as GRBL allows). Returns 0,
// or the GRBL error number that refuses the line.
int parseGcode(std::string_view line, GcodeBlock &block);

// Reads the part of a "$J=" line after the '=': only G20/G21, G90/G91, G53,
// axis words and a feed, which it needs.
int parseJog(std::string_view line, GcodeBlock &block);

} // namespace gantry
