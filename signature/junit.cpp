#include "junit.h"

#include "netcheck.h"

#include "qatomicfile.h"

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
    return s.started.isValid() && s.finished.isValid()
        ? double(s.started.msecsTo(s.finished)) / 1000
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

void writeSuite(QXmlStreamWriter &xml, const JUnitSuite &suite, int id)
{
    Counts counts;
    counts.add(suite);
    const QString station = suite.station.isEmpty() ? QSysInfo::machineHostName() : suite.station;
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("id"), QString::number(id));
    xml.writeAttribute(QStringLiteral("name"),
        clean(suite.serial.isEmpty() ? suite.boardType
                                     : suite.boardType + QLatin1Char(' ') + suite.serial));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(suite.cases.size()));
    counts.write(xml);
    xml.writeAttribute(QStringLiteral("time"), seconds(suiteSeconds(suite)));
    // JUnit's timestamp has no zone: it is UTC here, as the history keeps it.
    xml.writeAttribute(QStringLiteral("timestamp"),
        suite.started.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    xml.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());

    xml.writeStartElement(QStringLiteral("properties"));
    const std::pair<const char *, QString> properties[]
        = { { "serial", suite.serial }, { "operator", suite.operatorName }, { "station", station },
              { "board_type", suite.boardType }, { "device_url", suite.url },
              { "instrument_serial", suite.instrumentSerial } };
    for (const auto &[name, value] : properties) {
        xml.writeStartElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), QLatin1String(name));
        xml.writeAttribute(QStringLiteral("value"), clean(value));
        xml.writeEndElement();
    }
    xml.writeEndElement();

    for (const JUnitCase &c : suite.cases) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), clean(suite.boardType));
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

std::vector<JUnitCase> junitCases(const Signature &signature,
    const std::vector<PointResult> &results, const std::vector<int> &order,
    const std::vector<double> &seconds)
{
    std::vector<JUnitCase> cases;
    for (int k : order) {
        const std::size_t at = std::size_t(k);
        if (at >= signature.points.size())
            continue;
        const Point &p = signature.points[at];
        JUnitCase c;
        c.point = p.name;
        c.tolerance = signature.toleranceOf(p);
        if (at < results.size() && results[at].verdict != Verdict::NotTested) {
            const PointResult &r = results[at];
            c.verdict = r.verdict;
            c.score = r.score;
            if (r.cause)
                c.cause = r.cause->text();
            else if (r.verdict == Verdict::NetDisagrees)
                c.cause = netDisagreementText(signature, p, r.netPoints);
            c.reading = r.reading.text();
            c.note = resultMarks(r);
            c.info = r.info;
        }
        c.seconds = at < seconds.size() ? seconds[at] : 0;
        cases.push_back(std::move(c));
    }
    // Points marked "skip" are in no run's order, but a CI summary should
    // still count them.
    for (const Point &p : signature.points)
        if (p.check == Check::Skip) {
            JUnitCase c;
            c.point = p.name;
            c.tolerance = signature.toleranceOf(p);
            c.note = skippedText();
            cases.push_back(std::move(c));
        }
    return cases;
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

bool writeJUnit(const std::vector<JUnitSuite> &suites, const QString &path, QString *error)
{
    const QString failure = zem::files::writeFile(path, junitXml(suites));
    if (!failure.isEmpty() && error)
        *error = QStringLiteral("cannot write %1: %2").arg(path, failure);
    return failure.isEmpty();
}

} // namespace sig
