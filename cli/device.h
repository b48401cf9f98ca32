// One open instrument and the one function every library call of zemctl
// passes through, so that a call file can hear each of them.
#pragma once

#include "call.h"
#include "records.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zemctl {

class Device
{
public:
    // Every call as the call recorder keeps it, open and close included.
    using Observer = std::function<void(const zem::calls::Call &)>;

    Device() = default;
    ~Device() { close(); }
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Opens url as it is; false when the library refuses it.
    bool open(const std::string &url);
    void close();
    bool isOpen() const { return device != -1; }
    std::int32_t handle() const { return device; }

    // Calls a command with its records (null where it has none). A device
    // that answers -1 is closed, as the window does.
    std::int32_t call(const zem::Command &command, const void *request, void *response);
    // The profile calls; text receives the device's profile.
    std::int32_t getProfile(std::string &text);
    std::int32_t setProfile(const char *text);

    // Hears every call made through this device and those reported to it.
    void setObserver(Observer o) { observer = std::move(o); }
    // For calls made on this device's handle by code that calls the library
    // itself (the measurement sequence).
    void report(const zem::calls::Call &call);

private:
    std::int32_t device = -1;
    Observer observer;
    zem::calls::Call scratch; // reused, so a call allocates nothing
};

// The name of a result, as the window's log shows it: "result_ok 0",
// "device_undefined (-1)", ..., the signed number beyond the known codes.
inline std::string resultName(std::int32_t result)
{
    return zem::calls::resultName(result);
}

const zem::Command *findCommand(std::string_view name);

} // namespace zemctl
