#include "worker.h"

#include <QPointer>

namespace zem::history {

struct Worker::State
{
    std::unique_ptr<Store> store;
    QString opened; // the location text store was opened with
    QString error; // why it could not be
};

Worker::Worker(QObject *parent)
    : QObject(parent)
    , location(defaultLocationText())
    , state(std::make_shared<State>())
{
    thread.setObjectName(QStringLiteral("zem history"));
}

Worker::~Worker()
{
    if (!thread.isRunning())
        return;
    // After the jobs before it; the store closes on the thread that opened it.
    QMetaObject::invokeMethod(
        inThread, [s = state] { s->store.reset(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete inThread;
}

void Worker::setLocationText(const QString &text)
{
    location = text;
}

void Worker::post(QObject *context, Job job)
{
    if (!thread.isRunning()) {
        if (!inThread) {
            inThread = new QObject;
            inThread->moveToThread(&thread);
        }
        thread.start();
    }
    QMetaObject::invokeMethod(
        inThread,
        [this, s = state, where = location, job = std::move(job), to = QPointer<QObject>(context)] {
            if (!s->store || s->opened != where) {
                s->store = std::make_unique<Store>();
                s->opened = where;
                s->error.clear();
                const auto parsed = parseLocation(where, &s->error);
                if (!parsed || !s->store->open(*parsed)) {
                    if (parsed)
                        s->error = s->store->errorString();
                    s->store.reset();
                }
            }
            Reply reply = job(s->store.get(), s->error);
            if (reply)
                QMetaObject::invokeMethod(this, [to, reply = std::move(reply)] {
                    if (to)
                        reply();
                });
            // A job that reached the server again takes the spooled runs up.
            Store *store = s->store.get();
            if (store && store->location().engine == Location::Engine::Postgres && store->online()
                && store->waiting() > 0) {
                const Store::SyncResult done = store->sync();
                const QString error = done.ok ? QString() : store->errorString();
                QMetaObject::invokeMethod(
                    this, [this, done, error] { emit synced(done.uploaded, done.waiting, error); });
            }
        },
        Qt::QueuedConnection);
}

} // namespace zem::history
