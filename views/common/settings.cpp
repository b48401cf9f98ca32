#include "settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

namespace {

const char kRecentUrlsKey[] = "recentUrls";
const char kRecentSignaturesKey[] = "recentSignatures";
const char kGeometryKey[] = "window/geometry";
const char kLayoutKey[] = "window/docks";
const char kLikelyFirstKey[] = "signatures/likelyFirst";
const char kOnContactKey[] = "signatures/measureOnContact";
const char kMeasureKeyKey[] = "signatures/measureKey";
const char kKeepHistoryKey[] = "signatures/keepHistory";
const char kHistoryLocationKey[] = "historyLocation";
const char kOperatorKey[] = "operator";
const char kProberKey[] = "proberUrl";

QVariant read(const char *key, const QVariant &fallback = QVariant())
{
    return Settings::kept() ? QSettings().value(QLatin1String(key), fallback) : fallback;
}

void write(const char *key, const QVariant &value)
{
    if (Settings::kept())
        QSettings().setValue(QLatin1String(key), value);
}

} // namespace

bool Settings::kept()
{
    return !QCoreApplication::organizationName().isEmpty();
}

QStringList Settings::recentUrls() const
{
    return read(kRecentUrlsKey).toStringList().mid(0, kRecentUrls);
}

void Settings::setRecentUrls(const QStringList &urls)
{
    write(kRecentUrlsKey, urls.mid(0, kRecentUrls));
}

QStringList Settings::recentSignatures() const
{
    return read(kRecentSignaturesKey).toStringList();
}

void Settings::noteSignature(const QString &path)
{
    QStringList files = recentSignatures();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    files.removeAll(absolute);
    files.prepend(absolute);
    write(kRecentSignaturesKey, files.mid(0, kRecentSignatures));
}

QByteArray Settings::windowGeometry() const
{
    return read(kGeometryKey).toByteArray();
}

QByteArray Settings::dockLayout() const
{
    return read(kLayoutKey).toByteArray();
}

void Settings::setWindow(const QByteArray &geometry, const QByteArray &docks)
{
    write(kGeometryKey, geometry);
    write(kLayoutKey, docks);
}

bool Settings::likelyFaultsFirst(bool fallback) const
{
    return read(kLikelyFirstKey, fallback).toBool();
}

void Settings::setLikelyFaultsFirst(bool on)
{
    write(kLikelyFirstKey, on);
}

bool Settings::measureOnContact() const
{
    return read(kOnContactKey, false).toBool();
}

void Settings::setMeasureOnContact(bool on)
{
    write(kOnContactKey, on);
}

QString Settings::measureKey() const
{
    return read(kMeasureKeyKey, QStringLiteral("F9")).toString();
}

void Settings::setMeasureKey(const QString &key)
{
    write(kMeasureKeyKey, key);
}

bool Settings::keepTestRuns(bool fallback) const
{
    return read(kKeepHistoryKey, fallback).toBool();
}

void Settings::setKeepTestRuns(bool on)
{
    write(kKeepHistoryKey, on);
}

QString Settings::historyLocation() const
{
    return read(kHistoryLocationKey).toString();
}

void Settings::setHistoryLocation(const QString &text)
{
    write(kHistoryLocationKey, text);
}

QString Settings::proberUrl() const
{
    return read(kProberKey).toString();
}

void Settings::setProberUrl(const QString &url)
{
    write(kProberKey, url);
}

QString Settings::operatorName() const
{
    return read(kOperatorKey).toString();
}

void Settings::setOperatorName(const QString &name)
{
    write(kOperatorKey, name);
}
