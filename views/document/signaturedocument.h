// The open signature as a document: the points and references, the file it
// came from, whether it has unsaved changes, and the undo stack of its edits.
// No widgets: the dock, the board editor and the run controller share it.
// Every file operation returns false with the reason in errorString().
#pragma once

#include "outputguard.h"
#include "runrecord.h"

#include <QObject>

#include <functional>
#include <optional>

class SignatureModel;
class QUndoStack;

class SignatureDocument : public QObject
{
    Q_OBJECT

public:
    explicit SignatureDocument(QObject *parent = nullptr);
    ~SignatureDocument() override;

    sig::Signature &signature() { return m_board; }
    const sig::Signature &signature() const { return m_board; }
    SignatureModel *model() const { return m_model; }
    QUndoStack *undoStack() const { return m_undo; }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    bool isModified() const;
    void setBoardName(const QString &name);

    // An empty signature with the default settings.
    void clear();
    bool open(const QString &file);
    // The file read and checked on another thread (a photo makes it
    // megabytes); opened() tells the outcome.
    void openInBackground(const QString &file);
    // Never over a kept file (see setKeptFiles), nor a report over the
    // signature's own file.
    bool save(const QString &file);
    bool writeReport(const QString &file, const sig::RunRecord &record);
    // What the board and its reports may never be written over, asked at
    // every write: the history in use.
    void setKeptFiles(std::function<std::vector<sig::KeptFile>()> kept)
    {
        m_kept = std::move(kept);
    }

    // Adds the names (comma or line separated) as one undoable edit; returns
    // how many were added, and the names already there in `taken`.
    int addPoints(const QString &names, QStringList *taken = nullptr);
    // Adds the pins of a component, "U1.1" to "U1.<pins>"; 0 when a name is taken.
    int addComponent(const QString &component, int pins, QStringList *taken = nullptr);
    bool setPicture(const QString &file);
    // Stores the references a Learn took for one point, as one undoable edit.
    void learn(int point, const sig::Point &learned);

signals:
    // Emitted before the signature is replaced (open, clear): whoever holds
    // a reference into it lets go now.
    void aboutToReplace();
    // The signature was replaced.
    void replaced();
    void opened(bool ok);
    // A file was opened or saved, for the recent files.
    void fileUsed(const QString &path);

private:
    bool take(const QString &file, std::optional<sig::Signature> loaded, const QString &error);
    bool fail(const QString &error);

    sig::Signature m_board;
    QString m_path;
    QString m_error;
    bool m_nameEdited = false; // the board's name; the points' edits are on the undo stack
    SignatureModel *m_model;
    QUndoStack *m_undo;
    std::function<std::vector<sig::KeptFile>()> m_kept;
};
