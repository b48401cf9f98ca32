// An update that changes ask for as often as they come (once per device
// call) and that runs at most once per frame: the first request starts a
// coarse single-shot timer of a frame, and the update runs once when it
// fires, however many requests came meanwhile. flush() runs a pending update
// at once, for whoever must read its result right after a call.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class FrameUpdate : public QObject
{
public:
    // About one frame of a 60 Hz screen.
    static constexpr int kFrameMs = 16;

    explicit FrameUpdate(
        std::function<void()> update, QObject *parent = nullptr, int intervalMs = kFrameMs);

    // A change happened: the update runs within the interval.
    void request();
    // Runs the update now if one was requested; nothing otherwise.
    void flush();

private:
    void run();

    std::function<void()> m_update;
    QTimer m_timer;
};
