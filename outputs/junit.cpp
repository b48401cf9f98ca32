#include "junit.h"

#include "netcheck.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QXmlStreamWriter>

#include <algorithm>
#include <iterator>

namespace sig {

namespace {

// The one mapping from verdicts to JUnit. Unstable is a failure, not a
// skip: the board was probed and did not hold still, which a retest must
// clear; a CI summary that hid it among skips would let it pass unseen.
// Not learned is a skip: the signature, not the board, lacks the point.
struct Mapping
{
    Verdict verdict;
    JUnitOutcome outcome;
};
constexpr Mapping kMappings[] = {
    { Verdict::Pass, JUnitOutcome::Passed },
    { Verdict::Different, JUnitOutcome::Failure },
    { Verdict::NoContact, JUnitOutcome::Failure },
    { Verdict::Unstable, JUnitOutcome::Failure },
    { Verdict::NetDisagrees, JUnitOutcome::Failure },
    { Verdict::NotLearned, JUnitOutcome::Skipped },
    { Verdict::NotTested, JUnitOutcome::Skipped },
};

// XML 1.0 has no place for most control characters (a point's name can
// hold any, from its JSON): they become U+FFFD rather than a file no
// consumer parses.
QString clean(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool control = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
        const bool surrogate = QChar::isSurrogate(c)
            && !(QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            && !(QChar::isLowSurrogate(c) && i > 0 && text[i - 1].isHighSurrogate());
        if (control || surrogate || c == 0xfffe || c == 0xffff)
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

struct Counts
{
    int failures = 0, skipped = 0, errors = 0;

    void add(const JUnitSuite &suite)
    {
        for (const JUnitCase &c : suite.cases) {
            const JUnitOutcome o = junitOutcome(c);
            failures += o == JUnitOutcome::Failure;
            skipped += o == JUnitOutcome::Skipped;
            errors += o == JUnitOutcome::Error;
        }
    }
    void write(QXmlStreamWriter &xml) const
    {
        xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    }
};

double suiteSeconds(const JUnitSuite &s)
{
    const RunHeader &h = s.header;
    return h.started.isValid() && h.finished.isValid()
        ? double(h.started.msecsTo(h.finished)) / 1000
        : 0;
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString seconds(double s)
{
    return number(std::max(0.0, s), 3);
}

// "different: open circuit": the verdict for machines, then why.
QString message(const JUnitCase &c)
{
    if (!c.error.isEmpty())
        return c.error;
    if (c.verdict == Verdict::NotTested && !c.note.isEmpty())
        return c.note;
    QString text = QString::fromLatin1(verdictName(c.verdict));
    if (text.isEmpty())
        text = QStringLiteral("not_tested");
    const QString why = !c.cause.isEmpty() ? c.cause : c.reading;
    return why.isEmpty() ? text : text + QStringLiteral(": ") + why;
}

QString details(const JUnitCase &c)
{
    QString body = std::isnan(c.score) ? QStringLiteral("score -")
                                       : QStringLiteral("score %1 %").arg(number(c.score, 2));
    body += QStringLiteral(", tolerance %1 %\n").arg(QString::number(c.tolerance));
    if (!c.cause.isEmpty())
        body += QStringLiteral("cause: %1\n").arg(c.cause);
    if (!c.reading.isEmpty())
        body += QStringLiteral("reading: %1\n").arg(c.reading);
    return body;
}

void writeSuite(QXmlStreamWriter &xml, const JUnitSuite &s, int id)
{
    const RunHeader &h = s.header;
    Counts counts;
    counts.add(s);
    const QString station = h.station.isEmpty() ? QSysInfo::machineHostName() : h.station;
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("id"), QString::number(id));
    xml.writeAttribute(QStringLiteral("name"),
        clean(h.serial.isEmpty() ? h.boardType : h.boardType + QLatin1Char(' ') + h.serial));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(s.cases.size()));
    counts.write(xml);
    xml.writeAttribute(QStringLiteral("time"), seconds(suiteSeconds(s)));
    // JUnit's timestamp has no zone: it is UTC here, as the history keeps it.
    xml.writeAttribute(QStringLiteral("timestamp"),
        h.started.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    xml.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());

    xml.writeStartElement(QStringLiteral("properties"));
    const std::pair<const char *, QString> properties[] = { { "serial", h.serial },
        { "operator", h.operatorName }, { "station", station }, { "board_type", h.boardType },
        { "device_url", h.deviceUrl }, { "instrument_serial", h.instrumentSerial } };
    for (const auto &[name, value] : properties) {
        xml.writeStartElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), QLatin1String(name));
        xml.writeAttribute(QStringLiteral("value"), clean(value));
        xml.writeEndElement();
    }
    xml.writeEndElement();

