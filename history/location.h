// Where the history lives: a SQLite file or a PostgreSQL server, from the
// text a user gives (ZEM_DB, a command-line option, a settings field).
//
//   sqlite:PATH                 a SQLite file
//   PATH.sqlite                 the same, for any path ending in .sqlite
//   postgresql://user@host:port/db?sslmode=require   a libpq URI (also postgres://)
//   postgresql:///db?host=/run/postgresql            over a Unix socket
//   postgresql://host/db?timeout=30   a statement or lock that waits longer
//                                     than 30 s fails (default 10 s)
//
// Passwords are never taken from the text: a URI with one is refused, and
// libpq finds it itself (~/.pgpass, PGPASSFILE, a service file).
#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace zem::history {

struct Location
{
    enum class Engine { Sqlite, Postgres };

    Engine engine = Engine::Sqlite;
    QString path; // SQLite: the file
    QString host; // PostgreSQL: name, address or socket directory; empty: libpq's default
    int port = -1; // -1: libpq's default
    QString user; // empty: libpq's default
    QString database; // empty: libpq's default
    // Further libpq parameters, in the order given, e.g. {"sslmode", "require"}.
    std::vector<std::pair<QString, QString>> options;
    // PostgreSQL: how long a statement, or its wait for a lock, may take.
    int timeoutMs = kDefaultTimeoutMs;
    static constexpr int kDefaultTimeoutMs = 10'000;

    // The text that parses back to this location.
    QString text() const;
    bool operator==(const Location &o) const;
    bool operator!=(const Location &o) const { return !(*this == o); }
};

// The location the text names, or nothing with the reason in *error.
std::optional<Location> parseLocation(const QString &text, QString *error);

// $XDG_DATA_HOME/zem-tools, or ~/.local/share/zem-tools.
QString dataDirectory();
// ZEM_DB when set, else sqlite:<dataDirectory>/history.sqlite.
QString defaultLocationText();
// Where runs wait while the server cannot be reached: <dataDirectory>/spool.sqlite.
QString defaultSpoolPath();

// Whether writing to path would overwrite the history at where or the
// spool: a SQLite file or its -wal, -journal and -shm, the same file by
// inode when it exists, else by absolute path.
bool isHistoryFile(
    const QString &path, const Location &where, const QString &spoolPath = defaultSpoolPath());

} // namespace zem::history
