#include "location.h"

#include "samefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <cctype>

#include <sys/stat.h>

namespace zem::history {

namespace {

// The libpq parameters a URI may carry besides host, port, user and dbname.
// Anything that holds a secret is left out on purpose.
const QStringList kOptions = { "application_name", "connect_timeout", "gssencmode", "hostaddr",
    "keepalives", "keepalives_count", "keepalives_idle", "keepalives_interval", "options",
    "passfile", "service", "sslcert", "sslcrl", "sslkey", "sslmode", "sslrootcert",
    "target_session_attrs", "tcp_user_timeout" };

// Strict percent-decoding: a bad escape or a NUL is refused, as libpq does.
std::optional<QString> decode(const QString &text, const QString &what, QString *error)
{
    const QByteArray in = text.toUtf8();
    QByteArray out;
    for (qsizetype k = 0; k < in.size(); ++k) {
        if (in[k] != '%') {
            out += in[k];
            continue;
        }
        const QByteArray hex = in.mid(k + 1, 2);
        const bool ok = hex.size() == 2 && std::isxdigit(uchar(hex[0]))
            && std::isxdigit(uchar(hex[1])) && hex != "00";
        if (!ok) {
            *error = QStringLiteral("bad percent escape in the %1").arg(what);
            return std::nullopt;
        }
        out += QByteArray::fromHex(hex);
        k += 2;
    }
    return QString::fromUtf8(out);
}

QString encode(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

bool parsePort(const QString &text, int *port, QString *error)
{
    bool ok = false;
    const int p = text.toInt(&ok);
    if (!ok || p < 1 || p > 65535 || text.startsWith('+')) {
        *error = QStringLiteral("'%1' is no port (1 to 65535)").arg(text);
        return false;
    }
    *port = p;
    return true;
}

bool setParameter(Location &l, const QString &key, const QString &value, QString *error)
{
    if (key == QLatin1String("password") || key == QLatin1String("sslpassword")) {
        *error = QStringLiteral("a password in the URI is refused: put it in ~/.pgpass "
                                "or the file PGPASSFILE names");
        return false;
    }
    if (value.contains(';')) {
        // The Qt driver would take it for a separator between parameters.
        *error = QStringLiteral("'%1' may not contain ';'").arg(key);
        return false;
    }
    if (key == QLatin1String("host"))
        l.host = value;
    else if (key == QLatin1String("port"))
        return parsePort(value, &l.port, error);
    else if (key == QLatin1String("user"))
        l.user = value;
    else if (key == QLatin1String("dbname"))
        l.database = value;
    else if (key == QLatin1String("timeout")) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!ok || !(seconds >= 0.001 && seconds <= 86400)) {
            *error = QStringLiteral("timeout '%1' is no number of seconds (0.001 to 86400)")
                         .arg(value);
            return false;
        }
        l.timeoutMs = qRound(seconds * 1000);
    } else if (kOptions.contains(key))
        l.options.emplace_back(key, value);
    else {
        *error = QStringLiteral("unknown parameter '%1'").arg(key);
        return false;
    }
    return true;
}

std::optional<Location> parseUri(const QString &rest, QString *error)
{
    Location l;
    l.engine = Location::Engine::Postgres;
    QString main = rest, query;
    if (const qsizetype q = rest.indexOf('?'); q >= 0) {
        main = rest.left(q);
        query = rest.mid(q + 1);
    }
    QString authority = main;
    if (const qsizetype slash = main.indexOf('/'); slash >= 0) {
        authority = main.left(slash);
        const auto db = decode(main.mid(slash + 1), QStringLiteral("database name"), error);
        if (!db)
            return std::nullopt;
        l.database = *db;
    }
    if (const qsizetype at = authority.lastIndexOf('@'); at >= 0) {
        const QString userinfo = authority.left(at);
        authority = authority.mid(at + 1);
        if (userinfo.contains(':')) {
            *error = QStringLiteral("a password in the URI is refused: put it in ~/.pgpass "
                                    "or the file PGPASSFILE names");
            return std::nullopt;
        }
        const auto user = decode(userinfo, QStringLiteral("user name"), error);
        if (!user)
            return std::nullopt;
        l.user = *user;
    }
    if (authority.contains(',')) {
        *error = QStringLiteral("several hosts are not supported");
        return std::nullopt;
    }
    QString host = authority;
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        const QString after = close < 0 ? QString() : authority.mid(close + 1);
        if (close < 2 || (!after.isEmpty() && !after.startsWith(':'))) {
            *error = QStringLiteral("bad IPv6 address '%1'").arg(authority);
            return std::nullopt;
        }
        host = authority.mid(1, close - 1);
        if (!after.isEmpty() && !parsePort(after.mid(1), &l.port, error))
            return std::nullopt;
    } else {
        if (const qsizetype colon = authority.indexOf(':'); colon >= 0) {
            host = authority.left(colon);
            if (!parsePort(authority.mid(colon + 1), &l.port, error))
                return std::nullopt;
        }
        const auto h = decode(host, QStringLiteral("host"), error);
        if (!h)
            return std::nullopt;
        host = *h;
    }
    l.host = host;
    if (l.host.contains(';') || l.user.contains(';') || l.database.contains(';')) {
        *error = QStringLiteral("host, user and database name may not contain ';'");
        return std::nullopt;
    }
    if (query.isEmpty())
        return l;
    for (const QString &pair : query.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq <= 0) {
            *error = QStringLiteral("'%1' is no key=value parameter").arg(pair);
            return std::nullopt;
        }
        const auto key = decode(pair.left(eq), QStringLiteral("parameter name"), error);
        const auto value = key ? decode(pair.mid(eq + 1), *key, error) : std::nullopt;
        if (!value || !setParameter(l, *key, *value, error))
            return std::nullopt;
    }
    return l;
}

} // namespace

