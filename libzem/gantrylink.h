// The virtual instrument's line to a virtual gantry (zem_gantry_sim): its
// side channel says which point of the board the probe's tip is on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zemsim {

class GantryLink
{
public:
    // Connects to the gantry's tip protocol; nothing, with a reason in
    // `error`, when it cannot be reached or does not answer as one.
    static std::unique_ptr<GantryLink> open(
        const std::string &host, std::uint16_t port, std::string &error);
    ~GantryLink();
    GantryLink(const GantryLink &) = delete;
    GantryLink &operator=(const GantryLink &) = delete;

    // The index of the point under the lowered tip, -1 for none; nothing when
    // the gantry no longer answers.
    std::optional<int> pointUnderTip();

private:
    explicit GantryLink(int fd)
        : fd_(fd)
    {
    }
    bool sendLine(const std::string &line);
    // The next line that starts with `prefix`, skipping any other.
    std::optional<std::string> awaitLine(const std::string &prefix);

    int fd_;
    std::string received_;
};

} // namespace zemsim
