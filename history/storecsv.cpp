// The runs of a filter as CSV.
#include "store.h"

#include "csvwriter.h"
#include "sqlhelpers.h"

#include <QIODevice>

namespace zem::history {

using detail::uuidText;

namespace {

QString isoTime(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

bool Store::exportCsv(const RunFilter &filter, QIODevice *out)
{
    if (!out || !out->isWritable())
        return fail(QStringLiteral("nowhere to write the CSV to"));
    const std::optional<std::vector<RunSummary>> list = runs(filter);
    if (!list)
        return false;
    zem::files::CsvWriter csv;
    csv.line("uuid,started,finished,board_type,board_serial,station,operator,verdict,"
             "signature,boards,points,failed_points");
    const auto write = [&] {
        const std::string text = csv.take();
        return out->write(text.data(), qint64(text.size())) == qint64(text.size())
            || fail(QStringLiteral("cannot write the CSV: %1").arg(out->errorString()));
    };
    for (const RunSummary &s : *list) {
        const Run &r = s.run;
        // Serials, stations and operators are typed by people: texts, never formulas.
        const QStringList texts { uuidText(r.uuid), isoTime(r.started), isoTime(r.finished),
            r.boardType, r.boardSerial, r.station, r.operatorName, r.verdict, r.signature };
        for (const QString &f : texts)
            csv.field(f.toStdString());
        csv.integer(r.boards).integer(s.pointCount).integer(s.failedCount).endRow();
        if (csv.size() > (1 << 16) && !write())
            return false;
    }
    return write();
}

} // namespace zem::history
