// kestctl verify run as a program against kest-sim in this process: the lines it prints, the filled tables,
// the report, its exit codes, and the installation switched off when it ends, also on SIGTERM.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <functional>
#include <sstream>

#include "kestsimulator.h"
#include "procsignals.h"

namespace {

QString BinaryDir()
{
    const QByteArray dir = qgetenv("KEST_BINARY_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../.." : QString::fromUtf8(dir);
}

struct TResult {
    int code = -1;
    QString out, err;
};

std::map<std::string, std::string> SimState(kestsim::KestSimulator &sim)
{
    std::map<std::string, std::string> out;
    std::istringstream in(sim.Command("state"));
    for (std::string word; in >> word;)
        if (const size_t eq = word.find('='); eq != std::string::npos)
            out[word.substr(0, eq)] = word.substr(eq + 1);
    return out;
}

bool OutputsOff(kestsim::KestSimulator &sim)
{
    auto s = SimState(sim);
    return s["remote"] == "0" && s["ua"] == "0" && s["ia"] == "0" && s["set-u"] == "0,0,0" && s["set-i5"] == "0,0,0";
}

class KestctlVerify : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        kestsim::SimOptions options;
        options.deviceType = "QX4";
        options.announce = false;
        options.commands = {"error Ia -0.4", "error F 0.1"};
        sim = std::make_unique<kestsim::KestSimulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        const QString folder = home.path() + "/Documents/Valtrix/KestManager";
        ASSERT_TRUE(QDir().mkpath(folder));
        Write(folder + "/Settings.txt",
            "[Launch]\r\nWaitingTime=1\r\n[Parameters]\r\nKU1=10000\r\nKU2=100\r\nKI1=100\r\nKI2=5\r\n"
            "[ScenarioOutputColNumsQX4]\r\n0=1,4,26\r\n1=4,22\r\n");
        // As a spreadsheet saves it again: every line with the table's field count.
        scenario = home.path() + "/scenario.csv";
        Write(scenario,
            "\xEF\xBB\xBF\"Table\";;;\r\nЛевая;;;\r\nТок, A;Напр., V;Угол, °;Частота, Hz\r\n5;57,74;0;50\r\n"
            "2;50;0;50\r\n\"Table\";;;\r\nПравая;;;\r\nТок, A;Напр., V;Угол, °;Частота, Hz\r\n1;40;30;51\r\n");
    }
    static void Write(const QString &file, const QByteArray &text)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("XDG_DOCUMENTS_DIR", home.path() + "/Documents");
        env.insert("XDG_RUNTIME_DIR", home.path());
        return env;
    }
    TResult Run(const QStringList &args, int timeoutMs = 120000)
    {
        QProcess p;
        p.setProcessEnvironment(Environment());
        p.start(BinaryDir() + "/tools/kestctl", args);
        EXPECT_TRUE(p.waitForFinished(timeoutMs));
        TResult r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QStringList Verify() const
    {
        return {"--port", QString::fromStdString(sim->InstallationPath()), "--rate", "115200", "verify", "--config",
            "QX4", "--voltage", "100", "--scenario", scenario};
    }

    QTemporaryDir home;
    QString scenario;
    std::unique_ptr<kestsim::KestSimulator> sim;
};

} // namespace

