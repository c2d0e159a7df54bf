#pragma once
// Where the journal lives, from the settings (section "Journal"):
//   Driver       "QSQLITE" (default): the file journal.sqlite in the application-data folder;
//                "QPSQL": a PostgreSQL server shared by the benches of a lab
//   File         another file for the SQLite journal (default empty)
//   Host, Port   the server (Port default "5432"; Host empty: libpq's default, the local socket)
//   Database     default "kestmanager"
//   User         default empty: libpq's default (the login name)
//   PasswordFile a file holding only the password, readable by its owner alone (default empty: the
//                file journal.password in the application-data folder when it exists, otherwise
//                none, and libpq takes it from ~/.pgpass or PGPASSFILE)
// The password itself is never in Settings.txt.

#include "config/typedsettings.h"
#include "journal/journalstore.h"

#include <QString>
#include <QStringList>

#include <optional>

class TJournalConfig : public TTypedSettings {
public:
    explicit TJournalConfig(TConfigController *config) : TTypedSettings(config) { }

    QString ReadDriver() const;
    void WriteDriver(const QString &value);
    QString ReadFile() const;
    void WriteFile(const QString &value);
    QString ReadHost() const;
    void WriteHost(const QString &value);
    QString ReadPort() const;
    void WritePort(const QString &value);
    QString ReadDatabase() const;
    void WriteDatabase(const QString &value);
    QString ReadUser() const;
    void WriteUser(const QString &value);
    QString ReadPasswordFile() const;
    void WritePasswordFile(const QString &value);
};

struct TJournalOptions {
    QString localFile; // the journal file of a SQLite journal
    std::optional<TJournalConnection> server; // a PostgreSQL journal
    QString bufferFile; // where a server journal keeps what the server has not taken yet
    int retrySeconds = 30; // how often an absent server is tried again
    bool checkIntegrity = true; // check the file's pages when opening it
    QStringList notices; // problems met while reading the settings, told when the journal opens

    // journal.sqlite and journal-buffer.sqlite in `folder` (the application-data folder when empty).
    static TJournalOptions Local(const QString &folder = QString());
    static TJournalOptions FromSettings(TConfigController *settings, const QString &appDataFolder = QString());
    // QStandardPaths::AppDataLocation (~/.local/share/Valtrix/KestManager).
    static QString DefaultFolder();
};

// The password from a file: its first line. Nothing when the file does not exist; nothing and a
// reason in `problem` when it cannot be read or others than its owner may read it.
std::optional<QString> ReadJournalPassword(const QString &path, QString &problem);
