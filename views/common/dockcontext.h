// What every dock is given when it is made: the window's device session, the
// history's thread, the one file chooser and the settings store. The window
// owns it and outlives its docks; a test makes one of its own.
#pragma once

#include "filechooser.h"
#include "settings.h"

#include <memory>

class DeviceSession;

namespace zem::history {
class Worker;
}

class DockContext
{
public:
    // `history` may be null: then test runs are not kept and nothing is read.
    explicit DockContext(DeviceSession &session, zem::history::Worker *history = nullptr)
        : m_session(session)
        , m_history(history)
    {
    }

    DeviceSession &session() const { return m_session; }
    zem::history::Worker *history() const { return m_history; }
    // Asked afresh for every question, so that a chooser set later (tests,
    // scripted pictures) answers for every dock at once.
    FileChooser &files() const { return *m_files; }
    void setFileChooser(std::shared_ptr<FileChooser> chooser) { m_files = std::move(chooser); }
    Settings &settings() { return m_settings; }

private:
    DeviceSession &m_session;
    zem::history::Worker *m_history;
    std::shared_ptr<FileChooser> m_files = std::make_shared<FileChooser>();
    Settings m_settings;
};