TEST_F(KestctlVerify, RunsTheScenarioPrintsEveryPointWritesTablesAndReport)
{
    const QString results = home.path() + "/results.csv";
    const QString report = home.path() + "/protocol.docx";
    const QString templ = BinaryDir() + "/src/verification/report/templates/Шаблон протокола поверки.docx";
    ASSERT_TRUE(QFile::exists(templ)) << templ.toStdString();
    const TResult r = Run(Verify() << "--out" << results << "--report" << report << "--template" << templ);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList lines = r.out.trimmed().split('\n');
    // A line per point, then the conclusion and the run's journal id.
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Поверка: [0-9a-f-]{36}$")).match(lines[4]).hasMatch())
        << lines[4].toStdString();
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Заключение: непригоден: превышение допускаемой основной "
                                                   "погрешности: Ia при 5 A (−0,40 % при пределе ±0,2 %)")))
        << lines[3].toStdString();
    EXPECT_EQ(lines[0],
        QStringLiteral(
            "1\t1\tI=5 U=57,74 φ=0 F=50\tUa: 5,774k 5,774k 0%\tIa: 100 99,60 -0,40%!\tF: 50,0 50,05 0,10%!"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("1\t2\tI=2 U=50 φ=0 F=50\t"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("Ia: 40,0 39,84 -0,16%\t"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("2\t1\tI=1 U=40 φ=30 F=51\tIa: 20,0 19,92 -0,08%\tP: ")))
        << lines[2].toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Измерение закончено")));
    EXPECT_TRUE(OutputsOff(*sim)) << sim->Command("state");

    QFile csv(results);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QString table = QString::fromUtf8(csv.readAll());
    EXPECT_TRUE(
        table.contains(QStringLiteral("Table\r\nЛевая\r\nТок, A;Напр., V;Угол, °;Частота, Hz;Ua, V;Ia, A;F, Hz\r\n")));
    EXPECT_TRUE(
        table.contains(QStringLiteral("5;57,74;0;50;5,774k       5,774k       0%;100       99,60       -0,40%;")));

    // The report, read back by an unzipper that is not ours.
    QProcess unzip;
    unzip.start("/usr/bin/python3",
        {"-c", "import sys,zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read('word/document.xml').decode())",
            report});
    ASSERT_TRUE(unzip.waitForFinished(30000));
    const QString xml = QString::fromUtf8(unzip.readAllStandardOutput());
    EXPECT_TRUE(xml.contains(QStringLiteral("Таблица 1. Левая"))) << unzip.readAllStandardError().toStdString();
    EXPECT_TRUE(xml.contains(QStringLiteral("Таблица 2. Правая")));
    EXPECT_TRUE(xml.contains(QStringLiteral("99,60")));
}

TEST_F(KestctlVerify, ExitCodesForCommandLinePortAndLink)
{
    struct TCase {
        QStringList args;
        int code;
        const char *says;
    };
    const QString port = QString::fromStdString(sim->InstallationPath());
    const TCase cases[] = {
        {{"verify", "--scenario", scenario}, 2, "--config"},
        {{"verify", "--config", "XYZ", "--scenario", scenario}, 2, "--config"},
        {{"verify", "--config", "QX4"}, 2, "--scenario"},
        {{"verify", "--config", "QX4", "--scenario", scenario, "--report", "a.odt"}, 2, "--report"},
        {{"verify", "--config", "QX4", "--scenario", scenario, "--tab", "11"}, 2, "--tab"},
        {{"verify", "--config", "QX4", "--scenario", scenario, "--frobnicate"}, 2, "--frobnicate"},
        {{"verify", "--config", "QX4", "--scenario", scenario, "--used-as-standard", " "}, 2, "--used-as-standard"},
        {{"verify", "--config", "U", "--scenario", scenario, "--u-range", "0..600"}, 2, "--u-range: 0..125, 75..125"},
        {{"verify", "--config", "QX4", "--scenario", scenario, "--u-range", "0..125"}, 2,
            "--u-range: только для --config U или F"},
        {{"--port", home.path() + "/no-such-port", "verify", "--config", "QX4", "--scenario", scenario}, 1,
            "Порт не найден"},
        {{"verify", "--config", "QX4", "--scenario", home.path() + "/none.csv"}, 1, "none.csv"},
    };
    for (const TCase &tc : cases) {
        SCOPED_TRACE(tc.args.join(' ').toStdString());
        const TResult r = Run(tc.args);
        EXPECT_EQ(r.code, tc.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(tc.says))) << r.err.toStdString();
    }

    // The installation falls silent: the error, exit 1.
    ASSERT_EQ(sim->Command("fault noanswer"), "ok");
    const TResult silent = Run(Verify() << "--timeout"
                                        << "200");
    EXPECT_EQ(silent.code, 1);
    EXPECT_TRUE(silent.err.contains(QStringLiteral("Нет ответа"))) << silent.err.toStdString();
    sim->Command("clear-faults");
}

