// The upload file for the Federal information fund: 1000 verification runs written and checked
// against the shipped schema (aim: under 2 s), then the same with a 5 MB protocol embedded in each of
// five runs and then of ten, where the base64 is streamed and memory must not grow with the protocols. Prints the
// times and the peak resident memory's growth.

#include "lab/arshinexport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <vector>

namespace {

long PeakKb()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_maxrss;
}

TJournalRun MakeRun(int i)
{
    TJournalRun run;
    run.header.id = QString::number(i);
    run.header.started = QDateTime(QDate(2026, 3, 2).addDays(i % 200), QTime(9, 0));
    run.header.device.factoryNumber = QStringLiteral("QX-%1").arg(i, 6, 10, QLatin1Char('0'));
    run.header.reportData = {{QStringLiteral("Verifier"), QStringLiteral("Петров П. П.")}};
    TInstrumentType type;
    type.typeNumber = QStringLiteral("74910-19");
    type.procedure = QStringLiteral("МП 206.1-123-2019");
    type.intervalMonths = 12;
    run.header.lab.type = type;
    run.header.lab.owner = QStringLiteral("ООО «Энергия» <Юг> & Ко");
    run.header.lab.modification = QStringLiteral("QX4-E");
    run.header.lab.manufactureYear = QStringLiteral("2021");
    run.header.lab.conditions.temperature = 21.5;
    run.header.lab.conditions.pressure = 101.3;
    run.header.lab.conditions.humidity = 55;
    TStandard installation;
    installation.name = QStringLiteral("Установка поверочная KEST-01");
    installation.fundNumber = QStringLiteral("3.1.ZZT.0123.2019");
    TStandard hygrometer;
    hygrometer.name = QStringLiteral("Термогигрометр ИВА-6");
    hygrometer.typeNumber = QStringLiteral("46434-11");
    hygrometer.serial = QStringLiteral("5521");
    hygrometer.kind = TStandardKind::Auxiliary;
    run.header.lab.standards = {installation, hygrometer};
    run.end = TJournalRunEnd(TJournalOutcome::Finished);
    TVerdict verdict;
    verdict.fit = i % 10 != 0;
    if (!verdict.fit)
        verdict.reasons = {QStringLiteral("превышение допускаемой основной погрешности: Ia при 5 A")};
    run.end->verdict = verdict;
    return run;
}

bool Export(const char *what, const QString &path, const std::vector<TJournalRun> &runs, const TArshinOptions &options)
{
    const long before = PeakKb();
    QElapsedTimer timer;
    timer.start();
    QString error;
    const bool ok = WriteArshinFile(path, runs, {QStringLiteral("ГЛБ"), true, false}, options, &error);
    const qint64 ms = timer.elapsed();
    std::printf("%-34s %6lld ms  file %8.1f MB  peak memory +%ld KB%s%s\n", what, static_cast<long long>(ms),
        QFileInfo(path).size() / 1048576.0, PeakKb() - before, ok ? "" : "  FAILED: ", ok ? "" : qPrintable(error));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::vector<TJournalRun> runs;
    for (int i = 1; i <= 1000; ++i)
        runs.push_back(MakeRun(i));

    bool ok = Export("1000 runs", dir.filePath(QStringLiteral("runs.xml")), runs, TArshinOptions());

    // Written a piece at a time, so that the bench itself never holds a protocol.
    TArshinOptions options;
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    for (int p = 0; p < 10; ++p) {
        const QString path = dir.filePath(QStringLiteral("протокол %1.pdf").arg(p));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (int k = 0; k < 80; ++k) {
            for (int b = 0; b < piece.size(); ++b)
                piece[b] = char((b * 31 + k * 7 + p) & 0xff);
            file.write(piece);
        }
        options.protocols[QString::number(1 + p * 100)] = path;
        if (p == 4)
            ok = Export("1000 runs, 5 protocols of 5 MB", dir.filePath(QStringLiteral("five.xml")), runs, options)
                && ok;
    }
    ok = Export("1000 runs, 10 protocols of 5 MB", dir.filePath(QStringLiteral("ten.xml")), runs, options) && ok;
    return ok ? 0 : 1;
}
