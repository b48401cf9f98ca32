// The window's way to the test history. The Store lives on a thread of its
// own and every use of it runs there, so a server that is slow or gone never
// stops the window; a Qt SQL connection belongs to the thread that opened
// it, which is why there is one such thread, not a pool. The thread starts
// with the first job, not before.
#pragma once

#include "store.h"

#include <QObject>
#include <QThread>

#include <functional>

namespace zem::history {

class Worker : public QObject
{
    Q_OBJECT

public:
    // What a job hands back, run on the worker's own thread (the window's).
    using Reply = std::function<void()>;
    // store is open at the location, or null with the reason in error.
    using Job = std::function<Reply(Store *store, const QString &error)>;

    explicit Worker(QObject *parent = nullptr);
    // Waits for the jobs already posted: a run on its way to the history is
    // kept, not dropped with the window.
    ~Worker() override;

    // The text naming the history (see location.h); jobs posted from now on
    // open it.
    QString locationText() const { return location; }
    void setLocationText(const QString &text);

    // Runs job on the history's thread, jobs in the order posted, then its
    // reply on this object's thread, unless context is gone by then.
    void post(QObject *context, Job job);

signals:
    // Runs that waited in the spool reached the server (a job found it
    // there again): how many were uploaded and how many still wait.
    void synced(int uploaded, int waiting, const QString &error);

private:
    struct State;

    QString location;
    QThread thread;
    QObject *inThread = nullptr; // lives on the thread; jobs are posted to it
    std::shared_ptr<State> state; // touched only on the thread
};

} // namespace zem::history
