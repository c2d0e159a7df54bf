// The settings store and the typed settings over it, on a settings file in the test home.

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "config/globalconfig.h"
#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ConfigController, FreshStartInTheDocumentsFolder)
{
    const QString docs = TConfigController::DocumentsFolder();
    ASSERT_TRUE(docs.startsWith(KestTestHome::Root())) << docs.toStdString();
    QDir(docs).removeRecursively();

    TConfigController config("\\Valtrix", "KestManager", "\\Settings.txt");
    EXPECT_EQ(config.programFolder, docs + "/Valtrix/KestManager");
    EXPECT_EQ(config.settingsPath, docs + "/Valtrix/KestManager/Settings.txt");
    EXPECT_TRUE(QFileInfo(docs + "/Valtrix").isDir());
    EXPECT_TRUE(QFileInfo(config.programFolder).isDir());
    EXPECT_FALSE(QFileInfo::exists(config.settingsPath)) << "nothing is written before the first write";

    EXPECT_EQ(config.ReadMainWindowCoordX(), 100);
    EXPECT_EQ(config.ReadMainWindowCoordY(), 100);
    EXPECT_TRUE(config.ReadUpdateFlag());
    EXPECT_EQ(config.ReadPort("Port1"), QString());
    EXPECT_EQ(config.ReadRate("Port1"), QStringLiteral("115200"));
    EXPECT_EQ(config.ReadRate("Port2"), QStringLiteral("115200"));
    EXPECT_EQ(config.ReadTag("Increments", "Угол"), 1.0);

    config.WriteMainWindowCoordX(-20);
    EXPECT_EQ(ReadAll(config.settingsPath), QByteArray("[Launch]\nMainWindowCoordX=-20\n"));
    EXPECT_EQ(config.ReadMainWindowCoordX(), -20);

    // The default folders of the parameterless constructor are the same.
    TConfigController defaults;
    EXPECT_EQ(defaults.settingsPath, config.settingsPath);
    EXPECT_EQ(defaults.ReadMainWindowCoordX(), -20);
}

