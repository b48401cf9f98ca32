// Control of the recording test double of the zem library.
//
// The double implements every function of zem.h. Each call is recorded in
// order; each function returns a scripted result (default 0; open returns the
// scripted handle, default 1). Queued results are used first, one per call,
// before the standing result applies again, so a test can make only the
// first open fail. Getters copy the scripted response bytes into the
// caller's record (never more than the record holds) whatever they return,
// so a test sees whether the caller ignores the record after a failure.
//
// The record and the scripts are not guarded: calls from two threads must not
// overlap (the connection lets one through at a time; under ThreadSanitizer
// an overlap is a reported race), and a test reads the record once the calls
// it looks at are known to have returned or are held at the gate.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zemdouble {

struct Call
{
    std::string function; // e.g. "zem_get_status"
    // The handle passed; for zem_close_device the value of *handle on entry,
    // for zem_open_device the handle returned.
    std::int32_t handle = -1;
    // zem_open_device: the URL's bytes; commands: the request record's bytes;
    // zem_set_profile: the text's bytes; all without a terminating zero.
    // zem_virtual_probe_pin: the pin's four bytes (see probePin()).
    std::vector<std::uint8_t> request;
    std::int32_t result = 0;

    // The pin a zem_virtual_probe_pin call passed; -1 for other calls.
    std::int32_t probePin() const;
};

// Forgets every call and every script.
void reset();

const std::vector<Call> &calls();
// The recorded calls as "function(handle)" lines, which read well in a failed
// comparison, e.g. "zem_close_device(-1)"; "zem_virtual_probe_pin(1, 2)"
// adds the pin.
std::vector<std::string> callLines();
std::size_t count(const std::string &function);

// The standing result of a function (the handle returned by zem_open_device).
void setResult(const std::string &function, std::int32_t result);
// Results for the next calls of a function, one per call, before the standing one.
void queueResults(const std::string &function, std::vector<std::int32_t> results);
void setOpenHandle(std::int32_t handle);

// Bytes a getter writes into its response record. For zem_get_profile, the
// text it allocates and returns (a zero byte is appended); without a script
// zem_get_profile leaves the text pointer untouched.
void setResponse(const std::string &function, std::vector<std::uint8_t> bytes);

// A record's bytes, for setResponse.
template <class T> std::vector<std::uint8_t> bytes(const T &record)
{
    const auto *p = reinterpret_cast<const std::uint8_t *>(&record);
    return { p, p + sizeof record };
}

// A gate that holds calls in flight until the test lets them go: once closed,
// every call (of `function` only, when given) waits in the library until
// openGate(). reset() opens it.
void closeGate(const std::string &function = {});
void openGate();
// Waits until `count` calls wait at the gate; false if they do not within
// `timeout`.
bool waitForHeld(
    std::size_t count = 1, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
// Calls that waited at the gate since the last reset(), those waiting now
// included.
std::size_t heldCalls();

// The double also has our library's optional zem_virtual_probe_pin, and a
// program finds it with dlsym(RTLD_DEFAULT) (the double's CMakeLists exports
// it). Not offered, it acts as a vendor's library without it: it answers
// ZEM_RESULT_NOT_IMPLEMENTED, which the binding takes for a missing
// function, and records nothing. reset() offers it again.
void offerVirtualProbe(bool offered);

// What zem_close_device leaves in the caller's handle (default -1).
void setCloseLeaves(std::int32_t handle);

using Allocator = void *(*)(std::size_t);
// The allocation function that the last zem_get_profile received.
Allocator lastProfileAllocator();

} // namespace zemdouble
