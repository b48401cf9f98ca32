#pragma once

#include "logline.h"

#include <QFile>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>

class QPushButton;
class base_io_widget;

namespace Ui {
class iopanel;
}

// The page of one device command: request and response fields, Send, and
// periodic repetition that records every response in "<command>.log".
class iopanel : public QWidget
{
    Q_OBJECT

public:
    explicit iopanel(QWidget *parent = nullptr, const QString &name = QString());
    ~iopanel() override;

    void AddRequest(base_io_widget *w);
    void AddResponse(base_io_widget *w);
    void ShowGetter();

    QString GetName() const { return name; }
    int GetRequestCount() const { return int(requests.size()); }
    int GetResponseCount() const { return int(responses.size()); }
    base_io_widget *GetRequest(int i) const { return requests.at(i); }
    base_io_widget *GetResponse(int i) const { return responses.at(i); }
    bool isPeriodic() const { return timer.isActive(); }

    QPushButton *sendButton = nullptr;
    QPushButton *getterButton = nullptr;

signals:
    // Something the user must learn about periodic logging, for the event log.
    void logMessage(const QString &message, LogLevel level);

public slots:
    void PeriodicButtonClicked();
    void PeriodicUpdate();

private:
    void writeLogLine(const QByteArray &line);

    QString name;
    Ui::iopanel *ui = nullptr;
    QTimer timer;
    QVector<base_io_widget *> requests;
    QVector<base_io_widget *> responses;
    QFile logFile;
};
