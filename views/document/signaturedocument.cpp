#include "signaturedocument.h"

#include "runoutputs.h"

#include "signatureedits.h"
#include "signaturemodel.h"

#include "board.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QUndoStack>
#include <QtConcurrent/QtConcurrentRun>

SignatureDocument::SignatureDocument(QObject *parent)
    : QObject(parent)
    , m_model(new SignatureModel(this))
    , m_undo(new QUndoStack(this))
{
    m_board.settings = sig::defaultSettings();
    m_model->setSignature(&m_board);
}

SignatureDocument::~SignatureDocument()
{
    // The table's widgets outlive the signature they show: an editor still
    // open commits when it is closed, after the members are gone.
    m_model->setSignature(nullptr);
}

bool SignatureDocument::isModified() const
{
    return m_nameEdited || !m_undo->isClean();
}

void SignatureDocument::setBoardName(const QString &name)
{
    m_board.board = name;
    m_nameEdited = true;
}

void SignatureDocument::clear()
{
    sig::Signature empty;
    empty.settings = sig::defaultSettings();
    take(QString(), std::move(empty), QString());
}

bool SignatureDocument::open(const QString &file)
{
    QString error;
    auto loaded = sig::load(file, &error);
    return take(file, std::move(loaded), error);
}

void SignatureDocument::openInBackground(const QString &file)
{
    struct Loaded
    {
        std::optional<sig::Signature> signature;
        QString error;
    };
    auto *watcher = new QFutureWatcher<Loaded>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, file] {
        watcher->deleteLater();
        Loaded loaded = watcher->result();
        emit opened(take(file, std::move(loaded.signature), loaded.error));
    });
    watcher->setFuture(QtConcurrent::run([file] {
        Loaded loaded;
        loaded.signature = sig::load(file, &loaded.error);
        return loaded;
    }));
}

bool SignatureDocument::take(
    const QString &file, std::optional<sig::Signature> loaded, const QString &error)
{
    if (!loaded)
        return fail(error);
    emit aboutToReplace();
    m_model->setResults(nullptr);
    m_board = std::move(*loaded);
    m_path = file;
    m_nameEdited = false;
    m_undo->clear();
    m_model->setSignature(&m_board);
    emit replaced();
    if (!file.isEmpty())
        emit fileUsed(file);
    return true;
}

bool SignatureDocument::save(const QString &file)
{
    QString error;
    if (!sig::writeSignature(
            m_board, file, m_kept ? m_kept() : std::vector<sig::KeptFile>(), &error))
        return fail(error);
    m_path = file;
    m_nameEdited = false;
    m_undo->setClean();
    emit fileUsed(file);
    return true;
}

bool SignatureDocument::writeReport(const QString &file, const sig::RunRecord &record)
{
    std::vector<sig::KeptFile> kept = m_kept ? m_kept() : std::vector<sig::KeptFile>();
    if (!m_path.isEmpty())
        kept.push_back({ sig::KeptFile::Kind::File, m_path, tr("the signature") });
    QString error;
    return sig::writeReport(record, file, kept, &error) || fail(error);
}

int SignatureDocument::addPoints(const QString &names, QStringList *taken)
{
    std::vector<std::pair<int, sig::Point>> points;
    QStringList added;
    for (const QString &name : sig::splitNames(names)) {
        if (m_model->nameIsFree(name) && !added.contains(name)) {
            sig::Point p;
            p.name = name;
            points.emplace_back(m_model->rowCount() + int(points.size()), std::move(p));
            added << name;
        } else if (taken) {
            *taken << name;
        }
    }
    if (!points.empty())
        m_undo->push(new edits::InsertPoints(
            *m_model, std::move(points), tr("Add %1").arg(added.join(QStringLiteral(", ")))));
    return int(added.size());
}

int SignatureDocument::addComponent(const QString &component, int pins, QStringList *taken)
{
    const QStringList names = sig::pinNames(component, pins);
    QStringList used;
    for (const QString &n : names)
        if (!m_model->nameIsFree(n))
            used << n;
    if (taken)
        *taken = used;
    if (!used.isEmpty() || pins < 1)
        return 0;
    std::vector<std::pair<int, sig::Point>> points;
    for (const QString &n : names) {
        sig::Point p;
        p.name = n;
        p.component = component;
        points.emplace_back(m_model->rowCount() + int(points.size()), std::move(p));
    }
    m_undo->push(new edits::InsertPoints(
        *m_model, std::move(points), tr("Add %1 (%n pins)", nullptr, pins).arg(component)));
    return pins;
}

bool SignatureDocument::setPicture(const QString &file)
{
    QString why;
    auto picture = sig::readPicture(file, &why);
    if (!picture)
        return fail(why);
    m_undo->push(new edits::SetPicture(*m_model, std::move(picture)));
    return true;
}

void SignatureDocument::learn(int point, const sig::Point &learned)
{
    const sig::Point &p = m_board.points[std::size_t(point)];
    if (learned.measurements.size() != p.measurements.size())
        return;
    m_undo->beginMacro(tr("Learn %1").arg(p.name));
    for (std::size_t m = 0; m < p.measurements.size(); ++m)
        m_undo->push(new edits::Learn(*m_model, point, m, learned.measurements[m]));
    m_undo->endMacro();
}

bool SignatureDocument::fail(const QString &error)
{
    m_error = error;
    return false;
}
