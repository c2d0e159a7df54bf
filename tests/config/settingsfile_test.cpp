// The settings file on disk: value encodings, old Windows files, bad files, and writes that fail.

#include "config/configcontroller.h"
#include "config/inifile.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Entries of a folder other than `keep` (temporary files left behind would show here).
QStringList Others(const QString &folder, const QString &keep)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    names.removeAll(keep);
    return names;
}

struct HookGuard {
    ~HookGuard() { TIniFile::SetWriteFaultHookForTesting({}); }
};

TEST(IniFile, IntegersBooleansAndReals)
{
    const QString path = KestTestHome::NewFolder() + QStringLiteral("/s.txt");
    WriteAll(path,
        "[N]\n"
        "dec=42\nneg=-7\nplus=+5\nhex=0x1F\nhexUpper=0XfF\nall=0xFFFFFFFF\n"
        "big=2147483648\nsmall=-2147483648\nhex9=0x100000000\n"
        "junk=12a\nspace=1 2\nempty=\nreal=0,5\ndot=0.25\nexp=1,5E3\nword=abc\n"
        "bool1=1\nbool0=0\nbool2=2\nboolword=True\n");
    TIniFile ini(path);
    struct IntCase {
        const char *key;
        int expected;
    } ints[] = {
        {"dec", 42},
        {"neg", -7},
        {"plus", 5},
        {"hex", 31},
        {"hexUpper", 255},
        {"all", -1},
        {"big", -99},
        {"small", INT32_MIN},
        {"hex9", -99},
        {"junk", -99},
        {"space", -99},
        {"empty", -99},
        {"real", -99},
        {"absent", -99},
    };
    for (const IntCase &c : ints)
        EXPECT_EQ(ini.ReadInteger("N", c.key, -99), c.expected) << c.key;

    struct RealCase {
        const char *key;
        double expected;
    } reals[] = {
        {"real", 0.5},
        {"dot", 0.25},
        {"exp", 1500},
        {"dec", 42},
        {"word", 7.5},
        {"empty", 7.5},
        {"absent", 7.5},
    };
    for (const RealCase &c : reals)
        EXPECT_DOUBLE_EQ(ini.ReadFloat("N", c.key, 7.5), c.expected) << c.key;

    EXPECT_TRUE(ini.ReadBool("N", "bool1", false));
    EXPECT_FALSE(ini.ReadBool("N", "bool0", true));
    EXPECT_TRUE(ini.ReadBool("N", "bool2", false));
    EXPECT_TRUE(ini.ReadBool("N", "boolword", true)) << "not an integer: the default";
    EXPECT_FALSE(ini.ReadBool("N", "boolword", false));

    ini.WriteFloat("W", "half", 0.5);
    ini.WriteFloat("W", "third", 1.0 / 3);
    ini.WriteBool("W", "yes", true);
    ini.WriteInteger("W", "neg", -12);
    EXPECT_EQ(ini.ReadString("W", "half", ""), QStringLiteral("0,5"));
    EXPECT_EQ(ini.ReadString("W", "third", ""), QStringLiteral("0,333333333333333"));
    EXPECT_EQ(ini.ReadString("W", "yes", ""), QStringLiteral("1"));
    EXPECT_EQ(ini.ReadString("W", "neg", ""), QStringLiteral("-12"));
    EXPECT_TRUE(ReadAll(path).startsWith("[N]\ndec=42\n")) << "unknown lines are kept";
}

TEST(IniFile, WindowsFileIsReadAndRewrittenAsUtf8)
{
    const QString folder = KestTestHome::NewFolder();
    const QString path = folder + QStringLiteral("/Settings.txt");
    // A file from an older Windows installation: code page 1251, CR LF, a Cyrillic section and value.
    WriteAll(path,
        QByteArray("[Report]\r\nOrganization=\xCE\xCE\xCE \xAB\xD2\xE5\xF1\xF2\xBB\r\n"
                   "[\xCE\xF2\xF7\xB8\xF2]\r\nx=1\r\n"));
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("report", "ORGANIZATION", ""), QStringLiteral("ООО «Тест»"));
    EXPECT_EQ(ini.ReadString("ОТЧЁТ", "x", ""), QStringLiteral("1"));

    ini.WriteString("Report", "City", QStringLiteral("Москва"));
    EXPECT_EQ(ReadAll(path),
        QStringLiteral("[Report]\r\nOrganization=ООО «Тест»\r\nCity=Москва\r\n"
                       "[Отчёт]\r\nx=1\r\n")
            .toUtf8());
    EXPECT_EQ(ini.ReadString("Report", "Organization", ""), QStringLiteral("ООО «Тест»"));
}

