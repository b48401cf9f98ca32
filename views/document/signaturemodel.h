// The points of a signature as a table: number, name, verdict and score of
// the last test, tolerance, reading. Over the signature and results as they
// are stored; it holds no copy. Every edit of the points goes through it, so
// that the table and the board's picture follow; the dock's undo commands
// call it.
#pragma once

#include "session.h"

#include <QAbstractTableModel>

#include <optional>

class SignatureModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Number, Name, Verdict, Score, Tolerance, Reading, ColumnCount };

    explicit SignatureModel(QObject *parent = nullptr);

    // Shows another signature (and forgets the results shown).
    void setSignature(sig::Signature *signature);
    const sig::Signature *signature() const { return m_signature; }
    // The results, one per point, kept in step with the points' edits.
    void setResults(std::vector<sig::PointResult> *results);
    // The verdict of the last test, NotTested without one.
    sig::Verdict verdictOf(int row) const;

    void insertPoint(int row, sig::Point point, sig::PointResult result = {});
    std::pair<sig::Point, sig::PointResult> takePoint(int row);
    // Moves the point at `from` so that it ends up at `to`.
    void movePoint(int from, int to);
    void renamePoint(int row, const QString &name);
    void setPosition(int row, std::optional<QPointF> at);
    // The point's position on the board, in mm.
    void setBoardPosition(int row, std::optional<QPointF> mm);
    void setFiducials(std::vector<sig::Fiducial> fiducials);
    void setMeasurement(int row, std::size_t measurement, sig::Measurement value);
    // Every reference of a point at once, and the models they were
    // predicted with (empty: learned from a board).
    void setReferences(int row, std::vector<sig::Measurement> measurements, QString predictedBy);
    void setPicture(std::optional<sig::Picture> picture);
    // The board's points, outline and parts at once (a CAD import); the
    // results of the last test no longer match them and are dropped.
    void setBoard(
        std::vector<sig::Point> points, std::vector<QPointF> outline, std::vector<sig::Part> parts);
    // Whether the name could be given to the point at `row`.
    bool nameIsFree(const QString &name, int row = -1) const;
    // The row's cells changed (a reference learned, a verdict reached).
    void pointChanged(int row);
    // Whether names may be edited and rows dragged (not during a run).
    void setEditable(bool editable) { m_editable = editable; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
        const QModelIndex &parent) override;

signals:
    // The user asked for an edit; the dock makes it an undoable command.
    void renameRequested(int row, const QString &name);
    void moveRequested(int from, int to);
    void pictureChanged();
    // A point's position on the picture (or on the board) changed.
    void positionChanged(int row);
    // The fiducials changed, and with them how the picture maps to the board.
    void fiducialsChanged();

private:
    bool resultsInStep() const;

    sig::Signature *m_signature = nullptr;
    std::vector<sig::PointResult> *m_results = nullptr;
    bool m_editable = true;
};
