#include "commandline.h"
#include "drawnicons.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdlib>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zem_debugger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZEM_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate("main",
        "Drives a ZEM instrument command by command: connect by URL, fill a command's "
        "request, send it and read the decoded response."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("board"),
        QCoreApplication::translate("main", "A signature file to open in the Signatures dock."),
        QStringLiteral("[board]"));
    const QCommandLineOption url(QStringList { QStringLiteral("u"), QStringLiteral("url") },
        QCoreApplication::translate("main", "Connect to the instrument at this URL."),
        QStringLiteral("URL"));
    parser.addOption(url);
    if (answeredWithoutDisplay(parser, argc, argv))
        return EXIT_SUCCESS;

    QApplication app(argc, argv);
    QApplication::setStyle(new DrawnIconsStyle);
    // Qt's own options are gone from the arguments now; anything left over is refused.
    parser.process(app);
    // Where the recent URLs are kept (QSettings).
    QCoreApplication::setOrganizationName(QStringLiteral("zem-tools"));
    MainWindow window;
    window.show();
    if (parser.isSet(url))
        window.connectTo(parser.value(url));
    if (!parser.positionalArguments().isEmpty())
        window.openBoard(parser.positionalArguments().constFirst());
    // Lets start-up be timed as a whole process: quit once the window is up.
    if (qEnvironmentVariable("ZEM_EXIT_AFTER_SHOW") == QLatin1String("1"))
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
