// A pseudo-terminal serving the controller to serial-port clients: its slave
// path is symlinked where they look for the port.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace gantry {

class Pty : public QObject
{
    Q_OBJECT
public:
    explicit Pty(QObject *parent = nullptr);
    ~Pty() override;

    // Opens the terminal and links `link` to its slave; false with a reason.
    bool open(const QString &link, QString *error);
    void write(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);

private:
    void read();

    int master_ = -1;
    int slave_ = -1; // kept open, so the master never reads a hang-up between clients
    QString link_;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace gantry