QString Location::text() const
{
    if (engine == Engine::Sqlite)
        return QStringLiteral("sqlite:") + path;
    QString t = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        t += encode(user) + '@';
    QStringList query;
    // Anything but a plain host name (a socket directory, an IPv6 address)
    // goes in the query, where it needs no brackets.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._-]+$"));
    if (plain.match(host).hasMatch())
        t += host;
    else if (!host.isEmpty())
        query << QStringLiteral("host=") + encode(host);
    if (port != -1)
        t += ':' + QString::number(port);
    t += '/' + encode(database);
    for (const auto &[key, value] : options)
        query << key + '=' + encode(value);
    if (timeoutMs != kDefaultTimeoutMs)
        query << QStringLiteral("timeout=") + QString::number(timeoutMs / 1000.0, 'g', 10);
    if (!query.isEmpty())
        t += '?' + query.join('&');
    return t;
}

bool Location::operator==(const Location &o) const
{
    return engine == o.engine && path == o.path && host == o.host && port == o.port
        && user == o.user && database == o.database && options == o.options
        && timeoutMs == o.timeoutMs;
}

std::optional<Location> parseLocation(const QString &text, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    error->clear();
    if (text.contains(QChar(0))) {
        *error = QStringLiteral("the location contains a NUL character");
        return std::nullopt;
    }
    for (const char *scheme : { "postgresql://", "postgres://" }) {
        if (text.startsWith(QLatin1String(scheme)))
            return parseUri(text.mid(qsizetype(qstrlen(scheme))), error);
    }
    Location l;
    if (text.startsWith(QLatin1String("sqlite:")))
        l.path = text.mid(7);
    else if (text.endsWith(QLatin1String(".sqlite")))
        l.path = text;
    if (l.path.isEmpty()) {
        *error = QStringLiteral("'%1' is no history database: give sqlite:PATH, a path ending "
                                "in .sqlite or postgresql://user@host:port/database")
                     .arg(text);
        return std::nullopt;
    }
    return l;
}

QString dataDirectory()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // Relative values are to be ignored, as the base directory rules say.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/zem-tools");
}

QString defaultLocationText()
{
    const QString fromEnvironment = qEnvironmentVariable("ZEM_DB");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStringLiteral("sqlite:") + dataDirectory() + QStringLiteral("/history.sqlite");
}

QString defaultSpoolPath()
{
    return dataDirectory() + QStringLiteral("/spool.sqlite");
}

using files::sameFile;

bool isHistoryFile(const QString &path, const Location &where, const QString &spoolPath)
{
    QStringList files { spoolPath };
    if (where.engine == Location::Engine::Sqlite)
        files << where.path;
    for (const QString &file : files)
        for (const char *suffix : { "", "-wal", "-journal", "-shm" })
            if (!file.isEmpty() && sameFile(path, file + QLatin1String(suffix)))
                return true;
    return false;
}

} // namespace zem::history
