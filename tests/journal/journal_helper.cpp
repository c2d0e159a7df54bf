// A run that journals points the way a verification window does, for the tests that must cut a
// process short or take its disk away. It prints one line per event and flushes it at once:
//   message: <text>            the journal told the user something
//   state: <0|1> <text>        journalling or not, and the journal's state line
//   run <id>                   the run began
//   point <k> durable|held     point k written durably, or kept in memory
//   freed                      the filler file was removed (space came back)
//   waiting                    all points written; waiting to be killed (--hang)
//   buffered <n>               at the end of a server journal's run: runs left in the bench's buffer
//   stored <n>                 at the end: points of the run found when the journal is read again
//
//   journal_helper --folder DIR --points N [--hang] [--filler KB] [--free-after M]
//                  [--remount-ro-after K] [--host SOCKETDIR --database DB --user USER] [--interval MS]

#include "journaltesthelpers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

void Say(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

TJournalOptions OptionsOf(const QCommandLineParser &args)
{
    TJournalOptions o = TJournalOptions::Local(args.value("folder"));
    o.retrySeconds = 0;
    if (args.isSet("host")) {
        TJournalConnection c;
        c.dialect = TJournalDialect::PostgreSQL;
        c.host = args.value("host");
        c.port = 5432;
        c.database = args.value("database");
        c.user = args.value("user");
        o.server = c;
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.addOptions({{"folder", "journal folder", "dir"}, {"points", "points to journal", "n"},
        {"hang", "wait to be killed after the points"}, {"filler", "fill the folder with KB first", "kb"},
        {"free-after", "remove the filler M points after the first failure", "m"},
        {"remount-ro-after", "make the folder read-only after K points", "k"}, {"host", "server socket", "dir"},
        {"database", "server database", "name"}, {"user", "server user", "name"},
        {"interval", "milliseconds between points, as a bench measures them", "ms"}});
    args.process(app);
    const QString folder = args.value("folder");
    const int points = args.value("points").toInt();
    const QString filler = folder + "/filler";
    if (args.isSet("filler")) {
        QFile f(filler);
        if (f.open(QIODevice::WriteOnly)) {
            const QByteArray block(1024, 'f');
            for (int i = 0; i < args.value("filler").toInt(); ++i)
                if (f.write(block) != block.size())
                    break;
        }
    }

    const TJournalOptions options = OptionsOf(args);
    TJournal journal(options);
    journal.SetMessageHandler([](const QString &m) { Say("message: " + m); });
    const auto stateSaid = journal.AddStateListener(
        [](const TJournalState &s) { Say(QString("state: %1 %2").arg(int(s.journalling)).arg(s.Text())); });
    journal.Open();
    const TJournalRunHeader header = KestJournalTest::SampleHeader(2, (points + 1) / 2 + 1);
    const TJournalRunId id = journal.BeginRun(header);
    Say("run " + id);
    int failedAt = 0;
    for (int k = 1; k <= points; ++k) {
        if (args.isSet("remount-ro-after") && k == args.value("remount-ro-after").toInt() + 1) {
            const QByteArray command = "mount -o remount,ro '" + folder.toLocal8Bit() + "'";
            if (std::system(command.constData()) != 0)
                Say("remount failed");
        }
        if (args.isSet("interval")) {
            QElapsedTimer wait;
            wait.start();
            while (wait.elapsed() < args.value("interval").toInt())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        const bool durable = journal.AddPoint(id, KestJournalTest::SamplePoint(k, header));
        Say(QString("point %1 %2").arg(k).arg(durable ? "durable" : "held"));
        if (!durable && failedAt == 0)
            failedAt = k;
        if (failedAt && args.isSet("free-after") && k == failedAt + args.value("free-after").toInt()) {
            QFile::remove(filler);
            Say("freed");
        }
    }
    if (args.isSet("hang")) {
        Say("waiting");
        for (;;)
            ::pause();
    }
    journal.EndRun(id, {TJournalOutcome::Finished});
    journal.Flush();
    // As the program and kestctl end: the server tried once more, what stays buffered said.
    if (options.server)
        Say(QString("buffered %1").arg(journal.FlushBeforeExit(30000)));
    TJournal again(options);
    again.Open();
    const auto run = again.LoadRun(id);
    Say(QString("stored %1").arg(run ? int(run->points.size()) : -1));
    return 0;
}
