// kestctl arshin-export / arshin-status: the upload file for the Federal information fund written from the
// journal, and what the laboratory's cabinet answered, recorded beside each run.
#include "kestctl_lab.h"

#include "config/configcontroller.h"
#include "journal/journal.h"
#include "lab/arshinjournal.h"
#include "lab/labconfig.h"
#include "verification/run/runjournal.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <stdexcept>

const char *const kKestctlArshinHelp = R"(
Выгрузка в ФГИС «Аршин» (файл для модуля «Поверка» личного кабинета; подпись и отправка — в кабинете):
  kestctl arshin-export [--from dd.MM.yyyy] [--to dd.MM.yyyy] [--run ID]... [--unsent] [--with-protocol]
          --out FILE.xml
                             законченные поверки из журнала (без --run, --from, --to — все ещё не выгруженные),
                             проверенные по схеме формата; поверки, которым чего-то не хватает, перечисляются
                             с причинами и в файл не входят; --with-protocol — протокол PDF каждой поверки
                             внутри файла. Коды: 0 — файл записан, 1 — не записан, 2 — неверная команда
  kestctl arshin-status --run ID (--record NUMBER | --rejected TEXT)
                             ответ кабинета: номер записи в ФИФ или текст отказа (записывается как изменение
                             после поверки)
)";

