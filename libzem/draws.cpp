#include "draws.h"

#include <cmath>

namespace zemsim {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// splitmix64's finalizer: a bijection of 64 bits that leaves neighbouring
// inputs with unrelated outputs.
std::uint64_t mix64(std::uint64_t x)
{
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// 53 bits onto [-1, 1).
double symmetricUnit(std::uint64_t x)
{
    return double(x >> 11) * 0x1.0p-52 - 1.0;
}

// A number in [-1, 1] fixed by the board, the pin's position and which of its
// values it varies: splitmix64 over the three, so a board is the same on
// every platform and run, and its neighbours are unrelated.
double lotDeviation(std::uint64_t board, std::size_t position, unsigned value)
{
    std::uint64_t x = board * kGolden + position * 0xD1B54A32D192ED03ull + value;
    for (int round = 0; round < 2; ++round)
        x = mix64(x + kGolden);
    return symmetricUnit(x);
}

} // namespace

CaptureRandom::CaptureRandom(
    std::uint64_t seed, std::uint64_t board, std::size_t position, std::uint64_t capture)
{
    // Each step is a bijection of the value it takes in, so two captures
    // that differ in any one of the four start apart.
    for (const std::uint64_t v : { seed, board, std::uint64_t(position), capture })
        state_ = mix64(state_ + kGolden + v);
}

double CaptureRandom::symmetric()
{
    return symmetricUnit(next());
}

// By Box-Muller, which yields two at a time.
double CaptureRandom::normal()
{
    if (hasSpare_) {
        hasSpare_ = false;
        return spare_;
    }
    constexpr double kTwoPi = 6.28318530717958647692;
    const double u1 = (double(next() >> 11) + 1.0) * 0x1.0p-53; // (0, 1]: log is finite
    const double angle = kTwoPi * double(next() >> 11) * 0x1.0p-53;
    const double radius = std::sqrt(-2.0 * std::log(u1));
    spare_ = radius * std::sin(angle);
    hasSpare_ = true;
    return radius * std::cos(angle);
}

std::uint64_t CaptureRandom::next()
{
    state_ += kGolden;
    return mix64(state_);
}

Load boardLoad(Load load, std::uint64_t board, std::size_t position, double spread)
{
    if (spread == 0)
        return load;
    const double share = spread / 100.0;
    load.ohms *= 1.0 + share * lotDeviation(board, position, 0);
    load.farads *= 1.0 + share * lotDeviation(board, position, 1);
    load.emission *= 1.0 + share * lotDeviation(board, position, 2);
    return load;
}

} // namespace zemsim
