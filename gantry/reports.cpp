#include "reports.h"

#include <cmath>

namespace gantry {

std::optional<QList<QByteArray>> systemReport(
    const QByteArray &command, const Settings &settings, const ParserState &parser)
{
    if (command == "$")
        return QList<QByteArray> {
            "[HLP:$$ $# $G $I $N $x=val $Nx=line $J=line $SLP $C $X $H ~ ! ? ctrl-x]"
        };
    if (command == "$$")
        return settings.listing();
    if (command == "$G")
        return QList<QByteArray> { QByteArray("[GC:G") + (parser.motionMode ? "1" : "0")
            + " G54 G17 " + (parser.inches ? "G20" : "G21") + (parser.absolute ? " G90" : " G91")
            + " G94 M5 M9 T0 F" + QByteArray::number(std::lround(parser.feed)) + " S0]" };
    if (command == "$I")
        return QList<QByteArray> { "[VER:1.1h.20190825:]",
            "[OPT:" + settings.options() + ",15,128]" };
    if (command == "$#") {
        QList<QByteArray> lines;
        for (const char *name : { "G54", "G55", "G56", "G57", "G58", "G59", "G28", "G30", "G92" })
            lines << QByteArray("[") + name + ":0.000,0.000,0.000]";
        return lines << "[TLO:0.000]"
                     << "[PRB:0.000,0.000,0.000:0]";
    }
    if (command == "$N")
        return QList<QByteArray> { "$N0=", "$N1=" };
    return std::nullopt;
}

} // namespace gantry
