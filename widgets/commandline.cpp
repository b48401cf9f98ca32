#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

bool answeredWithoutDisplay(QCommandLineParser &parser, int argc, char **argv)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help"))) {
        // Without an application object Qt cannot name the program in the usage line.
        QString help = parser.helpText();
        help.replace(QLatin1String("<executable_name>"), QCoreApplication::applicationName());
        // What the windows share beyond their options; the manual pages are
        // made from this text.
        help += QCoreApplication::translate("main",
            "\nEnvironment:\n"
            "  ZEM_DB            the test history when none is chosen (sqlite:PATH,\n"
            "                    PATH.sqlite or postgresql://user@host/database)\n"
            "  QT_LOGGING_RULES  zem.calls.debug=true prints every library call with its\n"
            "                    request bytes and result\n"
            "  LD_LIBRARY_PATH   a directory whose libzem.so (a vendor's) is used instead\n"
            "                    of ours\n"
            "\nExit status:\n"
            "  0  the window was closed\n"
            "  1  the command line was wrong\n");
        std::fputs(qPrintable(help), stdout);
        return true;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    return false;
}
