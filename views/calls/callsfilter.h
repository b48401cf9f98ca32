// Narrows the calls table: by command name (a substring, any case) and to
// failed calls only. Reads the calls directly, so filtering 100,000 calls
// does not build a text per cell.
#pragma once

#include <QSortFilterProxyModel>

class CallsModel;

class CallsFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit CallsFilter(QObject *parent = nullptr);

    void setCommandText(const QString &text);
    void setErrorsOnly(bool on);
    bool errorsOnly() const { return failedOnly; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    const CallsModel *calls() const;

    QString command;
    bool failedOnly = false;
};
