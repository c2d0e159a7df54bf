#include "journaltesthelpers.h"

#include "journal/journalcodec.h"
#include "protocol/numberformat.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <bit>
#include <cmath>
#include <cstdlib>

#include <unistd.h>

namespace KestJournalTest {
namespace {

const QStringList kOutputParams{"Ua", "Ia", "P", "F"};
const int kOutputIndex[] = {piUa, piIa, piP, piFreq};

QString Cell(double kest, std::optional<double> device, double error)
{
    if (!device)
        return FloatToQStr(kest) + QStringLiteral("/---/---");
    return FloatToQStr(kest) + QStringLiteral("       ") + FloatToQStr(*device) + QStringLiteral("       ")
        + FloatToQStr(error) + QStringLiteral("%");
}

bool SameBits(double a, double b)
{
    return std::bit_cast<quint64>(a) == std::bit_cast<quint64>(b);
}

QString Diff(const TJournalValues &a, const TJournalValues &b, const char *what)
{
    for (int i = 0; i < TParameters::kCount; ++i)
        if (!SameBits(a.values[i], b.values[i]) || a.valid[i] != b.valid[i])
            return QStringLiteral("%1[%2]: %3/%4 vs %5/%6")
                .arg(what)
                .arg(i + 1)
                .arg(a.values[i])
                .arg(a.valid[i])
                .arg(b.values[i])
                .arg(b.valid[i]);
    return QString();
}

} // namespace

TJournalRunHeader SampleHeader(int tabs, int rows, const QString &deviceNumber)
{
    TJournalRunHeader h;
    h.configuration = QStringLiteral("QX4");
    h.runMode = QStringLiteral("all");
    h.device.type = QStringLiteral("QX4");
    h.device.factoryNumber = deviceNumber;
    h.device.modification = QStringLiteral("7");
    h.device.coefficients = {5, 5, 100, 100};
    h.device.details = {{"Схема", "4-х"}, {"Аналоговые выходы", "Pa; Pb; Pc"}};
    h.limits = {0.2, 0.05, 0.5, 1.0};
    h.setup.currentRange = QStringLiteral("5A");
    h.setup.voltageRange = QStringLiteral("100 V");
    h.setup.scheme = QStringLiteral("4-x провод.");
    h.setup.options = {{"Нагрузка", "Макс."}, {"АРУ", "0"}, {"Время замера точки (с)", "9"}};
    h.reportData = {{"ProtocolNum", "17/2"}, {"DeviceName", "QX4; \"A\""}, {"DeviceNum", deviceNumber},
        {"Verifier", "Петров П. П."}, {"Conclusion", "годен"}, {"KU1", "100"}};
    for (int t = 0; t < tabs; ++t) {
        TJournalTable table;
        table.tab = t;
        table.title = QStringLiteral("Вкладка %1; ток").arg(t + 1);
        table.rsInterface = !(tabs > 1 && t == tabs - 1);
        table.inputColumnCount = 4;
        table.columnNames = QStringList{"Ток", "Напр.", "Угол", "Частота"} + kOutputParams;
        table.headers = QStringList{"Ток, A", "Напр., V", "Угол, °", "Частота, Hz", "Ua, V", "Ia, A", "P, W", "F, Hz"};
        table.columnWidths = {80, 80, 80, 80, 170, 170, 170, 170};
        for (int r = 1; r <= rows; ++r) {
            QStringList cells{
                FloatToQStr(0.5 * r), QStringLiteral("57,74"), QString::number((r % 4) * 30), QStringLiteral("50")};
            for (int c = 0; c < kOutputParams.size(); ++c)
                cells << QString();
            table.rows.push_back(cells);
            h.planned.push_back({t, r});
        }
        h.tables.push_back(std::move(table));
    }
    return h;
}

TJournalPoint SamplePoint(int k, const TJournalRunHeader &header)
{
    TJournalPoint p;
    const TJournalPointRef ref
        = k >= 1 && k <= int(header.planned.size()) ? header.planned[size_t(k - 1)] : TJournalPointRef{0, k};
    p.tab = ref.tab;
    p.row = ref.row;
    p.time = QDateTime::fromMSecsSinceEpoch(1700000000000LL + 9137LL * k);
    const bool analog = ref.tab < int(header.tables.size()) && !header.tables[size_t(ref.tab)].rsInterface;
    p.input.Ia.value = p.input.Ib.value = p.input.Ic.value = 0.5 * ref.row;
    p.input.Ua.value = p.input.Ub.value = p.input.Uc.value = 57.74;
    p.input.Angle.value = (ref.row % 4) * 30;
    p.input.Freq.value = 50;
    p.input.IsRsInterface = !analog;
    for (int i = 1; i <= TParameters::kCount; ++i) {
        p.installation.values[i - 1] = 57.74 * i / 3.0 + k * 1e-3;
        p.installation.valid[i - 1] = true;
    }
    if (k % 7 == 0) {
        p.installation.values[piQ - 1] = std::nan("");
        p.installation.valid[piQ - 1] = false;
    }
    const bool noDevice = k % 5 == 0;
    if (!noDevice && !analog) {
        TJournalValues d = p.installation;
        for (double &v : d.values)
            v *= 1.0 + 1e-4 * (k % 9);
        p.device = d;
    }
    if (analog)
        p.analog = std::array<double, 3>{4.0 + k * 0.01, 12.0 - k * 0.01, -0.0};
    for (int c = 0; c < kOutputParams.size(); ++c) {
        const int index = kOutputIndex[c];
        const double error = 0.013 * k * (c + 1) - 0.1;
        const bool over = k % 3 == 0 && c == 1;
        if (!noDevice || analog)
            p.errors.push_back({index, over ? 0.25 + k : error, over});
    }
    p.cells = header.tables.empty() || ref.tab >= int(header.tables.size()) || ref.row < 1
            || ref.row > int(header.tables[size_t(ref.tab)].rows.size())
        ? QStringList{FloatToQStr(0.5 * ref.row), "57,74", "0", "50"}
        : header.tables[size_t(ref.tab)].rows[size_t(ref.row - 1)].mid(0, 4);
    p.marks.assign(4, false);
    for (int c = 0; c < kOutputParams.size(); ++c) {
        const double kest = p.installation.Value(kOutputIndex[c]);
        std::optional<double> device;
        if (p.device)
            device = p.device->Value(kOutputIndex[c]);
        else if (p.analog)
            device = (*p.analog)[size_t(c % 3)];
        p.cells << Cell(kest, device, p.errors.empty() ? 0.0 : p.errors[size_t(c)].error);
        p.marks.push_back(!p.errors.empty() && p.errors[size_t(c)].overLimit);
    }
    return p;
}

TJournalTuningHeader SampleTuningHeader(const QString &factoryNumber)
{
    TJournalTuningHeader h;
    h.verifier = QStringLiteral("Сидоров С. С.");
    h.device.type = QStringLiteral("QX4");
    h.device.factoryNumber = factoryNumber;
    h.device.modification = QStringLiteral("3");
    h.device.coefficients = {5, 1, 10000, 100};
    h.settings = {{"Напряжение", "100 V"}, {"Ток", "5A"}, {"Схема", "4-х"}, {"Новый адрес", "100"}};
    return h;
}

TJournalReadback SampleReadback(int k)
{
    TJournalReadback r;
    r.time = QDateTime::fromMSecsSinceEpoch(1700000500000LL + k);
    for (int i = 1; i <= TParameters::kCount; ++i) {
        r.installation.values[i - 1] = 10.0 * i;
        r.installation.valid[i - 1] = true;
        r.device.values[i - 1] = 10.0 * i * (1 + 0.001 * k);
        r.device.valid[i - 1] = i <= 31;
    }
    r.errors = {{piUa, 0.1 * k, k > 2}, {piIa, -0.05 * k, false}};
    r.details = {{"Readback", QString::number(k)}};
    return r;
}

QString Difference(const TJournalPoint &e, const TJournalPoint &g)
{
    if (e.tab != g.tab || e.row != g.row)
        return QStringLiteral("place %1/%2 vs %3/%4").arg(e.tab).arg(e.row).arg(g.tab).arg(g.row);
    if (e.time.toMSecsSinceEpoch() != g.time.toMSecsSinceEpoch())
        return QStringLiteral("time");
    const TParameter *ei[]
        = {&e.input.Ia, &e.input.Ib, &e.input.Ic, &e.input.Ua, &e.input.Ub, &e.input.Uc, &e.input.Angle, &e.input.Freq};
    const TParameter *gi[]
        = {&g.input.Ia, &g.input.Ib, &g.input.Ic, &g.input.Ua, &g.input.Ub, &g.input.Uc, &g.input.Angle, &g.input.Freq};
    for (int i = 0; i < 8; ++i)
        if (!SameBits(ei[i]->value, gi[i]->value))
            return QStringLiteral("input %1").arg(i);
    if (e.input.IsRsInterface != g.input.IsRsInterface)
        return QStringLiteral("IsRsInterface");
    if (QString d = Diff(e.installation, g.installation, "installation"); !d.isEmpty())
        return d;
    if (bool(e.device) != bool(g.device))
        return QStringLiteral("device present %1 vs %2").arg(bool(e.device)).arg(bool(g.device));
    if (e.device)
        if (QString d = Diff(*e.device, *g.device, "device"); !d.isEmpty())
            return d;
    if (bool(e.analog) != bool(g.analog))
        return QStringLiteral("analog present");
    if (e.analog)
        for (size_t i = 0; i < 3; ++i)
            if (!SameBits((*e.analog)[i], (*g.analog)[i]))
                return QStringLiteral("analog %1").arg(i);
    if (e.errors.size() != g.errors.size())
        return QStringLiteral("errors %1 vs %2").arg(e.errors.size()).arg(g.errors.size());
    for (size_t i = 0; i < e.errors.size(); ++i)
        if (e.errors[i].param != g.errors[i].param || !SameBits(e.errors[i].error, g.errors[i].error)
            || e.errors[i].overLimit != g.errors[i].overLimit)
            return QStringLiteral("error %1").arg(i);
    if (e.cells != g.cells)
        return QStringLiteral("cells [%1] vs [%2]").arg(e.cells.join('|'), g.cells.join('|'));
    if (e.marks != g.marks)
        return QStringLiteral("marks");
    return QString();
}

QString Difference(const TJournalRunHeader &e, const TJournalRunHeader &g)
{
    // The header goes through the same encoder both ways: equal encodings are equal headers.
    const QString a = KestJournalCodec::EncodeRunHeader(e), b = KestJournalCodec::EncodeRunHeader(g);
    return a == b ? QString() : QStringLiteral("header\n%1\nvs\n%2").arg(a, b);
}

TPgServer &TPgServer::Instance()
{
    static TPgServer server;
    return server;
}

bool TPgServer::Script(const QStringList &arguments)
{
    const char *source = std::getenv("KEST_SOURCE_DIR");
    const QString script = QString::fromLocal8Bit(source ? source : KEST_SOURCE_DIR_DEFAULT)
        + QStringLiteral("/tests/journal/pg_fixture.sh");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/bin/sh"), QStringList{script} + arguments);
    if (!p.waitForFinished(180000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        error_ = QStringLiteral("pg_fixture.sh %1: %2").arg(arguments.join(' '), QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

bool TPgServer::Start()
{
    if (started_)
        return true;
    if (failedToStart_)
        return false;
    const QString tmp = QDir::tempPath() + QStringLiteral("/kest-pg-") + QString::number(::getpid()) + QLatin1Char('-')
        + QUuid::createUuid().toString(QUuid::Id128).left(8);
    folder_ = tmp;
    if (!Script({QStringLiteral("start"), folder_, QString::number(::getpid())})) {
        failedToStart_ = true;
        return false;
    }
    started_ = true;
    return true;
}

void TPgServer::Stop()
{
    if (!started_)
        return;
    Script({QStringLiteral("stop"), folder_});
    started_ = false;
}

bool TPgServer::Pause()
{
    error_.clear();
    if (!paused_ && !Script({QStringLiteral("pause"), folder_}))
        return false;
    paused_ = true;
    return true;
}

bool TPgServer::Resume()
{
    error_.clear();
    if (paused_ && !Script({QStringLiteral("resume"), folder_}))
        return false;
    paused_ = false;
    return true;
}

TJournalConnection TPgServer::NewDatabase()
{
    error_.clear();
    TJournalConnection c;
    c.dialect = TJournalDialect::PostgreSQL;
    c.host = folder_;
    c.port = 5432;
    c.user = QStringLiteral("postgres");
    c.database = QStringLiteral("kest_%1_%2").arg(::getpid()).arg(++databases_);
    const QString name = QStringLiteral("kest-test-admin");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(c.host);
        db.setPort(c.port);
        db.setUserName(c.user);
        db.setDatabaseName(QStringLiteral("postgres"));
        if (db.open()) {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("CREATE DATABASE %1").arg(c.database)))
                error_ = q.lastError().text();
            q.exec(QStringLiteral("GRANT ALL ON DATABASE %1 TO kest").arg(c.database));
            q.exec(QStringLiteral("ALTER DATABASE %1 OWNER TO kest").arg(c.database));
        } else {
            error_ = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return c;
}

} // namespace KestJournalTest
