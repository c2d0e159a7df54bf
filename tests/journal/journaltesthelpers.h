#pragma once
// Shared by the journal's tests, its helper program and its benchmark: runs and points made from a
// number (so that a process that journalled point k and the test that reads it back agree on every
// cell), a field-by-field comparison, and a PostgreSQL server of its own for the server tests.

#include "journal/journal.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace KestJournalTest {

// A run header with `tabs` tabs of `rows` points each (RS tabs, the last one analog when tabs > 1),
// planned tab after tab.
TJournalRunHeader SampleHeader(int tabs = 2, int rows = 6, const QString &deviceNumber = QStringLiteral("151234"));
// Point k (1-based) of that plan, every field made from k: the transducer missing on every fifth
// point ("/---/---"), a NaN installation value on every seventh, an error over its limit on every
// third, analog currents on the analog tab.
TJournalPoint SamplePoint(int k, const TJournalRunHeader &header);
TJournalTuningHeader SampleTuningHeader(const QString &factoryNumber = QStringLiteral("151234"));
TJournalReadback SampleReadback(int k);

// Empty when equal, otherwise what differs (doubles compared bit for bit).
QString Difference(const TJournalPoint &expected, const TJournalPoint &got);
QString Difference(const TJournalRunHeader &expected, const TJournalRunHeader &got);

// A PostgreSQL cluster in a temporary folder, on a unix socket only, started by
// tests/journal/pg_fixture.sh (as the postgres user when run as root). A watchdog stops it when
// this process is gone, whatever way it ends.
class TPgServer {
public:
    static TPgServer &Instance();
    // Starts the cluster once per process; false with the reason in Error().
    bool Start();
    void Stop();
    bool Pause(); // the server stopped (fast shutdown): clients lose their connections
    bool Resume();
    const QString &Error() const { return error_; }
    const QString &Folder() const { return folder_; }
    // A fresh database on the server, and a connection to it as the superuser.
    TJournalConnection NewDatabase();
    // The role "kest" that logs in with the password kPassword only.
    static constexpr const char *kPasswordUser = "kest";
    static constexpr const char *kPassword = "kest-secret-1";

private:
    bool Script(const QStringList &arguments);
    bool started_ = false;
    bool paused_ = false;
    bool failedToStart_ = false;
    QString folder_;
    QString error_;
    int databases_ = 0;
};

} // namespace KestJournalTest
