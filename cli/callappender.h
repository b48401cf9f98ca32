// Appends calls to a call file as they happen (the format is zem::calls'):
// each line with a single write, so that programs recording into the same
// file do not mix their lines, and nothing recorded is lost when the program
// ends early. A line that could not be written whole (a full disk) is taken
// back, so the file holds only whole lines, and recording stops: a record
// with holes would replay as a different session.
#pragma once

#include "call.h"
#include "recording.h"

#include <string>

namespace zemctl {

class CallAppender : public zem::calls::CallSink
{
public:
    CallAppender() = default;
    ~CallAppender() override;
    CallAppender(const CallAppender &) = delete;
    CallAppender &operator=(const CallAppender &) = delete;

    // "" or why the file cannot be appended to.
    std::string open(const std::string &fileName);
    bool isOpen() const { return fd >= 0; }
    // "" or why the line was not written.
    std::string append(const zem::calls::Call &call);
    // As a sink: appends; the first failure is reported on stderr and asks
    // the program to stop, as Ctrl+C does.
    void record(const zem::calls::Call &call) override;
    // Whether a line could not be written; nothing is appended after it.
    bool failed() const { return m_failed; }

private:
    int fd = -1;
    bool m_failed = false;
    std::string name;
    std::string line;
};

} // namespace zemctl
