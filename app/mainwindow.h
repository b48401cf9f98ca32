#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>

class Container;
class QLineEdit;
class QListWidget;
class QTimer;

namespace Ui {
class MainWindow;
}

// The frame of the debugger: URL and search fields, the command browser, the
// event log. Owns the device handle and closes it on destruction.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Appends "hh:mm:ss: message" to the log; the newest line is scrolled into
    // view once control returns to the event loop.
    void AddLog(const QString &message);

    Container *container() const { return browser; }
    std::int32_t deviceHandle() const { return device; }

public slots:
    void connectButton();
    void dconnectButton();
    void SearchSlot(const QString &str);
    void GetProfileSlot();
    void SetProfileSlot();

private:
    QListWidget *log = nullptr;
    Container *browser = nullptr;
    QLineEdit *urlEdit = nullptr;
    std::int32_t device = -1;
    Ui::MainWindow *ui = nullptr;
    QTimer *logScroll = nullptr;
};