namespace {

struct TArshinUsage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const QString kExported = QStringLiteral("arshin/exported");

QDate Day(const QString &option, const QString &text)
{
    const QDate date = QDate::fromString(text.trimmed(), QStringLiteral("dd.MM.yyyy"));
    if (!date.isValid())
        throw TArshinUsage(QStringLiteral("%1: дата в виде дд.ММ.гггг, а не «%2»").arg(option, text).toStdString());
    return date;
}

QString Who()
{
    const QString user = QString::fromLocal8Bit(qgetenv("USER")).trimmed();
    return user.isEmpty() ? QStringLiteral("kestctl") : user;
}

bool Exported(const TJournalRun &run)
{
    return std::any_of(
        run.amendments.begin(), run.amendments.end(), [](const TAmendment &a) { return a.field == kExported; });
}

int Export(const QStringList &words, TJournal &journal, TConfigController &store, QTextStream &out, QTextStream &err)
{
    QDate from, to;
    QStringList ids;
    bool unsent = false, withProtocol = false;
    QString file;
    for (int i = 0; i < words.size(); ++i) {
        const QString &w = words[i];
        auto next = [&]() -> QString {
            if (i + 1 >= words.size())
                throw TArshinUsage(QStringLiteral("%1: нужно значение").arg(w).toStdString());
            return words[++i];
        };
        if (w == QLatin1String("--from"))
            from = Day(w, next());
        else if (w == QLatin1String("--to"))
            to = Day(w, next());
        else if (w == QLatin1String("--run"))
            ids << next().trimmed();
        else if (w == QLatin1String("--unsent"))
            unsent = true;
        else if (w == QLatin1String("--with-protocol"))
            withProtocol = true;
        else if (w == QLatin1String("--out"))
            file = next();
        else
            throw TArshinUsage(QStringLiteral("неизвестный параметр %1").arg(w).toStdString());
    }
    if (file.isEmpty())
        throw TArshinUsage("нужен --out FILE.xml");
    if (from.isValid() && to.isValid() && to < from)
        throw TArshinUsage("--to раньше --from");
    // Without a choice: every verification not exported yet.
    if (ids.isEmpty() && !from.isValid() && !to.isValid())
        unsent = true;

    std::vector<TJournalRun> runs;
    if (!ids.isEmpty()) {
        for (const QString &id : ids) {
            std::optional<TJournalRun> run = journal.LoadRun(id);
            if (!run) {
                err << QStringLiteral("Поверка %1 не найдена в журнале%2\n")
                           .arg(id,
                               journal.LastReadError().isEmpty() ? QString()
                                                                 : QStringLiteral(": ") + journal.LastReadError());
                return 1;
            }
            runs.push_back(std::move(*run));
        }
    } else {
        TJournalFilter filter;
        filter.kind = TJournalRunKind::Verification;
        filter.notExported = unsent;
        if (from.isValid())
            filter.from = QDateTime(from, QTime(0, 0));
        if (to.isValid())
            filter.to = QDateTime(to.addDays(1), QTime(0, 0));
        const std::vector<TJournalRunSummary> listed = journal.ListRuns(filter);
        if (!journal.LastReadError().isEmpty()) {
            err << QStringLiteral("Журнал не прочитан: ") << journal.LastReadError() << '\n';
            return 1;
        }
        // Oldest first, as they were verified.
        for (auto it = listed.rbegin(); it != listed.rend(); ++it)
            if (it->outcome == TJournalOutcome::Finished)
                if (std::optional<TJournalRun> run = journal.LoadRun(it->id))
                    runs.push_back(std::move(*run));
    }
    if (unsent)
        runs.erase(std::remove_if(runs.begin(), runs.end(), Exported), runs.end());
    if (runs.empty()) {
        err << QStringLiteral("Нет поверок для выгрузки\n");
        return 1;
    }

    TArshinOptions options;
    QTemporaryDir protocols;
    if (withProtocol) {
        const TArshinLab lab = ArshinLabOf(TLabConfig(&store));
        for (const TJournalRun &run : runs) {
            if (!ArshinMissing(run, lab).isEmpty())
                continue; // left out of the file anyway, and said so below
            // A folder per run: two runs of one device keep a protocol each under the same name.
            const QString pdf = protocols.filePath(run.header.id
                + QStringLiteral("/Протокол %1.pdf")
                      .arg(run.header.DeviceNumber().isEmpty() ? run.header.id : run.header.DeviceNumber()));
            QString why;
            if (!QDir().mkpath(QFileInfo(pdf).absolutePath())
                || !KestRunJournal::ProducePdfProtocol(&store, run, pdf, &why)) {
                err << QStringLiteral("Протокол поверки %1 не записан: %2\n").arg(run.header.id, why);
                return 1;
            }
            options.protocols[run.header.id] = pdf;
        }
    }
    const TArshinExportResult result = ExportRunsToArshin(journal, &store, runs, file, options, Who());
    const QStringList lines = result.Text(file).split(QLatin1Char('\n'));
    // What was written on the standard output, what was left out (and why) on the standard error.
    for (int k = 0; k < lines.size(); ++k)
        (k == 0 && result.written ? out : err) << lines[k] << '\n';
    return result.written ? 0 : 1;
}

int Status(const QStringList &words, TJournal &journal, QTextStream &out, QTextStream &err)
{
    QString id, record, rejected;
    for (int i = 0; i < words.size(); ++i) {
        const QString &w = words[i];
        if (i + 1 >= words.size())
            throw TArshinUsage(QStringLiteral("%1: нужно значение").arg(w).toStdString());
        if (w == QLatin1String("--run"))
            id = words[++i].trimmed();
        else if (w == QLatin1String("--record"))
            record = words[++i].trimmed();
        else if (w == QLatin1String("--rejected"))
            rejected = words[++i].trimmed();
        else
            throw TArshinUsage(QStringLiteral("неизвестный параметр %1").arg(w).toStdString());
    }
    if (id.isEmpty() || record.isEmpty() == rejected.isEmpty())
        throw TArshinUsage("нужны --run ID и одно из --record NUMBER, --rejected TEXT");
    TAmendment a;
    a.who = Who();
    a.field = record.isEmpty() ? QStringLiteral("arshin/rejected") : QStringLiteral("arshin/record");
    a.newValue = record.isEmpty() ? rejected : QStringLiteral("принято, № записи ") + record;
    a.reason = QStringLiteral("ответ ФГИС «Аршин»");
    if (!journal.AddAmendment(id, a)) {
        err << QStringLiteral("Не записано: ") << journal.LastError() << '\n';
        return 1;
    }
    out << id << '\t' << a.newValue << '\n';
    return 0;
}

} // namespace

int KestctlArshin(
    const QStringList &args, TJournal &journal, TConfigController &store, QTextStream &out, QTextStream &err)
{
    try {
        if (args.value(0) == QLatin1String("arshin-export"))
            return Export(args.mid(1), journal, store, out, err);
        if (args.value(0) == QLatin1String("arshin-status"))
            return Status(args.mid(1), journal, out, err);
        throw TArshinUsage("нужна команда arshin-export или arshin-status");
    } catch (const TArshinUsage &e) {
        err << QStringLiteral("kestctl %1: %2\nСправка: kestctl --help\n")
                   .arg(args.value(0), QString::fromUtf8(e.what()));
        return 2;
    }
}
