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
        std::fputs(qPrintable(help), stdout);
        return true;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    return false;
}
