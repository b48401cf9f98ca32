#include "mainwindow.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Where the recent URLs are kept (QSettings).
    QCoreApplication::setOrganizationName(QStringLiteral("zem-tools"));
    QCoreApplication::setApplicationName(QStringLiteral("zem_debugger"));
    MainWindow window;
    window.show();
    // Lets start-up be timed as a whole process: quit once the window is up.
    if (qEnvironmentVariable("ZEM_EXIT_AFTER_SHOW") == QLatin1String("1"))
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