// "register:function" of every installation request kest-sim received from index `from` on.
std::vector<std::string> Requests(kestsim::KestSimulator &sim, size_t from = 0)
{
    std::vector<std::string> out;
    for (const std::string &line : sim.Log()) {
        const size_t at = line.find("installation rx ");
        if (at == std::string::npos)
            continue;
        std::istringstream hex(line.substr(at + 16));
        std::vector<int> b;
        for (std::string x; hex >> x;)
            b.push_back(std::stoi(x, nullptr, 16));
        if (b.size() >= 4)
            out.push_back(std::to_string(b[2] * 256 + b[3]) + ":" + std::to_string(b[1]));
    }
    return from < out.size() ? std::vector<std::string>(out.begin() + long(from), out.end())
                             : std::vector<std::string>();
}

// Every way a kestctl verify process can end leaves the installation off: signals at any moment, a
// signal while a failing exchange is on the line, the process killed outright (the next run pays the
// switch-off first), the installation silent (said, and paid at the next run).
TEST_F(KestctlVerify, EveryEndingOfTheProcessLeavesTheInstallationOff)
{
    enum class End { Sigterm, SigintFailingInFlight, SigintAtOnce, Killed, SilentThenBack };
    const struct {
        const char *name;
        End end;
    } cells[] = {
        {"SIGTERM mid-run", End::Sigterm},
        {"SIGINT while a failing exchange is on the line", End::SigintFailingInFlight},
        {"SIGINT as the process starts", End::SigintAtOnce},
        {"killed outright, then run again", End::Killed},
        {"installation silent, then back", End::SilentThenBack},
    };
    const std::vector<std::string> runSwitchOff{"124:16", "100:16", "0:6"};
    for (const auto &cell : cells) {
        SCOPED_TRACE(cell.name);
        sim->Command("clear-faults");
        const size_t from = Requests(*sim).size();
        QProcess p;
        p.setProcessEnvironment(Environment());
        p.start(BinaryDir() + "/tools/kestctl", QStringList{"--timeout", "300"} + Verify());
        ASSERT_TRUE(p.waitForStarted(10000));
        auto waitFor = [&](const std::function<bool()> &done) {
            QElapsedTimer clock;
            clock.start();
            while (!done() && clock.elapsed() < 30000)
                QThread::msleep(20);
            return done();
        };
        if (cell.end == End::SigintAtOnce) {
            ASSERT_TRUE(WaitUntilCatching(p.processId(), SIGINT));
            ::kill(pid_t(p.processId()), SIGINT);
        } else {
            // Once the first point is on the installation.
            ASSERT_TRUE(waitFor([&] { return SimState(*sim)["set-i5"] != "0,0,0"; }));
            switch (cell.end) {
            case End::Sigterm:
                ::kill(pid_t(p.processId()), SIGTERM);
                break;
            case End::SigintFailingInFlight: {
                const auto count = [&] {
                    int n = 0;
                    for (const std::string &r : Requests(*sim, from))
                        n += r == "994:3" ? 1 : 0;
                    return n;
                };
                const int before = count();
                sim->Command("fault noanswer@994#4");
                ASSERT_TRUE(waitFor([&] { return count() > before; }));
                ::kill(pid_t(p.processId()), SIGINT);
                break;
            }
            case End::Killed:
                p.kill();
                break;
            case End::SilentThenBack:
                sim->Command("fault noanswer");
                break;
            default:
                break;
            }
        }
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (cell.end == End::Killed) {
            EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
            EXPECT_FALSE(OutputsOff(*sim));
        } else {
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
        }
        if (cell.end == End::Sigterm || cell.end == End::SigintFailingInFlight) {
            EXPECT_TRUE(err.contains(QStringLiteral("выходы установки выключены"))) << err.toStdString();
            const auto sent = Requests(*sim, from);
            ASSERT_GE(sent.size(), 3u);
            EXPECT_EQ(std::vector<std::string>(sent.end() - 3, sent.end()), runSwitchOff);
        }
        if (cell.end == End::SilentThenBack)
            EXPECT_TRUE(err.contains(QStringLiteral("Выходы установки не удалось выключить"))) << err.toStdString();
        if (cell.end == End::Killed || cell.end == End::SilentThenBack) {
            // The next run: the switch-off owed goes first, then the run as usual.
            sim->Command("clear-faults");
            const size_t again = Requests(*sim).size();
            const TResult r = Run(Verify());
            EXPECT_EQ(r.code, 0) << r.err.toStdString();
            const auto sent = Requests(*sim, again);
            ASSERT_GE(sent.size(), 4u);
            EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 4),
                (std::vector<std::string>{"124:16", "100:16", "0:6", "0:16"}));
        }
        EXPECT_TRUE(OutputsOff(*sim)) << sim->Command("state");
    }
}

