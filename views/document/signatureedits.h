// The edits of a signature's points as undoable commands, over the model:
// adding, deleting, renaming, reordering and placing points, the picture, and
// each reference that Learn stores.
#pragma once

#include "registration.h"
#include "session.h"

#include <QUndoCommand>

#include <optional>

class SignatureModel;

namespace edits {

// Inserts points at their rows (ascending); undo removes them.
class InsertPoints : public QUndoCommand
{
public:
    InsertPoints(
        SignatureModel &model, std::vector<std::pair<int, sig::Point>> points, const QString &text);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    std::vector<std::pair<int, sig::Point>> m_points;
};

class DeletePoints : public QUndoCommand
{
public:
    DeletePoints(SignatureModel &model, std::vector<int> rows);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    std::vector<int> m_rows; // ascending
    std::vector<std::pair<sig::Point, sig::PointResult>> m_taken;
};

class MovePoint : public QUndoCommand
{
public:
    MovePoint(SignatureModel &model, int from, int to);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    int m_from, m_to;
};

class RenamePoint : public QUndoCommand
{
public:
    RenamePoint(SignatureModel &model, int row, const QString &name);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    int m_row;
    QString m_old, m_new;
};

// Places (or moves) points on the picture; no position takes one off. On a
// registered picture a point placed gets its position on the board too.
class PlacePoints : public QUndoCommand
{
public:
    PlacePoints(SignatureModel &model, std::vector<std::pair<int, std::optional<QPointF>>> places,
        const QString &text, const std::optional<sig::Registration> &registered = std::nullopt);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    std::vector<std::pair<int, std::optional<QPointF>>> m_new, m_old;
    std::vector<std::optional<QPointF>> m_newMm, m_oldMm; // by entry of m_new
};

// The board's fiducials, all at once (one added, one clicked on the picture).
class SetFiducials : public QUndoCommand
{
public:
    SetFiducials(SignatureModel &model, std::vector<sig::Fiducial> fiducials, const QString &text);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    std::vector<sig::Fiducial> m_old, m_new;
};

// A reference learned for a point's measurement.
class Learn : public QUndoCommand
{
public:
    // What a run learned for one measurement of a point: its references, and
    // its settings when the run chose them.
    Learn(SignatureModel &model, int row, std::size_t measurement, sig::Measurement learned);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    int m_row;
    std::size_t m_measurement;
    sig::Measurement m_old, m_new;
};

class SetPicture : public QUndoCommand
{
public:
    SetPicture(SignatureModel &model, std::optional<sig::Picture> picture);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    std::optional<sig::Picture> m_old, m_new;
};

// A board's CAD imported: its points, outline and parts before and after.
class ImportBoard : public QUndoCommand
{
public:
    ImportBoard(SignatureModel &model, const sig::Signature &imported, const QString &text);
    void redo() override;
    void undo() override;

private:
    SignatureModel &m_model;
    std::vector<sig::Point> m_oldPoints, m_newPoints;
    std::vector<QPointF> m_oldOutline, m_newOutline;
    std::vector<sig::Part> m_oldParts, m_newParts;
};

// References predicted from the board's parts: the rows predicted, their
// references taken from `predicted` (the board as the prediction left it).
class PredictReferences : public QUndoCommand
{
public:
    PredictReferences(SignatureModel &model, const sig::Signature &predicted, std::vector<int> rows,
        const QString &text);
    void redo() override;
    void undo() override;
    // Whether the prediction changed anything.
    bool changes() const { return !m_rows.empty(); }

private:
    struct References
    {
        std::vector<sig::Measurement> measurements;
        QString predictedBy;
    };
    SignatureModel &m_model;
    std::vector<int> m_rows;
    std::vector<References> m_old, m_new; // by entry of m_rows
};

} // namespace edits
