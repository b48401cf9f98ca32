#include "virtualcontrol.h"

#include "zem.h"

#include <atomic>
#include <cstdint>

// The virtual instrument's own calls, renamed in its build for this one.
extern "C" {
int32_t zem_virtual_get_status(int32_t handle, get_status_response *response);
int32_t zem_virtual_reset_events(
    int32_t handle, const reset_events_request *request, reset_events_response *response);
int32_t zem_virtual_check_measurement_status(
    int32_t handle, check_measurement_status_response *response);
}

namespace {

constexpr std::uint16_t kPressAndRelease
    = IOEVENTS_GEN_PROBE_BUTTON_PRESSED | IOEVENTS_GEN_PROBE_BUTTON_RELEASED;

std::atomic<int> pending { 0 }; // pressed, not yet reported
std::atomic<bool> reported { false }; // reported, not yet reset
std::atomic<bool> held { false };
std::atomic<int> heldPolls { 0 }; // status polls answered "not complete" by the hold

} // namespace

namespace virtualcontrol {

void pressButton()
{
    ++pending;
}

void holdMeasurements(bool hold)
{
    if (hold)
        heldPolls = 0;
    held = hold;
}

int polledWhileHeld()
{
    return heldPolls;
}

} // namespace virtualcontrol

extern "C" {

int32_t zem_get_status(int32_t handle, get_status_response *response)
{
    const int32_t result = zem_virtual_get_status(handle, response);
    if (result != ZEM_RESULT_OK || !response)
        return result;
    int waiting = pending.load();
    while (!reported && waiting > 0)
        if (pending.compare_exchange_weak(waiting, waiting - 1))
            reported = true;
    if (reported)
        response->IOEvents |= kPressAndRelease;
    return result;
}

int32_t zem_reset_events(
    int32_t handle, const reset_events_request *request, reset_events_response *response)
{
    const int32_t result = zem_virtual_reset_events(handle, request, response);
    if (result == ZEM_RESULT_OK && request && (request->IOEventsRst & kPressAndRelease))
        reported = false;
    return result;
}

int32_t zem_check_measurement_status(int32_t handle, check_measurement_status_response *response)
{
    const int32_t result = zem_virtual_check_measurement_status(handle, response);
    if (result == ZEM_RESULT_OK && response && held) {
        response->ReadyStatus &= std::uint8_t(~MEASUREMENT_COMPLETE);
        ++heldPolls;
    }
    return result;
}

} // extern "C"