// Every configuration once against a kest-sim transducer of its own type with one gain error injected, a
// point at the full scale of the ranges chosen, so that the error printed is the injected gain: the run
// ends with 0 and each injected quantity's column shows its error.
TEST_F(KestctlVerify, EveryConfigurationPrintsTheInjectedErrors)
{
    const struct {
        const char *config;
        QStringList options; // ranges of the run
        const char *coefs; // kest-sim's U1 U2 I1 I2, the same in the settings
        QByteArray outputs; // the settings' output columns of the first tab ("" : the window's own)
        const char *point; // current; voltage; angle; frequency
        std::vector<std::pair<const char *, double>> errors; // quantity (column), gain %
    } cells[] = {
        {"I", {"--range", "5", "--voltage", "380"}, "380 380 5 5", "", "5;219,39;0;50", {{"Ia", 0.4}}},
        {"U", {"--u-range", "0..125"}, "125 125 5 5", "", "5;125;0;50", {{"Ua", -0.3}}},
        {"F", {"--range", "5", "--voltage", "380"}, "380 380 5 5", "[ScenarioOutputColNumsPQ]\r\n0=26\r\n",
            "5;219,39;0;50", {{"F", 0.1}}},
        {"P", {"--range", "5", "--voltage", "380"}, "380 380 5 5", "[ScenarioOutputColNumsPQ]\r\n0=22\r\n",
            "5;219,39;0;50", {{"P", 0.5}}},
        {"Q", {"--range", "5", "--voltage", "380"}, "380 380 5 5", "[ScenarioOutputColNumsPQ]\r\n0=23\r\n",
            "5;219,39;90;50", {{"Q", -0.5}}},
        {"PQ", {"--range", "5", "--voltage", "380"}, "380 380 5 5", "[ScenarioOutputColNumsPQ]\r\n0=22,23\r\n",
            "5;219,39;0;50", {{"P", 0.3}}},
        {"QX4", {"--range", "5", "--voltage", "100"}, "10000 100 100 5", "[ScenarioOutputColNumsQX4]\r\n0=4,26\r\n",
            "5;57,74;0;50", {{"Ia", -0.4}, {"F", 0.1}}},
        {"QX4E", {"--range", "5", "--voltage", "100"}, "10000 100 100 5", "[ScenarioOutputColNumsQX4E]\r\n0=4\r\n",
            "5;57,74;0;50", {{"Ia", 0.3}}},
    };
    const QString table = home.path() + "/point.csv";
    const QString folder = home.path() + "/Documents/Valtrix/KestManager";
    for (const auto &c : cells) {
        SCOPED_TRACE(c.config);
        kestsim::SimOptions options;
        options.deviceType = c.config;
        options.announce = false;
        options.commands = {std::string("coefs ") + c.coefs};
        for (const auto &[quantity, gain] : c.errors)
            options.commands.push_back(std::string("error ") + quantity + " " + std::to_string(gain));
        kestsim::KestSimulator own(options);
        std::string error;
        ASSERT_TRUE(own.Start(&error)) << error;
        const QStringList k = QString::fromLatin1(c.coefs).split(' ');
        Write(folder + "/Settings.txt",
            "[Launch]\r\nWaitingTime=1\r\n[Parameters]\r\nKU1=" + k[0].toLatin1() + "\r\nKU2=" + k[1].toLatin1()
                + "\r\nKI1=" + k[2].toLatin1() + "\r\nKI2=" + k[3].toLatin1() + "\r\n" + c.outputs);
        Write(table, QByteArray("\xEF\xBB\xBFТок, A;Напр., V;Угол, °;Частота, Hz\r\n") + c.point + "\r\n");
        const TResult r = Run(QStringList{"--port", QString::fromStdString(own.InstallationPath()), "verify",
                                  "--config", c.config, "--scenario", table, "--no-journal"}
            + c.options);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        const QStringList parts = r.out.trimmed().split('\t');
        for (const auto &[quantity, gain] : c.errors) {
            SCOPED_TRACE(quantity);
            const QString name = QString::fromLatin1(quantity) + ": ";
            const auto cell
                = std::find_if(parts.begin(), parts.end(), [&](const QString &p) { return p.startsWith(name); });
            ASSERT_NE(cell, parts.end()) << r.out.toStdString() << r.err.toStdString();
            const QStringList pieces = cell->mid(name.size()).split(' ');
            ASSERT_EQ(pieces.size(), 3) << cell->toStdString();
            QString text = pieces[2];
            text.remove('!').remove('%').replace(',', '.');
            bool ok = false;
            const double printed = text.toDouble(&ok);
            ASSERT_TRUE(ok) << cell->toStdString();
            EXPECT_NEAR(printed, gain, 0.03) << cell->toStdString();
        }
        EXPECT_TRUE(OutputsOff(own)) << own.Command("state");
    }
}

