// A line for the window's event log, with its level decided where the line is
// made (from a result code or an outcome), never from its wording.
#pragma once

#include <QList>
#include <QString>

enum class LogLevel { Normal, Failure };

struct LogLine
{
    QString text;
    LogLevel level = LogLevel::Normal;
};
using LogLines = QList<LogLine>;

// The level of a library result: anything but 0 is a failure.
inline LogLevel levelOf(int result)
{
    return result == 0 ? LogLevel::Normal : LogLevel::Failure;
}
