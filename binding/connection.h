// The one connection to the instrument: the only code that calls the zem
// library's device functions. It owns the handle, records every call (open,
// close, commands, profiles) with its origin, and holds the one rule for what
// a result means for the connection: -1 closes the device, which must be
// connected again; -4 reports it lost.
//
// Plain C++, no Qt: the window, zemctl and its modules all hold one. Calls are
// serialized, so a second thread's call waits for the one in flight.
#pragma once

#include "call.h"
#include "records.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace zem::calls {
class CallSink;
}

namespace zem {

class Connection
{
public:
    enum class State : std::uint8_t {
        Closed, // never opened, closed, or refused by the library
        Open,
        Lost, // the device answered -1 (and was closed) or -4
    };

    // Told of state changes, on the thread whose call changed the state,
    // right after the call was recorded.
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void stateChanged(State state) = 0;
    };

    Connection() = default;
    // Closes a device it opened and did not close (recorded with the current
    // origin).
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Opens url as it is and returns the handle, -1 when the library refused
    // it. Whatever was open stays as it was: callers close first if they mean to.
    std::int32_t open(const std::string &url);
    // Closes the handle, even -1 (the library decides what that means), and
    // keeps what the library left in it.
    void close();

    // Why the library refused the last open, where it says: ours does, through
    // its optional zem_virtual_open_error; a vendor's library need not. ""
    // otherwise, and after an open that worked.
    const std::string &openError() const { return m_openError; }
    // The refusal as zemctl and the window's status bar say it: "cannot open
    // device URL: reason", without ": reason" where there is none.
    std::string openFailure(const std::string &url) const
    {
        return "cannot open device " + url + (m_openError.empty() ? "" : ": " + m_openError);
    }

    bool isOpen() const { return m_handle != -1; }
    std::int32_t handle() const { return m_handle; }
    State state() const { return m_state; }

    // Calls a command with its records (null where it has none) on the open
    // handle, and applies the result's meaning.
    std::int32_t call(const Command &command, const void *request, void *response);
    // The same by the command's name, which must exist.
    std::int32_t call(std::string_view command, const void *request, void *response);
    // The profile calls; text receives the device's profile (also for -3).
    std::int32_t getProfile(std::string &text);
    std::int32_t setProfile(const char *text);

    // Puts the virtual probe on a pin (0-based, wrapping) through the
    // library's optional zem_virtual_probe_pin and applies the result's
    // meaning. Nothing when the library does not offer it: a vendor's lacks
    // the function, and one that answers it with -2 (not implemented) does
    // not offer it either. Not a device command, so it is not recorded.
    std::optional<std::int32_t> placeVirtualProbe(std::int32_t pin);
    // Whether placeVirtualProbe reaches the library; no call is made.
    static bool hasVirtualProbe();

    // Where calls are recorded: this sink, or calls::sink() when none is set.
    void setSink(calls::CallSink *sink) { m_sink = sink; }
    // Calls made outside an OriginScope carry this origin (Page by default).
    void setDefaultOrigin(calls::Origin origin) { m_defaultOrigin = origin; }
    void setListener(Listener *listener) { m_listener = listener; }

    // Keeps other threads' calls out while it lives, so a sequence of calls
    // (a getter then its setter) is not split.
    std::unique_lock<std::recursive_mutex> lock() const
    {
        return std::unique_lock<std::recursive_mutex>(m_mutex);
    }

private:
    void finish(calls::Call &call);
    void setState(State state);
    void applyResult(std::int32_t result);

    mutable std::recursive_mutex m_mutex;
    std::int32_t m_handle = -1;
    bool m_opened = false; // opened and not closed since
    State m_state = State::Closed;
    calls::CallSink *m_sink = nullptr;
    Listener *m_listener = nullptr;
    calls::Origin m_defaultOrigin = calls::Origin::Page;
    calls::Call m_scratch; // reused, so a call allocates nothing once grown
    std::string m_openError;
};

// Calls the library function of a command: the one dispatch from the command
// table to the library, which the connection and the test doubles share.
std::int32_t dispatch(const Command &command, std::int32_t handle, const void *request,
    void *response);

} // namespace zem
