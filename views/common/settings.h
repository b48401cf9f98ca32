// Everything the window keeps between sessions, in one place: each key once,
// each value typed. Only a program that names its organisation keeps
// anything; tests and figures read the defaults and write nothing.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class Settings
{
public:
    // Whether values last beyond this process.
    static bool kept();

    static constexpr int kRecentUrls = 10;
    static constexpr int kRecentSignatures = 8;

    QStringList recentUrls() const;
    void setRecentUrls(const QStringList &urls);

    // Signature files, newest first; `path` is made absolute and moved to the front.
    QStringList recentSignatures() const;
    void noteSignature(const QString &path);

    QByteArray windowGeometry() const;
    QByteArray dockLayout() const;
    void setWindow(const QByteArray &geometry, const QByteArray &docks);

    // The Signatures dock's station choices.
    bool likelyFaultsFirst(bool fallback) const;
    void setLikelyFaultsFirst(bool on);
    bool keepTestRuns(bool fallback) const;
    void setKeepTestRuns(bool on);
    bool measureOnContact() const;
    void setMeasureOnContact(bool on);
    // The key that measures wherever the focus is, as a foot switch types
    // it ("F9" unless chosen otherwise).
    QString measureKey() const;
    void setMeasureKey(const QString &key);

    // Who works at the station: the bench's operator field.
    QString operatorName() const;
    void setOperatorName(const QString &name);

    // The Prober panel's machine URL; empty when none was kept.
    QString proberUrl() const;
    void setProberUrl(const QString &url);

    // The History dock's location field; empty when none was kept.
    QString historyLocation() const;
    void setHistoryLocation(const QString &text);
};
