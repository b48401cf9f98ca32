// The window's side of the zem library: traced open and close, the text of a
// result code, and what a result means for the connection.
#pragma once

#include <QByteArrayView>
#include <QLoggingCategory>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace zem {
struct Command;
}

// Every call is also recorded into the sink of calls/recording.h when one is
// attached, with the origin its caller set (zem::calls::OriginScope).

// Library calls, with their request bytes and results; off unless enabled,
// e.g. QT_LOGGING_RULES="zem.calls.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcZemCalls)

// The text that follows "returned " in a log line: the name for codes of
// magnitude 0 to 5 (a positive code takes the name of its negative), the
// signed decimal number otherwise.
QString resultText(std::int32_t result);

// Opens url (passed as it is) and returns the handle, -1 when not opened.
std::int32_t openDevice(const QByteArray &url);

// Closes the device; harmless on -1. The library decides what handle holds after.
void closeDevice(std::int32_t &handle);

// A device that reports itself undefined must be connected again: closes it
// when result is -1 and tells whether it did.
bool closeIfUndefined(std::int32_t &handle, std::int32_t result);

// Calls the library operation of a command with the given records (null where
// the command has none) and traces it. Every command call of the programs
// passes here, whichever feature makes it.
std::int32_t callCommand(
    const zem::Command &command, std::int32_t handle, const void *request, void *response);

// The profile calls, traced and recorded like every other call.
std::int32_t getProfile(std::int32_t handle, char **text, void *(*alloc)(std::size_t));
std::int32_t setProfile(std::int32_t handle, const char *text);

// Traces one library call: its name, the handle, the request record's bytes
// (empty when it has none) and the result.
void traceCall(
    const char *operation, std::int32_t handle, QByteArrayView request, std::int32_t result);
