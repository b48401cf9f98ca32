// An application that times the events it delivers: the longest the
// window's thread spent on one (a paint, a reply applied) while watching.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        // Other threads' events (a history job, a device call) come here too.
        if (!watching || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        if (m_depth++ > 0) {
            const bool done = QApplication::notify(receiver, event);
            --m_depth;
            return done;
        }
        QElapsedTimer t;
        t.start();
        const bool done = QApplication::notify(receiver, event);
        --m_depth;
        longest = std::max(longest, t.nsecsElapsed() / 1e6);
        return done;
    }

    bool watching = false;
    double longest = 0;

private:
    int m_depth = 0;
};
