#include "benchwindow.h"
#include "commandline.h"
#include "drawnicons.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdlib>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zem_bench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZEM_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate("main",
        "Tests boards against their signatures on a ZEM instrument: open the board, scan its "
        "serial, probe each point and read the board's verdict. F1 lists the keys."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("board"),
        QCoreApplication::translate("main", "A signature file to open."), QStringLiteral("[board]"));
    const QCommandLineOption url(QStringList { QStringLiteral("u"), QStringLiteral("url") },
        QCoreApplication::translate("main", "Connect to the instrument at this URL."),
        QStringLiteral("URL"));
    parser.addOption(url);
    if (answeredWithoutDisplay(parser, argc, argv))
        return EXIT_SUCCESS;

    QApplication app(argc, argv);
    QApplication::setStyle(new DrawnIconsStyle);
    parser.process(app);
    QCoreApplication::setOrganizationName(QStringLiteral("zem-tools"));
    BenchWindow window;
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
