#pragma once
// The journal's tables and their history. A journal records its schema version in journal_meta; on
// opening, every step from the version found up to kCurrentVersion runs, each in its own transaction,
// so a journal of any earlier program is carried forward and never rebuilt. A journal whose version
// is above kCurrentVersion belongs to a newer program and is left untouched.
//
// The same statements serve SQLite and PostgreSQL; only the binary type differs (BLOB / BYTEA).
// All tables are prefixed "journal_", so a server database may hold other things beside them.

#include <QSqlDatabase>
#include <QString>

enum class TJournalDialect { SQLite, PostgreSQL };

namespace KestJournalSchema {

inline constexpr int kCurrentVersion = 4;

// The version recorded in the database: 0 when it has no journal tables yet; -1 when it cannot be
// read (`error` says why).
int ReadVersion(QSqlDatabase &db, QString &error);

// Runs the steps after `from` up to and including `to`. False, with the database at the last step
// that succeeded, when one fails.
bool Upgrade(QSqlDatabase &db, TJournalDialect dialect, int from, int to, QString &error);

} // namespace KestJournalSchema
