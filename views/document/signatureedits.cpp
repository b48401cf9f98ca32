#include "signatureedits.h"

#include "signaturemodel.h"

#include <QCoreApplication>

#include <algorithm>

namespace edits {
namespace {

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("SignaturesDock", text, nullptr, n);
}

const sig::Point &pointAt(const SignatureModel &model, int row)
{
    return model.signature()->points[std::size_t(row)];
}

} // namespace

InsertPoints::InsertPoints(
    SignatureModel &model, std::vector<std::pair<int, sig::Point>> points, const QString &text)
    : QUndoCommand(text)
    , m_model(model)
    , m_points(std::move(points))
{
}

void InsertPoints::redo()
{
    for (const auto &[row, point] : m_points)
        m_model.insertPoint(row, point);
}

void InsertPoints::undo()
{
    for (auto it = m_points.rbegin(); it != m_points.rend(); ++it)
        m_model.takePoint(it->first);
}

DeletePoints::DeletePoints(SignatureModel &model, std::vector<int> rows)
    : QUndoCommand(tr("Delete %n point(s)", int(rows.size())))
    , m_model(model)
    , m_rows(std::move(rows))
{
    std::sort(m_rows.begin(), m_rows.end());
}

void DeletePoints::redo()
{
    m_taken.clear();
    for (auto it = m_rows.rbegin(); it != m_rows.rend(); ++it)
        m_taken.push_back(m_model.takePoint(*it));
    std::reverse(m_taken.begin(), m_taken.end());
}

void DeletePoints::undo()
{
    for (std::size_t k = 0; k < m_rows.size(); ++k)
        m_model.insertPoint(m_rows[k], std::move(m_taken[k].first), std::move(m_taken[k].second));
    m_taken.clear();
}

MovePoint::MovePoint(SignatureModel &model, int from, int to)
    : QUndoCommand(tr("Move %1").arg(pointAt(model, from).name))
    , m_model(model)
    , m_from(from)
    , m_to(to)
{
}

void MovePoint::redo()
{
    m_model.movePoint(m_from, m_to);
}

void MovePoint::undo()
{
    m_model.movePoint(m_to, m_from);
}

RenamePoint::RenamePoint(SignatureModel &model, int row, const QString &name)
    : QUndoCommand(tr("Rename %1 to %2").arg(pointAt(model, row).name, name))
    , m_model(model)
    , m_row(row)
    , m_old(pointAt(model, row).name)
    , m_new(name)
{
}

void RenamePoint::redo()
{
    m_model.renamePoint(m_row, m_new);
}

void RenamePoint::undo()
{
    m_model.renamePoint(m_row, m_old);
}

PlacePoints::PlacePoints(SignatureModel &model,
    std::vector<std::pair<int, std::optional<QPointF>>> places, const QString &text,
    const std::optional<sig::Registration> &registered)
    : QUndoCommand(text)
    , m_model(model)
    , m_new(std::move(places))
{
    for (const auto &[row, at] : m_new) {
        const sig::Point &p = pointAt(model, row);
        m_old.emplace_back(row, p.at);
        m_oldMm.push_back(p.mm);
        m_newMm.push_back(registered && at ? registered->toMm.map(*at) : p.mm);
    }
}

void PlacePoints::redo()
{
    for (std::size_t k = 0; k < m_new.size(); ++k) {
        m_model.setPosition(m_new[k].first, m_new[k].second);
        if (m_newMm[k] != m_oldMm[k])
            m_model.setBoardPosition(m_new[k].first, m_newMm[k]);
    }
}

void PlacePoints::undo()
{
    for (std::size_t k = 0; k < m_old.size(); ++k) {
        m_model.setPosition(m_old[k].first, m_old[k].second);
        if (m_newMm[k] != m_oldMm[k])
            m_model.setBoardPosition(m_old[k].first, m_oldMm[k]);
    }
}

SetFiducials::SetFiducials(
    SignatureModel &model, std::vector<sig::Fiducial> fiducials, const QString &text)
    : QUndoCommand(text)
    , m_model(model)
    , m_old(model.signature()->fiducials)
    , m_new(std::move(fiducials))
{
}

void SetFiducials::redo()
{
    m_model.setFiducials(m_new);
}

void SetFiducials::undo()
{
    m_model.setFiducials(m_old);
}

Learn::Learn(SignatureModel &model, int row, std::size_t measurement, sig::Measurement learned)
    : QUndoCommand(tr("Learn %1").arg(pointAt(model, row).name))
    , m_model(model)
    , m_row(row)
    , m_measurement(measurement)
    , m_old(pointAt(model, row).measurements[measurement])
    , m_new(std::move(learned))
{
}

void Learn::redo()
{
    m_model.setMeasurement(m_row, m_measurement, m_new);
}

void Learn::undo()
{
    m_model.setMeasurement(m_row, m_measurement, m_old);
}

SetPicture::SetPicture(SignatureModel &model, std::optional<sig::Picture> picture)
    : QUndoCommand(picture ? tr("Set the picture") : tr("Remove the picture"))
    , m_model(model)
    , m_old(model.signature()->image)
    , m_new(std::move(picture))
{
}

void SetPicture::redo()
{
    m_model.setPicture(m_new);
}

void SetPicture::undo()
{
    m_model.setPicture(m_old);
}

ImportBoard::ImportBoard(SignatureModel &model, const sig::Signature &imported, const QString &text)
    : QUndoCommand(text)
    , m_model(model)
    , m_oldPoints(model.signature()->points)
    , m_newPoints(imported.points)
    , m_oldOutline(model.signature()->outline)
    , m_newOutline(imported.outline)
    , m_oldParts(model.signature()->parts)
    , m_newParts(imported.parts)
{
}

void ImportBoard::redo()
{
    m_model.setBoard(m_newPoints, m_newOutline, m_newParts);
}

void ImportBoard::undo()
{
    m_model.setBoard(m_oldPoints, m_oldOutline, m_oldParts);
}

PredictReferences::PredictReferences(SignatureModel &model, const sig::Signature &predicted,
    std::vector<int> rows, const QString &text)
    : QUndoCommand(text)
    , m_model(model)
{
    const auto &points = model.signature()->points;
    for (int row : rows) {
        const std::size_t k = std::size_t(row);
        if (row < 0 || k >= points.size() || k >= predicted.points.size())
            continue;
        m_rows.push_back(row);
        m_old.push_back({ points[k].measurements, points[k].predictedBy });
        m_new.push_back({ predicted.points[k].measurements, predicted.points[k].predictedBy });
    }
}

void PredictReferences::redo()
{
    for (std::size_t k = 0; k < m_rows.size(); ++k)
        m_model.setReferences(m_rows[k], m_new[k].measurements, m_new[k].predictedBy);
}

void PredictReferences::undo()
{
    for (std::size_t k = 0; k < m_rows.size(); ++k)
        m_model.setReferences(m_rows[k], m_old[k].measurements, m_old[k].predictedBy);
}

} // namespace edits
