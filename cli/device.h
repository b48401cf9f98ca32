// One open instrument and the one function every library call of zemctl
// passes through, so that a call file can hear each of them.
#pragma once

#include "records.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zemctl {

// One library call as a call file keeps it. The records are valid only
// during the observer's call.
struct CallRecord
{
    const char *operation = ""; // e.g. "zem_get_status"
    const char *command = ""; // e.g. "get_status"
    const zem::Record *requestRecord = nullptr; // null where the call has none
    const void *request = nullptr;
    const zem::Record *responseRecord = nullptr;
    const void *response = nullptr;
    std::int32_t handle = -1;
    std::int32_t result = 0;
    std::chrono::system_clock::time_point started;
    std::chrono::microseconds duration {};
};

class Device
{
public:
    using Observer = std::function<void(const CallRecord &)>;

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
    void report(const CallRecord &record);
    // A call that answered -1 elsewhere closes the device here as well.
    void forget() { device = -1; }

private:
    std::int32_t device = -1;
    Observer observer;
};

// The name of a result, as the window's log shows it: "result_ok 0",
// "device_undefined (-1)", ..., the signed number beyond the known codes.
std::string resultName(std::int32_t result);

const zem::Command *findCommand(std::string_view name);

} // namespace zemctl
