// The verification configuration on a real settings file: defaults, the sections and the stored
// bytes of every configuration, the list edges, and a store that cannot be read or written.

#include "config/configcontroller.h"
#include "testhome.h"
#include "verification/avtopoverkaconfig.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString ReadText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

std::unique_ptr<TConfigController> NewStore()
{
    return std::make_unique<TConfigController>(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
}

QStringList Numbers(int from, int to)
{
    QStringList list;
    for (int i = from; i <= to; ++i)
        list << QString::number(i);
    return list;
}

struct THookGuard {
    ~THookGuard() { TIniFile::SetWriteFaultHookForTesting({}); }
};

TEST(AvtopoverkaConfig, DefaultsOfAFileWithoutTheseSections)
{
    auto store = NewStore();
    store->WritePort("Port1", "/dev/ttyUSB0"); // a file, but none of the verification sections
    TSuperAvtopoverkaConfig base(store.get());
    for (const char *code : {"QX4", "I", "U", "PQ", "QX4E"}) {
        SCOPED_TRACE(code);
        const auto config = CreateAvtopoverkaConfig(*ConfigurationFromName(code), store.get());
        EXPECT_EQ(config->Code(), code);
        EXPECT_EQ(config->ReadTabNames(), Numbers(1, 10));
        for (int tab : {0, 9}) {
            EXPECT_TRUE(config->ReadTabOutputSet(tab).isEmpty());
            EXPECT_TRUE(config->ReadRemovedTabInputSet(tab).isEmpty());
            EXPECT_TRUE(config->ReadTabOutputAnalogPortSet(tab).isEmpty());
            EXPECT_TRUE(config->ReadTabOutputAnalogParamSet(tab).isEmpty());
        }
        EXPECT_EQ(config->ReadInterfaceValues(), QStringList(11, "0")) << "eleven items, all RS";
        EXPECT_EQ(config->ReadAvtopoverkaWindowCoordX(), 100);
        EXPECT_EQ(config->ReadAvtopoverkaWindowCoordY(), 100);
    }
    EXPECT_EQ(base.ReadTabNames(), Numbers(1, 10));
    EXPECT_TRUE(base.ReadInterfaceValues().isEmpty());
    // Configurations without a window of their own share the PQ entries.
    for (const char *code : {"F", "P", "Q", "PQ"})
        EXPECT_EQ(CreateAvtopoverkaConfig(*ConfigurationFromName(code), store.get())->Code(), "PQ") << code;
}

// Every operation of every configuration writes its own section and key, with the stored bytes
// the settings file has always had.
TEST(AvtopoverkaConfig, SectionsAndStoredLinesOfEachConfiguration)
{
    struct TCase {
        const char *code;
        const char *analogParamSection;
    };
    const TCase cases[] = {
        {"QX4", "ScenarioAnalogOutputParamNumsQX4"},
        {"I", "ScenarioOutputParamNumsI"},
        {"U", "ScenarioAnalogOutputParamNumsU"},
        {"PQ", "ScenarioAnalogOutputParamNumsPQ"},
        {"QX4E", "ScenarioAnalogOutputParamNumsQX4E"},
    };
    auto store = NewStore();
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.code);
        const QString code = c.code;
        const auto config = CreateAvtopoverkaConfig(*ConfigurationFromName(code), store.get());
        config->WriteTabOutputSet(0, {"4", "22", "23"});
        config->WriteRemovedTabInputSet(3, {"103", "102"});
        config->WriteTabOutputAnalogPortSet(9, {"1", "3"});
        config->WriteTabOutputAnalogParamSet(2, {"22", "23", "0"});
        QStringList interfaces(10, "0");
        interfaces[1] = "-1";
        config->WriteInterfaceValues(interfaces);
        config->WriteTabNames({"Ток, A", "say \"hi\"", "3"});

        const QString text = ReadText(store->settingsPath);
        EXPECT_TRUE(text.contains("[ScenarioOutputColNums" + code + "]\n0=4,22,23\n")) << text.toStdString();
        EXPECT_TRUE(text.contains("[ScenarioRemovedInputColNumsTag" + code + "]\n3=103,102\n"));
        EXPECT_TRUE(text.contains("[ScenarioAnalogOutputColNums" + code + "]\n9=1,3\n"));
        EXPECT_TRUE(text.contains(QString("[") + c.analogParamSection + "]\n2=22,23,0\n"));
        EXPECT_TRUE(text.contains("\n" + code + "=0,-1,0,0,0,0,0,0,0,0\n"));
        EXPECT_TRUE(text.contains("\n" + code + "=\"Ток, A\",\"say \"\"hi\"\"\",3\n"));

        EXPECT_EQ(config->ReadTabOutputSet(0), QStringList({"4", "22", "23"}));
        EXPECT_EQ(config->ReadRemovedTabInputSet(3), QStringList({"103", "102"}));
        EXPECT_EQ(config->ReadTabOutputAnalogPortSet(9), QStringList({"1", "3"}));
        EXPECT_EQ(config->ReadTabOutputAnalogParamSet(2), QStringList({"22", "23", "0"}));
        EXPECT_EQ(config->ReadInterfaceValues(), interfaces + QStringList{"0"});
        QStringList names = Numbers(1, 10);
        names[0] = "Ток, A";
        names[1] = "say \"hi\"";
        EXPECT_EQ(config->ReadTabNames(), names) << "a comma and a double quote survive";
    }
    const QString text = ReadText(store->settingsPath);
    EXPECT_FALSE(text.contains("ScenarioAnalogOutputParamNumsI]"));
    EXPECT_TRUE(text.contains("[ScenarioTabInterface]\nQX4="));
    EXPECT_TRUE(text.contains("[ScenarioTabNames]\nQX4="));

    // The base class keeps its own entries.
    TSuperAvtopoverkaConfig base(store.get());
    base.WriteTabNames({"a"});
    base.WriteTabOutputSet(1, {"26"});
    base.WriteRemovedTabInputSet(1, {"100"});
    const QString after = ReadText(store->settingsPath);
    EXPECT_TRUE(after.contains("[Settings]\nTabNames=a\n"));
    EXPECT_TRUE(after.contains("[OutputCols]\n1=26\n"));
    EXPECT_TRUE(after.contains("[RemovedInputColNums]\n1=100\n"));
    EXPECT_EQ(base.ReadTabOutputSet(1), QStringList{"26"});
}

