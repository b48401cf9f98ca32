#include "signature.h"

#include "compare.h"
#include "qatomicfile.h"
#include "readfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace sig {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::Signature", text);
}

} // namespace

std::vector<IvCurve> Measurement::references() const
{
    std::vector<IvCurve> all;
    if (reference)
        all.push_back(*reference);
    all.insert(all.end(), moreBoards.begin(), moreBoards.end());
    return all;
}

void Measurement::addReference(IvCurve curve)
{
    if (!reference) {
        reference = std::move(curve);
        return;
    }
    if (moreBoards.size() + 1 >= kMaxReferences)
        moreBoards.erase(moreBoards.begin());
    moreBoards.push_back(std::move(curve));
}

int Point::boards() const
{
    int fewest = -1;
    for (const Measurement &m : measurements) {
        const int n = m.reference ? 1 + int(m.moreBoards.size()) : 0;
        fewest = fewest < 0 ? n : std::min(fewest, n);
    }
    return std::max(fewest, 0);
}

bool Point::learned() const
{
    for (const Measurement &m : measurements)
        if (!m.reference)
            return false;
    return true;
}

const measurement_settings &Signature::settingsOf(const Point &p, std::size_t k) const
{
    return k < p.measurements.size() && p.measurements[k].settings ? *p.measurements[k].settings
                                                                   : settings;
}

int Signature::find(const QString &name) const
{
    for (std::size_t k = 0; k < points.size(); ++k)
        if (points[k].name == name)
            return int(k);
    return -1;
}

int Point::findVariant(const QString &name) const
{
    for (std::size_t k = 0; k < variants.size(); ++k)
        if (variants[k].name == name)
            return int(k);
    return -1;
}

const char *checkName(Check check)
{
    switch (check) {
    case Check::Info:
        return "info";
    case Check::Skip:
        return "skip";
    case Check::Test:
        break;
    }
    return "test";
}

std::vector<int> Signature::probedPoints() const
{
    std::vector<int> out;
    for (std::size_t k = 0; k < points.size(); ++k)
        if (points[k].check != Check::Skip)
            out.push_back(int(k));
    return out;
}

std::vector<int> Signature::withoutSkipped(std::vector<int> order) const
{
    order.erase(std::remove_if(order.begin(), order.end(),
                    [this](int k) {
                        return k >= 0 && std::size_t(k) < points.size()
                            && points[std::size_t(k)].check == Check::Skip;
                    }),
        order.end());
    return order;
}

int Signature::findFiducial(const QString &name) const
{
    for (std::size_t k = 0; k < fiducials.size(); ++k)
        if (fiducials[k].name == name)
            return int(k);
    return -1;
}

measurement_settings defaultSettings()
{
    measurement_settings s {};
    s.SamplingRate = 10000.0f;
    s.ProbeSignalFrequency = 100.0f;
    s.NumberPoints = 100;
    s.MaxVoltage = 5.0f;
    s.CurrentSensorMode = CURRENT_SENSE_MODE_I_MID;
    s.OutputMode = OUT_MODE_PROBE_SIGNAL_CONTINUOUS;
    return s;
}

QString checkSettings(const measurement_settings &s)
{
    if (!(s.SamplingRate > 0) || !std::isfinite(s.SamplingRate))
        return tr("SamplingRate must be above 0");
    if (!(s.ProbeSignalFrequency > 0) || !(s.ProbeSignalFrequency <= s.SamplingRate / 2))
        return tr("ProbeSignalFrequency must be above 0 and at most half of SamplingRate");
    if (s.NumberPoints < MIN_NUMBER_POINTS || s.NumberPoints > MAX_NUMBER_POINTS)
        return tr("NumberPoints must be %1 to %2").arg(MIN_NUMBER_POINTS).arg(MAX_NUMBER_POINTS);
    if (!(s.MaxVoltage >= 0) || !std::isfinite(s.MaxVoltage))
        return tr("MaxVoltage must be 0 or more");
    if (s.CurrentSensorMode > CURRENT_SENSE_MODE_I_HIGH)
        return tr("CurrentSensorMode must be 0 to 3");
    if (s.OutputMode > OUT_MODE_PROBE_SIGNAL_WITH_GROUNDING)
        return tr("OutputMode must be 0 to 2");
    return QString();
}

std::optional<Signature> load(const QString &path, QString *error)
{
    // Read up to the limit whatever the file is: a device or a pipe says no
    // size and may never end.
    constexpr std::size_t kMaxSize = std::size_t(256) << 20;
    std::string bytes;
    const std::string failure = zem::files::readFile(
        QFile::encodeName(path).toStdString(), kMaxSize, "a signature file", bytes);
    if (!failure.empty()) {
        if (error)
            *error = QString::fromLocal8Bit(failure.c_str());
        return std::nullopt;
    }
    QString why;
    auto sig = parse(QByteArray::fromStdString(bytes), &why);
    if (!sig && error)
        *error = tr("%1: %2").arg(path, why);
    return sig;
}

bool save(const Signature &sig, const QString &path, QString *error)
{
    const QString failure = zem::files::writeFile(path, serialize(sig));
    if (!failure.isEmpty() && error)
        *error = tr("cannot write %1: %2").arg(path, failure);
    return failure.isEmpty();
}

QStringList splitNames(const QString &text)
{
    QStringList names;
    for (const QString &n : text.split(QRegularExpression(QStringLiteral("[,;\\n\\r\\t]"))))
        if (!n.trimmed().isEmpty())
            names << n.trimmed();
    return names;
}

QString checkPointName(const QString &name)
{
    // Most names are printable ASCII, known without a character table.
    if (std::all_of(name.begin(), name.end(),
            [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; }))
        return {};
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return tr("\"%1\" has a control character (U+%2) in it")
                .arg(QString(name).replace(c, QLatin1Char('?')).left(60))
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return {};
}

} // namespace sig
