// The one schema of the history, for SQLite and PostgreSQL alike, and the
// forward migrations that bring any older database up to it.
#pragma once

#include <QString>

class QSqlDatabase;

namespace zem::history::schema {

// The version this build writes; schema_version holds a database's own.
inline constexpr int kVersion = 4;

// The database's version: 0 when it has no schema yet, -1 with *error when it
// cannot be read.
int version(QSqlDatabase &db, QString *error);

// Applies every step between the database's version and kVersion, each in the
// transaction that records it, so two programs opening a new database at once
// create it once. A database written by a newer build is refused. A lower
// target stops at that version, to make older databases for the tests.
bool migrate(QSqlDatabase &db, bool postgres, QString *error, int target = kVersion);

} // namespace zem::history::schema
