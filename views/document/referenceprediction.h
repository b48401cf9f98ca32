// A document's references predicted from its board's parts, for the
// Signatures dock and the bench: simulated off the GUI thread (a board of
// 500 parts takes most of a second), then applied as one undoable edit, and
// only to the board it was asked for: a board opened, or any edit made,
// while it runs drops the result.
#pragma once

#include "references.h"
#include "signature.h"

#include <QObject>

#include <atomic>
#include <memory>

class SignatureDocument;
template <typename T> class QFutureWatcher;

class ReferencePrediction : public QObject
{
    Q_OBJECT

public:
    explicit ReferencePrediction(SignatureDocument &document, QObject *parent = nullptr);
    // A prediction still running is stopped, and waited for.
    ~ReferencePrediction() override;

    bool isRunning() const;
    // The open board has parts to predict from, and no prediction runs.
    bool canStart() const;
    // Starts predicting the open board; false, and nothing else happens,
    // when it cannot start.
    bool start(predict::PredictRequest request = {});
    // A run began: the prediction stops, and nothing of it is applied.
    void cancel();

    struct Outcome
    {
        sig::Signature board; // as the prediction left it
        predict::PredictReport report;
    };

signals:
    void runningChanged(bool running);
    // What came of it, for the status line: how many points were predicted,
    // the parts left open and each point not predicted with its reason.
    void finished(const QString &status);

private:
    void done();

    SignatureDocument &m_document;
    QFutureWatcher<Outcome> *m_watcher;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_running = false; // until its outcome is taken
    bool m_stale = false; // the document changed since the prediction started
};

// The outcome of a prediction for people, in one line.
QString predictionStatus(const predict::PredictReport &report);
