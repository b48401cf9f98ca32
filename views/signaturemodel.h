// The points of a signature as a table: number, name, tolerance, and the
// score and verdict of the last test. Over the signature and session as they
// are stored; it holds no copy.
#pragma once

#include "session.h"

#include <QAbstractTableModel>

class SignatureModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Number, Name, Score, Tolerance, Verdict, Reading, ColumnCount };

    explicit SignatureModel(QObject *parent = nullptr);

    // Shows another signature (and forgets the results shown).
    void setSignature(sig::Signature *signature);
    void setResults(const std::vector<sig::PointResult> *results);
    // Appends a point of that name; false when the name is empty or taken.
    bool appendPoint(const QString &name);
    // The row's cells changed (a reference learned, a verdict reached).
    void pointChanged(int row);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    sig::Signature *signature = nullptr;
    const std::vector<sig::PointResult> *results = nullptr;
};