TEST(IniFile, BadFilesGiveDefaultsNotCrashes)
{
    const QString folder = KestTestHome::NewFolder();
    const QString path = folder + QStringLiteral("/Settings.txt");

    // Binary garbage around a readable key, a UTF-8 mark and a very long line.
    QByteArray bytes("\xEF\xBB\xBF[Launch]\nMainWindowCoordX=250\n");
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    bytes.append("\n[Long]\nv=");
    bytes.append(QByteArray(2 * 1024 * 1024, 'x'));
    bytes.append("\n");
    WriteAll(path, bytes);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Launch", "MainWindowCoordX", 0), 250);
    EXPECT_EQ(ini.ReadString("Long", "v", "").size(), 2 * 1024 * 1024);
    EXPECT_EQ(ini.ReadString("Launch", "Missing", "dflt"), QStringLiteral("dflt"));

    // A folder where the file should be: not readable, and not overwritten.
    const QString dirPath = folder + QStringLiteral("/Dir.txt");
    QDir().mkdir(dirPath);
    TIniFile dir(dirPath);
    EXPECT_THROW(dir.ReadString("A", "b", ""), EIniFileError);
    EXPECT_THROW(dir.WriteString("A", "b", "c"), EIniFileError);
    EXPECT_TRUE(QFileInfo(dirPath).isDir());
}

// Every way an atomic write can fail leaves the old file byte for byte and no temporary file.
TEST(IniFile, FailedWriteLeavesOldFileIntact)
{
    HookGuard guard;
    const QString folder = KestTestHome::NewFolder();
    const QString path = folder + QStringLiteral("/Settings.txt");
    const QByteArray old("; mine\n[Launch]\nUpdateTag=1\n");
    WriteAll(path, old);
    TIniFile ini(path);

    const TIniFile::TWriteStage stages[] = {TIniFile::TWriteStage::CreateTemp, TIniFile::TWriteStage::WriteTemp,
        TIniFile::TWriteStage::SyncTemp, TIniFile::TWriteStage::Rename};
    for (TIniFile::TWriteStage failAt : stages) {
        TIniFile::SetWriteFaultHookForTesting([failAt](TIniFile::TWriteStage s) { return s == failAt; });
        EXPECT_THROW(ini.WriteString("Launch", "UpdateTag", "0"), EIniFileError) << int(failAt);
        EXPECT_EQ(ReadAll(path), old) << int(failAt);
        EXPECT_EQ(Others(folder, "Settings.txt"), QStringList()) << int(failAt);
    }

    // Through the settings store the failure is swallowed and the old value is still read.
    TIniFile::SetWriteFaultHookForTesting([](TIniFile::TWriteStage s) { return s == TIniFile::TWriteStage::Rename; });
    TConfigController config(folder, "", "", "Settings.txt");
    ASSERT_EQ(config.settingsPath, path);
    config.WriteUpdateFlag(false);
    EXPECT_TRUE(config.ReadUpdateFlag());
    EXPECT_EQ(ReadAll(path), old);

    TIniFile::SetWriteFaultHookForTesting({});
    config.WriteUpdateFlag(false);
    EXPECT_FALSE(config.ReadUpdateFlag());
    EXPECT_EQ(ReadAll(path), QByteArray("; mine\n[Launch]\nUpdateTag=0\n"));
}

// A real full disk: a file size limit makes the kernel refuse the temporary file's bytes.
TEST(IniFile, FileSizeLimitActsAsFullDisk)
{
    const QString folder = KestTestHome::NewFolder();
    const QString path = folder + QStringLiteral("/Settings.txt");
    const QByteArray old("[Report]\nName=short\n");
    WriteAll(path, old);
    TIniFile ini(path);

    struct rlimit saved { };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        ini.WriteString("Report", "Name", QString(10000, u'x'));
    } catch (const EIniFileError &) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(Others(folder, "Settings.txt"), QStringList());
}

TEST(IniFile, WriteThroughLinkChangesItsTarget)
{
    const QString folder = KestTestHome::NewFolder();
    const QString target = folder + QStringLiteral("/real.txt");
    const QString link = folder + QStringLiteral("/Settings.txt");
    WriteAll(target, "[A]\nx=1\n");
    ASSERT_TRUE(QFile::link(target, link));
    TIniFile ini(link);
    ini.WriteString("A", "x", "2");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadAll(target), QByteArray("[A]\nx=2\n"));
}

TEST(IniFile, UnchangedValueDoesNotRewrite)
{
    const QString folder = KestTestHome::NewFolder();
    const QString path = folder + QStringLiteral("/s.txt");
    TIniFile ini(path);
    ini.DeleteKey("A", "x");
    EXPECT_FALSE(QFileInfo::exists(path)) << "removing from an absent file creates nothing";
    ini.WriteString("A", "x", "1");
    const auto inode = QFileInfo(path).fileTime(QFileDevice::FileModificationTime);
    ::usleep(20000);
    ini.WriteString("a", "X", "1");
    EXPECT_EQ(QFileInfo(path).fileTime(QFileDevice::FileModificationTime), inode);
    ini.EraseSection("A");
    EXPECT_EQ(ReadAll(path), QByteArray());
}