    for (const JUnitCase &c : s.cases) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), clean(h.boardType));
        xml.writeAttribute(QStringLiteral("name"), clean(c.point));
        xml.writeAttribute(QStringLiteral("time"), seconds(c.seconds));
        const JUnitOutcome o = junitOutcome(c);
        if (o != JUnitOutcome::Passed) {
            xml.writeStartElement(QLatin1String(o == JUnitOutcome::Failure ? "failure"
                    : o == JUnitOutcome::Skipped                           ? "skipped"
                                                                           : "error"));
            xml.writeAttribute(QStringLiteral("message"), clean(message(c)));
            if (o != JUnitOutcome::Skipped) {
                const char *name = !c.error.isEmpty() ? "run_stopped" : verdictName(c.verdict);
                xml.writeAttribute(
                    QStringLiteral("type"), QLatin1String(*name ? name : "not_tested"));
                xml.writeCharacters(clean(details(c)));
            }
            xml.writeEndElement();
        } else if (!c.note.isEmpty()) {
            xml.writeTextElement(QStringLiteral("system-out"),
                clean(c.note + QStringLiteral(": ") + message(c) + QLatin1Char('\n')));
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

} // namespace

JUnitOutcome junitOutcome(Verdict verdict)
{
    const auto m = std::find_if(std::begin(kMappings), std::end(kMappings),
        [&](const Mapping &m) { return m.verdict == verdict; });
    // A verdict without a row is shown, not hidden among the passes.
    return m == std::end(kMappings) ? JUnitOutcome::Error : m->outcome;
}

JUnitOutcome junitOutcome(const JUnitCase &c)
{
    if (!c.error.isEmpty())
        return JUnitOutcome::Error;
    // A point for information is reported, never failed.
    const JUnitOutcome o = junitOutcome(c.verdict);
    return c.info && o == JUnitOutcome::Failure ? JUnitOutcome::Passed : o;
}

JUnitSuite junitSuite(const RunRecord &record)
{
    const Signature &signature = record.signature;
    const std::vector<PointResult> &results = record.results;
    const Coverage &coverage = record.coverage;
    JUnitSuite suite;
    suite.header = record.header;
    const auto caseOf = [&](std::size_t at) {
        const Point &p = signature.points[at];
        JUnitCase c;
        c.point = p.name;
        c.tolerance = signature.toleranceOf(p);
        c.seconds = at < record.seconds.size() ? record.seconds[at] : 0;
        return c;
    };
    std::vector<char> listed(signature.points.size(), 0);
    for (int k : record.order) {
        const std::size_t at = std::size_t(k);
        if (at >= signature.points.size() || listed[at])
            continue;
        listed[at] = 1;
        JUnitCase c = caseOf(at);
        if (at < results.size() && results[at].verdict != Verdict::NotTested) {
            const PointResult &r = results[at];
            c.verdict = r.verdict;
            c.score = r.score;
            if (r.cause)
                c.cause = r.cause->text();
            else if (r.verdict == Verdict::NetDisagrees)
                c.cause = netDisagreementText(signature, signature.points[at], r.netPoints);
            c.reading = r.reading.text();
            c.note = resultMarks(r);
            c.info = r.info;
        } else if (coverage.failed && k == coverage.stoppedAt) {
            c.error = coverage.stopReason;
        } else {
            c.note = coverage.stopReason.isEmpty()
                ? QCoreApplication::translate("sig::JUnit", "not tested: not in this run")
                : QCoreApplication::translate("sig::JUnit", "not tested: the run stopped (%1)")
                      .arg(coverage.stopReason);
        }
        suite.cases.push_back(std::move(c));
    }
    // A point of the board the run was not asked for (a subset, a resumed
    // run) is a skip: a CI summary counts every point of the board.
    for (int k : coverage.untested)
        if (!listed[std::size_t(k)]) {
            listed[std::size_t(k)] = 1;
            JUnitCase c = caseOf(std::size_t(k));
            c.note = QCoreApplication::translate("sig::JUnit", "not tested: not in this run");
            suite.cases.push_back(std::move(c));
        }
    for (std::size_t at = 0; at < signature.points.size(); ++at)
        if (signature.points[at].check == Check::Skip && !listed[at]) {
            JUnitCase c = caseOf(at);
            c.seconds = 0;
            c.note = skippedText();
            suite.cases.push_back(std::move(c));
        }
    return suite;
}

QByteArray junitXml(const std::vector<JUnitSuite> &suites)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    std::size_t tests = 0;
    double time = 0;
    Counts counts;
    for (const JUnitSuite &s : suites) {
        tests += s.cases.size();
        counts.add(s);
        time += suiteSeconds(s);
    }
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    counts.write(xml);
    xml.writeAttribute(QStringLiteral("time"), seconds(time));
    for (std::size_t k = 0; k < suites.size(); ++k)
        writeSuite(xml, suites[k], int(k));
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

} // namespace sig