TEST(ConfigController, PortsRatesAndFlag)
{
    TConfigController config(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    config.WritePort("Port1", "/dev/ttyUSB0");
    config.WriteRate("Port1", "9600");
    config.WritePort("Port2", "/dev/ttyUSB1");
    config.WriteMainWindowCoordY(300);
    config.WriteUpdateFlag(false);
    EXPECT_EQ(config.ReadPort("port1"), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(config.ReadRate("Port1"), QStringLiteral("9600"));
    EXPECT_EQ(config.ReadPort("Port2"), QStringLiteral("/dev/ttyUSB1"));
    EXPECT_EQ(config.ReadRate("Port2"), QStringLiteral("115200"));
    EXPECT_EQ(config.ReadMainWindowCoordY(), 300);
    EXPECT_FALSE(config.ReadUpdateFlag());
    EXPECT_EQ(ReadAll(config.settingsPath),
        QByteArray("[Port1]\nPort=/dev/ttyUSB0\nRate=9600\n[Port2]\nPort=/dev/ttyUSB1\n"
                   "[Launch]\nMainWindowCoordY=300\nUpdateTag=0\n"));
}

TEST(ConfigController, TagsUseTheDecimalComma)
{
    TConfigController config(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    config.WriteTag("Increments", "I", 0.5);
    config.WriteTag("Increments", "Адр.", 10);
    EXPECT_EQ(config.ini.ReadString("Increments", "I", ""), QStringLiteral("0,5"));
    EXPECT_EQ(config.ReadTag("Increments", "I"), 0.5);
    EXPECT_EQ(config.ReadTag("Increments", "Адр."), 10.0);
    config.ini.WriteString("Increments", "U", "abc");
    config.ini.WriteString("Increments", "F", "");
    EXPECT_EQ(config.ReadTag("Increments", "U"), 1.0);
    EXPECT_EQ(config.ReadTag("Increments", "F"), 1.0);
    for (const char *text : {"NAN", "INF", "-INF", "1E400"}) {
        config.ini.WriteString("Increments", "Угол", text);
        EXPECT_EQ(config.ReadTag("Increments", "Угол"), 1.0) << text;
    }
    config.ini.WriteString("Increments", "Угол", "0.25"); // a point typed by hand is read too
    EXPECT_EQ(config.ReadTag("Increments", "Угол"), 0.25);
}

TEST(ConfigController, Arrays)
{
    TConfigController config(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    config.ini.WriteString("S", "list", " Ua ,  Ток фазы А ,Ic ");
    EXPECT_EQ(config.ReadArray("S", "list", 0, ""), (QStringList{"Ua", "Ток фазы А", "Ic"}));
    // Padding with the default up to the length asked for; a longer list is left as stored.
    EXPECT_EQ(config.ReadArray("S", "list", 5, "0"), (QStringList{"Ua", "Ток фазы А", "Ic", "0", "0"}));
    EXPECT_EQ(config.ReadArray("S", "list", 2, "0").size(), 3);
    // Absent key: the default text is the list.
    EXPECT_EQ(config.ReadArray("S", "absent", 3, "0"), (QStringList{"0", "0", "0"}));
    EXPECT_EQ(config.ReadArray("S", "absent", 0, "a,b"), (QStringList{"a", "b"}));

    const QStringList names = {"Ток, \"фаза\" А", "2", "  ", "Напряжение"};
    config.WriteArray("ScenarioTabNames", "QX4", names);
    EXPECT_EQ(config.ini.ReadString("ScenarioTabNames", "QX4", ""),
        QStringLiteral("\"Ток, \"\"фаза\"\" А\",2,  ,Напряжение"));
    EXPECT_EQ(
        config.ReadArray("ScenarioTabNames", "QX4", 0, ""), (QStringList{"Ток, \"фаза\" А", "2", "", "Напряжение"}));
}

TEST(ConfigController, UnreadableFileGivesTheFailureDefaults)
{
    const QString folder = KestTestHome::NewFolder();
    TConfigController config(folder, "", "", "Settings.txt");
    QDir().mkdir(config.settingsPath); // a folder in the file's place cannot be read
    EXPECT_EQ(config.ReadMainWindowCoordX(), 0);
    EXPECT_EQ(config.ReadMainWindowCoordY(), 0);
    EXPECT_FALSE(config.ReadUpdateFlag());
    EXPECT_EQ(config.ReadRate("Port1"), QStringLiteral("115200"));
    EXPECT_EQ(config.ReadTag("Increments", "I"), 1.0);
    EXPECT_EQ(config.ReadArray("S", "k", 2, "x"), (QStringList{"x", "x"}));
    config.WriteMainWindowCoordX(5); // dropped, no exception
    EXPECT_TRUE(QFileInfo(config.settingsPath).isDir());

    // A program folder that could not be created: reads give defaults, writes are lost.
    QFile blocker(folder + "/Blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TConfigController blocked(folder, "Blocked", "KestManager", "Settings.txt");
    blocked.WriteMainWindowCoordX(5);
    EXPECT_EQ(blocked.ReadMainWindowCoordX(), 100);
    EXPECT_FALSE(QFileInfo::exists(blocked.settingsPath));
}

TEST(GlobalConfig, DefaultsAndKeys)
{
    TConfigController config(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TGlobalConfig global(&config);
    TDeviceSettingsConfig device(&config);

    struct Key {
        const char *section, *key, *defaultText;
        std::function<QString()> read;
        std::function<void(const QString &)> write;
    };
#define KEY(obj, cls, sec, key, def, name)                                                                             \
    Key                                                                                                                \
    {                                                                                                                  \
        sec, key, def, [&] { return obj.Read##name(); }, [&](const QString &v) { obj.Write##name(v); }                 \
    }
    const Key keys[] = {
        KEY(global, G, "Parameters", "I1", "1", I1),
        KEY(global, G, "Parameters", "I5", "5", I5),
        KEY(global, G, "Parameters", "I0,5", "0,5", I0_5),
        KEY(global, G, "Parameters", "I2.5", "2,5", I2_5),
        KEY(global, G, "Parameters", "U100_3", "100", U100_3),
        KEY(global, G, "Parameters", "U100_4", "57,74", U100_4),
        KEY(global, G, "Parameters", "U380_3", "380", U380_3),
        KEY(global, G, "Parameters", "U380_4", "219,39", U380_4),
        KEY(global, G, "Parameters", "U400_3", "400", U400_3),
        KEY(global, G, "Parameters", "U400_4", "230,94", U400_4),
        KEY(global, G, "Launch", "Error", "0,2", Error),
        KEY(global, G, "Launch", "FreqError", "0,05", FreqError),
        KEY(global, G, "Launch", "AnalogError", "0,5", AnalogError),
        KEY(global, G, "Launch", "AruError", "1", AruError),
        KEY(global, G, "Launch", "DeviceNetAdr", "100", DeviceNetAdr),
        KEY(global, G, "Launch", "WaitingTime", "9", WaitingTime),
        KEY(device, D, "Launch", "ConfigIndex", "1", DeviceConfigurationIndex),
        KEY(device, D, "Launch", "DeviceSpeedIndex", "3", DeviceSpeedIndex),
        KEY(device, D, "Parameters", "KU1", "100", KU1),
        KEY(device, D, "Parameters", "KU2", "100", KU2),
        KEY(device, D, "Parameters", "KI1", "5", KI1),
        KEY(device, D, "Parameters", "KI2", "5", KI2),
    };
#undef KEY
    for (const Key &k : keys)
        EXPECT_EQ(k.read(), QString::fromUtf8(k.defaultText)) << k.key;

    // Each key is written under its own name and read back as typed, without any check.
    int n = 0;
    for (const Key &k : keys) {
        const QString typed = QStringLiteral("v%1,5 x").arg(++n);
        k.write(typed);
        EXPECT_EQ(config.ini.ReadString(k.section, k.key, "<absent>"), typed) << k.key;
    }
    n = 0;
    for (const Key &k : keys)
        EXPECT_EQ(k.read(), QStringLiteral("v%1,5 x").arg(++n)) << k.key;

    // Another object on the same store sees the values at once.
    TGlobalConfig other(&config);
    EXPECT_EQ(other.ReadI0_5(), QStringLiteral("v3,5 x"));
}

TEST(GlobalConfig, Flags)
{
    TConfigController config(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TGlobalConfig global(&config);
    struct Flag {
        const char *key;
        std::function<bool()> read;
        std::function<void(bool)> write;
    } flags[] = {
        {"OptionIb", [&] { return global.ReadOptionIb(); }, [&](bool v) { global.WriteOptionIb(v); }},
        {"UseTransfCoefsForKestParams", [&] { return global.ReadUseTransfCoefsForKestParams(); },
            [&](bool v) { global.WriteUseTransfCoefsForKestParams(v); }},
        {"AnalogValuesAsMiliAmpers", [&] { return global.ReadAnalogValuesAsMiliAmpers(); },
            [&](bool v) { global.WriteAnalogValuesAsMiliAmpers(v); }},
        {"EnableAnalog", [&] { return global.ReadEnableAnalog(); }, [&](bool v) { global.WriteEnableAnalog(v); }},
    };
    for (const Flag &f : flags) {
        EXPECT_FALSE(f.read()) << f.key;
        f.write(true);
        EXPECT_EQ(config.ini.ReadString("launch", f.key, ""), QStringLiteral("1")) << f.key;
        EXPECT_TRUE(f.read()) << f.key;
        f.write(false);
        EXPECT_EQ(config.ini.ReadString("Launch", f.key, ""), QStringLiteral("0")) << f.key;
    }
}

TEST(DeviceSettingsConfig, CreatesTheReportsFolder)
{
    TConfigController config(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    EXPECT_FALSE(QFileInfo(config.programFolder + "/Отчёты").exists());
    TDeviceSettingsConfig device(&config);
    EXPECT_TRUE(QFileInfo(config.programFolder + "/Отчёты").isDir());
    EXPECT_EQ(device.ReportsFolder(), config.programFolder + "/Отчёты");
    TDeviceSettingsConfig again(&config); // an existing folder is fine
    EXPECT_TRUE(QFileInfo(again.ReportsFolder()).isDir());
}

} // namespace