TEST(IniFile, BatchWritesOnceAtTheEnd)
{
    HookGuard guard;
    const QString folder = KestTestHome::NewFolder();
    const QString path = folder + QStringLiteral("/Settings.txt");
    const QByteArray old("[A]\nx=1\n");
    WriteAll(path, old);
    TIniFile ini(path);
    int writes = 0;
    TIniFile::SetWriteFaultHookForTesting([&](TIniFile::TWriteStage s) {
        writes += s == TIniFile::TWriteStage::CreateTemp;
        return false;
    });
    {
        TIniBatch batch(ini);
        ini.WriteString("A", "x", "2");
        {
            TIniBatch inner(ini);
            ini.WriteString("B", "y", "3");
        }
        EXPECT_EQ(ini.ReadString("a", "X", ""), QStringLiteral("2")) << "reads see the batch";
        EXPECT_EQ(ReadAll(path), old) << "nothing written before the outer batch ends";
    }
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(ReadAll(path), QByteArray("[A]\nx=2\n[B]\ny=3\n"));

    // A failing final write drops the whole batch.
    TIniFile::SetWriteFaultHookForTesting([](TIniFile::TWriteStage s) { return s == TIniFile::TWriteStage::Rename; });
    {
        TIniBatch batch(ini);
        ini.WriteString("A", "x", "4");
        ini.WriteString("B", "y", "5");
        EXPECT_THROW(batch.Commit(), EIniFileError);
    }
    EXPECT_EQ(ReadAll(path), QByteArray("[A]\nx=2\n[B]\ny=3\n"));
    EXPECT_EQ(ini.ReadString("A", "x", ""), QStringLiteral("2")) << "the batch is over after a failed commit";
    EXPECT_EQ(Others(folder, "Settings.txt"), QStringList());
}

TEST(IniFile, NamesThatCannotBeReadBackAreRefused)
{
    const QString folder = KestTestHome::NewFolder();
    TConfigController config(folder, "/Valtrix", "KestManager", "/Settings.txt");
    const QString path = config.settingsPath;
    const QByteArray before("[Launch]\nUpdateTag=1\n");
    WriteAll(path, before);
    TIniFile &ini = config.ini;

    // Each would come back as another name, a comment or a new section ("a]b" is read as section
    // "a"; key "[Launch]" would be that section's header).
    const char *const bad[]
        = {"", "   ", "a]b", "]", "a=b", "=", ";note", "  ;note", "[Launch]", "[x", "a\nb", "a\r\n[Launch]", "x\r"};
    for (const char *name : bad) {
        const QString n = QString::fromUtf8(name);
        SCOPED_TRACE(name);
        EXPECT_THROW(ini.WriteString(n, "Key", "v"), EIniNameError);
        EXPECT_THROW(ini.WriteString("Launch", n, "v"), EIniNameError);
        EXPECT_THROW(ini.WriteInteger("Launch", n, 1), EIniFileError);
        EXPECT_THROW(ini.WriteFloat(n, "Key", 0.5), EIniFileError);
        EXPECT_THROW(ini.WriteBool(n, n, true), EIniFileError);
        // The accessors keep their promise never to raise: the write is dropped.
        EXPECT_NO_THROW(config.WriteTag(n, "I", 0.5));
        EXPECT_NO_THROW(config.WriteTag("Increments", n, 0.5));
        EXPECT_NO_THROW(config.WriteArray("ScenarioTabNames", n, {"a", "b"}));
        EXPECT_NO_THROW(config.WritePort(n, "/dev/ttyUSB0"));
        {
            TIniBatch batch(ini);
            EXPECT_THROW(ini.WriteString(n, "Key", "v"), EIniNameError);
        }
        EXPECT_EQ(ReadAll(path), before) << "nothing written";

        TIniDocument doc = TIniDocument::Parse(QString::fromUtf8(before));
        EXPECT_FALSE(TIniDocument::IsStorableName(n));
        EXPECT_FALSE(doc.SetValue(n, "Key", "v"));
        EXPECT_FALSE(doc.SetValue("Launch", n, "v"));
        EXPECT_EQ(doc.Serialize().toUtf8(), before);
    }
    EXPECT_EQ(Others(QFileInfo(path).absolutePath(), "Settings.txt"), QStringList());
    {
        // A refused name inside a batch leaves the batch's other writes to land.
        TIniBatch batch(ini);
        EXPECT_THROW(ini.WriteString("Tabs", "Ток=5", "1"), EIniNameError);
        ini.WriteString("Tabs", "Ток 5", "1");
    }
    EXPECT_EQ(ReadAll(path), before + "[Tabs]\nТок 5=1\n");

    // Odd but readable names are stored and found again.
    const char *const good[] = {"Ток фазы А", "a;b", "a[b", "I0,5", "U100_3", "Адр.", " padded "};
    int sections = int(ini.ReadSections().size());
    for (const char *name : good) {
        const QString n = QString::fromUtf8(name);
        SCOPED_TRACE(name);
        EXPECT_TRUE(TIniDocument::IsStorableName(n));
        ini.WriteString(n, n, "v");
        EXPECT_EQ(ini.ReadString(n, n, "absent"), QStringLiteral("v"));
        EXPECT_EQ(ini.ReadSections().size(), ++sections) << "one new section, no stray one";
    }
    EXPECT_EQ(ini.ReadString("Launch", "UpdateTag", ""), QStringLiteral("1"));
}

} // namespace