TEST(AvtopoverkaConfig, ListEdgesWindowPositionAndStoreFailures)
{
    auto store = NewStore();
    TConfigQX4 config(store.get());
    const QStringList twelve = Numbers(101, 112);
    config.WriteTabNames(twelve);
    EXPECT_EQ(config.ReadTabNames(), twelve.mid(0, 10)) << "names beyond the tenth are ignored";

    store->ini.WriteString("ScenarioTabInterface", "QX4", "-1");
    QStringList expected(11, "0");
    expected[0] = "-1";
    EXPECT_EQ(config.ReadInterfaceValues(), expected) << "\"-1\" alone: tab 0 analog";
    store->ini.WriteString("ScenarioTabInterface", "QX4", Numbers(1, 12).join(','));
    EXPECT_EQ(config.ReadInterfaceValues().size(), 12) << "a longer list is not cut";
    store->ini.WriteString("ScenarioOutputColNumsQX4", "0", " 4 , x ,22");
    EXPECT_EQ(config.ReadTabOutputSet(0), QStringList({"4", "x", "22"})) << "items trimmed, not converted";

    struct TBool {
        const char *text;
        bool analog;
        bool ok;
    };
    for (const TBool &b :
        {TBool{"0", false, true}, TBool{"-1", true, true}, TBool{"7", true, true}, TBool{"True", true, true},
            TBool{"false", false, true}, TBool{"", false, false}, TBool{"да", false, false}}) {
        bool ok = !b.ok;
        EXPECT_EQ(InterfaceValueIsAnalog(b.text, &ok), b.analog) << b.text;
        EXPECT_EQ(ok, b.ok) << b.text;
    }

    EXPECT_TRUE(TStringManager::DoesListContainValue("22", {"4", "22"}));
    EXPECT_FALSE(TStringManager::DoesListContainValue("2", {"4", "22"}));
    EXPECT_FALSE(TStringManager::DoesListContainValue("p", {"P"}));
    EXPECT_FALSE(TStringManager::DoesListContainValue("", {}));

    config.WriteAvtopoverkaWindowCoordX(-20);
    config.WriteAvtopoverkaWindowCoordY(640);
    EXPECT_EQ(config.ReadAvtopoverkaWindowCoordX(), -20);
    EXPECT_EQ(config.ReadAvtopoverkaWindowCoordY(), 640);

    // A failed write leaves the file as it was.
    const QString before = ReadText(store->settingsPath);
    {
        THookGuard guard;
        TIniFile::SetWriteFaultHookForTesting(
            [](TIniFile::TWriteStage s) { return s == TIniFile::TWriteStage::Rename; });
        config.WriteTabOutputSet(5, {"1"});
        config.WriteInterfaceValues(QStringList(10, "-1"));
        config.WriteTabNames({"x"});
    }
    EXPECT_EQ(ReadText(store->settingsPath), before);

    // A store that cannot be read: defaults, never an exception.
    QFile::remove(store->settingsPath);
    ASSERT_TRUE(QDir().mkdir(store->settingsPath));
    EXPECT_EQ(config.ReadTabNames(), Numbers(1, 10));
    EXPECT_TRUE(config.ReadTabOutputSet(0).isEmpty());
    EXPECT_EQ(config.ReadInterfaceValues(), QStringList(11, "0"));
    EXPECT_EQ(config.ReadAvtopoverkaWindowCoordX(), 0);
    EXPECT_EQ(config.ReadAvtopoverkaWindowCoordY(), 0);
    config.WriteTabOutputSet(0, {"1"}); // dropped
}

} // namespace