// The laboratory's side from the command line: a type and standards in the registers, a run that fails one
// point and one that passes, each concluded and carried into its protocol; a standard out of its verification
// warns or refuses before anything is sent (one valid through the run's day passes); marking a standard out of
// tolerance lists exactly the runs that used it from that day.
TEST_F(KestctlVerify, LaboratoryRecordsFromTheRegistersToTheConclusionAndTheProtocol)
{
    const QString date = QStringLiteral("dd.MM.yyyy");
    const QDate today = QDate::currentDate();
    {
        // The device's serial number, as the report header gives it (the Fund's file needs one).
        QFile header(home.path() + "/Documents/Valtrix/KestManager/Settings.txt");
        ASSERT_TRUE(header.open(QIODevice::Append));
        header.write("[Report]\r\nDeviceNum=151003\r\n");
    }
    auto id = [&](const QStringList &args) {
        const TResult r = Run(args);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        return r.out.trimmed();
    };
    const QString type = id({"types", "add", "--name", "Преобразователь QX4", "--type-number", "74910-19",
        "--procedure", "МП 2203-0123-2021", "--interval", "12"});
    const QString kest = id({"standards", "add", "--name", "Установка KEST-01", "--serial", "77", "--fund-number",
        "57500.20.1Р.00011", "--certificate", "С-1", "--valid-until", today.addDays(100).toString(date),
        "--error-limit", "voltage=0,05", "--error-limit", "current=0,1"});
    const QString hygro = id({"standards", "add", "--name", "Термогигрометр ИВА-6", "--serial", "12", "--fund-number",
        "57500.20.1Р.00016", "--certificate", "С-6", "--valid-until", today.addDays(100).toString(date), "--kind",
        "auxiliary", "--role", "термогигрометр"});
    const QString overdue = id({"standards", "add", "--name", "Установка старая", "--serial", "5", "--fund-number", "1",
        "--certificate", "С-0", "--valid-until", today.addDays(-1).toString(date)});
    const QString lastDay = id({"standards", "add", "--name", "Установка на сегодня", "--serial", "6", "--fund-number",
        "2", "--certificate", "С-2", "--valid-until", today.toString(date)});
    const TResult list = Run({"standards", "list"});
    EXPECT_EQ(list.out.trimmed().split('\n').size(), 4) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains(kest + "\tУстановка KEST-01\tзав. № 77\tрег. № 57500.20.1Р.00011"));
    EXPECT_EQ(
        Run({"types", "add", "--name", "x", "--type-number", "7491019", "--procedure", "МП", "--interval", "12"}).code,
        2);

    auto docText = [](const QString &file) {
        QProcess read;
        read.start("/usr/bin/python3",
            {"-c",
                "import sys\nif sys.argv[1].endswith('.docx'):\n import docx\n d=docx.Document(sys.argv[1])\n "
                "print('\\n'.join(p.text for p in d.paragraphs))\nelse:\n import openpyxl\n "
                "w=openpyxl.load_workbook(sys.argv[1]).active\n print('\\n'.join(str(c.value) for r in w.iter_rows() "
                "for c in r if c.value is not None))",
                file});
        EXPECT_TRUE(read.waitForFinished(60000));
        return QString::fromUtf8(read.readAllStandardOutput());
    };
    const QStringList lab{"--type", type, "--owner", "АО «Сеть»", "--modification", "QX4-1", "--condition",
        "temperature=21,5", "--condition", "humidity=55", "--condition", "pressure=101,3", "--standards",
        kest + "," + hygro};
    // Ia is 0,4 % out: unfit, with the point in the reasons; no validity in the protocol.
    const QString unfitReport = home.path() + "/unfit.docx";
    const TResult unfit = Run(Verify() << lab << "--report" << unfitReport);
    ASSERT_EQ(unfit.code, 0) << unfit.err.toStdString();
    EXPECT_TRUE(
        unfit.out.contains(QStringLiteral("Заключение: непригоден: превышение допускаемой основной погрешности: "
                                          "Ia при 5 A (−0,40 % при пределе ±0,2 %)")))
        << unfit.out.toStdString();
    const QString unfitText = docText(unfitReport);
    for (const char *expected :
        {"74910-19", "модификация: QX4-1", "Владелец СИ: АО «Сеть»", "Вид поверки: периодическая", "МП 2203-0123-2021",
            "температура 21,5 °C, относительная влажность 55 %, атмосферное давление 101,3 кПа",
            "Установка KEST-01, зав. № 77, рег. № 57500.20.1Р.00011", "Термогигрометр ИВА-6", "непригоден",
            "±0,2 % (ток: соотношение точностей 2 меньше 3)"})
        EXPECT_TRUE(unfitText.contains(QString::fromUtf8(expected))) << expected << "\n" << unfitText.toStdString();
    EXPECT_FALSE(unfitText.contains(QStringLiteral("действительны до")));

    // Within limits: fit, valid for the type's interval; the instrument is a registered standard itself.
    sim->Command("error Ia 0");
    sim->Command("error F 0");
    const QString fitReport = home.path() + "/fit.xlsx";
    const TResult fit = Run(Verify() << lab << "--kind"
                                     << "primary"
                                     << "--used-as-standard"
                                     << "3.1.ZZT.0456.2024"
                                     << "--report" << fitReport);
    ASSERT_EQ(fit.code, 0) << fit.err.toStdString();
    EXPECT_TRUE(fit.out.contains(QStringLiteral("Заключение: пригоден\n"))) << fit.out.toStdString();
    const QString fitText = docText(fitReport);
    EXPECT_TRUE(fitText.contains(QStringLiteral("пригоден, результаты поверки действительны до ")
        + today.addMonths(12).addDays(-1).toString(date)))
        << fitText.toStdString();
    EXPECT_TRUE(fitText.contains(QStringLiteral("первичная")));

    // A standard out of its verification: a warning and the run goes on; under "block", refused before anything
    // is sent. One valid through today is valid.
    TResult warned = Run(Verify() << "--standards" << overdue);
    EXPECT_EQ(warned.code, 0) << warned.err.toStdString();
    EXPECT_TRUE(warned.err.contains(QStringLiteral("Предупреждение: ")) && warned.err.contains("Установка старая"))
        << warned.err.toStdString();
    QFile settings(home.path() + "/Documents/Valtrix/KestManager/Settings.txt");
    ASSERT_TRUE(settings.open(QIODevice::Append));
    settings.write("\r\n[Lab]\r\nOverdueStandards=block\r\n");
    settings.close();
    const size_t before = Requests(*sim).size();
    const TResult blocked = Run(Verify() << "--standards" << overdue);
    EXPECT_EQ(blocked.code, 1);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("Поверка не начата: "))) << blocked.err.toStdString();
    const std::vector<std::string> sent = Requests(*sim, before);
    EXPECT_TRUE(std::none_of(sent.begin(), sent.end(), [](const std::string &r) { return r.rfind("0:", 0) == 0; }))
        << "the installation was taken under remote control";
    EXPECT_TRUE(OutputsOff(*sim));
    const TResult onItsLastDay = Run(Verify() << "--standards" << lastDay);
    EXPECT_EQ(onItsLastDay.code, 0) << onItsLastDay.err.toStdString();
    EXPECT_FALSE(onItsLastDay.err.contains(QStringLiteral("Предупреждение")));

    // The reverse trace: the two runs with the installation KEST-01, none of the others.
    const TResult trace = Run({"standards", "out-of-tolerance", kest, "--since", today.toString(date)});
    ASSERT_EQ(trace.code, 0) << trace.err.toStdString();
    EXPECT_EQ(trace.out.count(QStringLiteral("поверка после этой даты")), 2) << trace.out.toStdString();
    EXPECT_TRUE(trace.out.contains(QStringLiteral("вне допуска с ") + today.toString(date)));

    // The upload file: the two runs with everything the Fund needs, the others listed with what they lack;
    // checked against the shipped schema by an independent validator; sent runs are not offered again; the
    // cabinet's answer recorded beside the run.
    ASSERT_TRUE(settings.open(QIODevice::Append));
    settings.write("SignCipher=АБВ\r\n");
    settings.close();
    const QString xml = home.path() + "/arshin.xml";
    const TResult exported = Run({"arshin-export", "--with-protocol", "--out", xml});
    ASSERT_EQ(exported.code, 0) << exported.err.toStdString();
    EXPECT_TRUE(exported.out.contains(QStringLiteral("поверок: 2"))) << exported.out.toStdString();
    EXPECT_EQ(exported.err.count(QStringLiteral("Пропущена поверка")), 2) << exported.err.toStdString();
    QFile upload(xml);
    ASSERT_TRUE(upload.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(upload.readAll());
    EXPECT_EQ(text.count(QStringLiteral("74910-19")), 1) << "the standard is named by its registration alone";
    EXPECT_TRUE(text.contains(
        QRegularExpression(QStringLiteral("<gost:etaMI>\\s*<gost:regNumber>3.1.ZZT.0456.2024</gost:regNumber>"))))
        << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("inapplicable>")), 2); // one run unfit: its start and end tags
    EXPECT_TRUE(text.contains(QStringLiteral("57500.20.1Р.00011")));
    QProcess lint;
    lint.start("xmllint",
        {"--noout", "--schema", QString::fromUtf8(qgetenv("KEST_SOURCE_DIR")) + "/assets/arshin/arshin-2020-06-19.xsd",
            xml});
    ASSERT_TRUE(lint.waitForFinished(30000));
    EXPECT_EQ(lint.exitCode(), 0) << lint.readAllStandardError().toStdString();
    // Each run carries its own protocol, though both are of one device and named alike.
    QStringList protocolTexts;
    static const QRegularExpression kContent(QStringLiteral("<gost:content>([^<]*)</gost:content>"));
    for (auto it = kContent.globalMatch(text); it.hasNext();) {
        const QString pdf = home.path() + QStringLiteral("/protocol%1.pdf").arg(protocolTexts.size());
        QFile out(pdf);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray::fromBase64(it.next().captured(1).toLatin1()));
        out.close();
        QProcess pdftotext;
        pdftotext.start("pdftotext", {pdf, "-"});
        ASSERT_TRUE(pdftotext.waitForFinished(30000));
        protocolTexts << QString::fromUtf8(pdftotext.readAllStandardOutput());
    }
    ASSERT_EQ(protocolTexts.size(), 2);
    EXPECT_EQ(text.count(QStringLiteral("filename=\"Протокол ")), 2);
    // Oldest first: the unfit run, then the fit one.
    EXPECT_TRUE(protocolTexts[0].contains(QStringLiteral("непригоден"))) << protocolTexts[0].toStdString();
    EXPECT_TRUE(protocolTexts[1].contains(QStringLiteral("пригоден")));
    EXPECT_FALSE(protocolTexts[1].contains(QStringLiteral("непригоден"))) << protocolTexts[1].toStdString();
    const TResult again = Run({"arshin-export", "--out", home.path() + "/again.xml"});
    EXPECT_EQ(again.code, 1);
    // Only the two that still lack something are offered again, and nothing is written.
    EXPECT_EQ(again.err.count(QStringLiteral("Пропущена поверка")), 2) << again.err.toStdString();
    EXPECT_TRUE(again.err.contains(QStringLiteral("Файл не записан"))) << again.err.toStdString();
    EXPECT_FALSE(QFile::exists(home.path() + "/again.xml"));
    static const QRegularExpression kRunId(QStringLiteral("Журнал: поверка (\\S+)"));
    const QString fitRun = kRunId.match(fit.err).captured(1);
    ASSERT_FALSE(fitRun.isEmpty()) << fit.err.toStdString();
    const TResult answered = Run({"arshin-status", "--run", fitRun, "--record", "1-2345678"});
    EXPECT_EQ(answered.code, 0) << answered.err.toStdString();
    EXPECT_EQ(Run({"arshin-status", "--run", fitRun}).code, 2);
}
