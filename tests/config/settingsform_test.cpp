// The settings dialog driven offscreen: filling, confirming, cancelling, port lists and repairs.

#include "config/configcontroller.h"
#include "config/settingsform.h"
#include "testhome.h"
#include "transport/cominterface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

QStringList Items(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// A transport whose port cannot be closed, as a port that vanished under an open handle.
class TStuckTransport : public TComInterface {
public:
    using TComInterface::TComInterface;
    void ClosePort() override { throw EKestError(KestText::NoAnswer); }
};

class SettingsFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The port list takes the simulator's links from the runtime folder: two ports we control.
        runtime = KestTestHome::NewFolder();
        ::setenv("XDG_RUNTIME_DIR", runtime.toUtf8().constData(), 1);
        QDir().mkpath(runtime + "/kest-sim");
        for (const char *name : {"kestA", "kestB"}) {
            QFile target(runtime + "/" + name + ".dev");
            ASSERT_TRUE(target.open(QIODevice::WriteOnly));
            ASSERT_TRUE(QFile::link(target.fileName(), runtime + "/kest-sim/" + name));
        }
        portA = runtime + "/kest-sim/kestA";
        portB = runtime + "/kest-sim/kestB";
        config = std::make_unique<TConfigController>(
            KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
        port1 = std::make_unique<TComInterface>(nullptr, &callbacks);
        port2 = std::make_unique<TComInterface>(nullptr, &callbacks);
    }

    std::unique_ptr<TSettingsForm> Open()
    {
        auto form = std::make_unique<TSettingsForm>();
        form->SetErrorHandler([this](const QString &text) { errors << text; });
        form->SetDeviceInterfaceAndConfigController(port1.get(), port2.get(), config.get());
        form->show();
        return form;
    }

    QString runtime, portA, portB;
    TCallBackObject callbacks;
    std::unique_ptr<TConfigController> config;
    std::unique_ptr<TComInterface> port1, port2;
    QStringList errors;
};

TEST_F(SettingsFormTest, FreshSettingsShowEveryDefault)
{
    auto form = Open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Настройки"));
    const std::pair<const char *, const char *> edits[] = {
        {"edI1", "1"},
        {"edI5", "5"},
        {"edI0_5", "0,5"},
        {"edI2_5", "2,5"},
        {"edU100_3", "100"},
        {"edU100_4", "57,74"},
        {"edU380_3", "380"},
        {"edU380_4", "219,39"},
        {"edU400_3", "400"},
        {"edU400_4", "230,94"},
        {"edError", "0,2"},
        {"edFreqError", "0,05"},
        {"edAnalogError", "0,5"},
        {"edAruError", "1"},
    };
    for (const auto &[name, text] : edits) {
        auto *edit = form->findChild<QLineEdit *>(name);
        ASSERT_TRUE(edit) << name;
        EXPECT_EQ(edit->text().toStdString(), text) << name;
    }
    for (const char *name : {"chkOptionIb", "chkUseTransfCoefs", "chkAnalogAsMiliAmpers"})
        EXPECT_FALSE(form->findChild<QCheckBox *>(name)->isChecked()) << name;
    EXPECT_EQ(form->seWaitingTime->value(), 9);
    EXPECT_EQ(form->seWaitingTime->minimum(), 1);
    EXPECT_EQ(form->seWaitingTime->maximum(), 60);

    EXPECT_EQ(form->cbKestPort->currentText(), QString());
    EXPECT_EQ(form->cbDevicePort->currentText(), QString());
    EXPECT_TRUE(Items(form->cbKestPort).contains(portA));
    EXPECT_TRUE(Items(form->cbDevicePort).contains(portB));
    EXPECT_EQ(Items(form->cbKestRate), QStringList{"115200"});
    EXPECT_EQ(form->cbKestRate->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(Items(form->cbDeviceRate), TSettingsForm::Port2Rates());
    EXPECT_EQ(TSettingsForm::Port2Rates(),
        (QStringList{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(form->cbDeviceRate->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(ReadAll(config->settingsPath), QByteArray("<absent>")) << "opening writes nothing";

    // Opening again, in a new dialog or by initialising a kept one again, never doubles a list.
    auto second = Open();
    EXPECT_EQ(second->cbDeviceRate->count(), 8);
    const int ports = form->cbKestPort->count();
    form->SetDeviceInterfaceAndConfigController(port1.get(), port2.get(), config.get());
    EXPECT_EQ(form->cbDeviceRate->count(), 8);
    EXPECT_EQ(form->cbKestRate->count(), 1);
    EXPECT_EQ(form->cbKestPort->count(), ports);
}

TEST_F(SettingsFormTest, StoredPortShownOnlyWhenPresent)
{
    config->WritePort("Port1", portA);
    config->WriteRate("Port1", "9600"); // shown whatever it is
    config->WritePort("Port2", runtime + "/kest-sim/gone");
    config->WriteRate("Port2", "300");
    auto form = Open();
    EXPECT_EQ(form->cbKestPort->currentText(), portA);
    EXPECT_EQ(form->cbKestRate->currentText(), QStringLiteral("9600"));
    EXPECT_EQ(form->cbDevicePort->currentText(), QString());
    EXPECT_EQ(form->cbDeviceRate->currentText(), QStringLiteral("300"));

    // A name that is only part of a listed one is not the same port.
    config->WritePort("Port1", portA.left(portA.size() - 1));
    EXPECT_EQ(Open()->cbKestPort->currentText(), QString());
}

TEST_F(SettingsFormTest, OkWritesEverythingInOrderAndSetsTheTransports)
{
    auto form = Open();
    form->cbKestPort->setEditText(portA);
    form->cbDevicePort->setEditText(portB);
    form->cbDeviceRate->setCurrentIndex(TSettingsForm::Port2Rates().indexOf("57600"));
    form->edI0_5->setText("0,6");
    form->edError->setText("abc"); // stored as typed, no check
    form->chkOptionIb->setChecked(true);
    form->chkAnalogAsMiliAmpers->setChecked(true);
    form->seWaitingTime->setValue(15);

    int fileWrites = 0;
    TIniFile::SetWriteFaultHookForTesting([&](TIniFile::TWriteStage s) {
        fileWrites += s == TIniFile::TWriteStage::CreateTemp;
        return false;
    });
    QTest::mouseClick(form->btnOK, Qt::LeftButton);
    TIniFile::SetWriteFaultHookForTesting({});
    EXPECT_EQ(fileWrites, 1) << "all values in one atomic write";
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(errors.isEmpty());

    // On a fresh file every write appends, so the file shows the order of the writes.
    const QString expected = QStringLiteral(
        "[Port1]\nPort=%1\nRate=115200\n"
        "[Port2]\nPort=%2\nRate=57600\n"
        "[Parameters]\nI1=1\nI5=5\nI0,5=0,6\nI2.5=2,5\nU100_3=100\nU100_4=57,74\nU380_3=380\nU380_4=219,39\n"
        "U400_3=400\nU400_4=230,94\n"
        "[Launch]\nError=abc\nFreqError=0,05\nAnalogError=0,5\nAruError=1\nOptionIb=1\n"
        "UseTransfCoefsForKestParams=0\nAnalogValuesAsMiliAmpers=1\nWaitingTime=15\n")
                                 .arg(portA, portB);
    EXPECT_EQ(QString::fromUtf8(ReadAll(config->settingsPath)), expected);

    EXPECT_EQ(port1->Port(), portA.toStdString());
    EXPECT_EQ(port1->Rate(), 115200);
    EXPECT_EQ(port2->Port(), portB.toStdString());
    EXPECT_EQ(port2->Rate(), 57600);
}

TEST_F(SettingsFormTest, CancelWritesNothing)
{
    config->WriteRate("Port2", "9600");
    const QByteArray before = ReadAll(config->settingsPath);
    port2->SetRate("9600");
    auto form = Open();
    form->edI1->setText("2");
    form->cbDeviceRate->setEditText("1200");
    form->seWaitingTime->setValue(3);
    QTest::mouseClick(form->btnCancel, Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(ReadAll(config->settingsPath), before);
    EXPECT_EQ(port2->Rate(), 9600);
}

TEST_F(SettingsFormTest, WaitingTimeRepair)
{
    struct Case {
        const char *stored;
        int shown;
        const char *afterOpening;
    } cases[] = {
        {"abc", 9, "9"},
        {"2,5", 9, "9"},
        {"", 9, "9"},
        {"30", 30, "30"},
        {" 12 ", 12, "12"},
        {"1", 1, "1"},
    };
    for (const Case &c : cases) {
        TGlobalConfig(config.get()).WriteWaitingTime(c.stored);
        auto form = Open();
        EXPECT_EQ(form->seWaitingTime->value(), c.shown) << c.stored;
        EXPECT_EQ(config->ini.ReadString("Launch", "WaitingTime", "").toStdString(), c.afterOpening) << c.stored;
    }
}

TEST_F(SettingsFormTest, FailingPortStillSavesAndCloses)
{
    port1 = std::make_unique<TStuckTransport>(nullptr, &callbacks);
    auto form = Open();
    form->cbKestPort->setEditText(portB);
    form->edAruError->setText("2");
    form->btnOK->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(errors, QStringList{"Нет ответа"});
    EXPECT_EQ(TGlobalConfig(config.get()).ReadAruError(), QStringLiteral("2"));
    EXPECT_EQ(config->ReadPort("Port1"), portB);
}

TEST_F(SettingsFormTest, WithoutTransportsOnlyValues)
{
    auto form = std::make_unique<TSettingsForm>();
    form->SetDeviceInterfaceAndConfigController(nullptr, nullptr, config.get());
    EXPECT_EQ(form->cbKestPort->count(), 0);
    EXPECT_EQ(form->cbDeviceRate->count(), 0) << "port lists are skipped without the first transport";
    EXPECT_EQ(form->edU380_4->text(), QStringLiteral("219,39"));
    form->edU380_4->setText("220");
    form->btnOK->click();
    EXPECT_EQ(TGlobalConfig(config.get()).ReadU380_4(), QStringLiteral("220"));
}

// A picture of the filled dialog in the build folder, for a person to look at.
TEST_F(SettingsFormTest, Screenshot)
{
    config->WritePort("Port1", portA);
    auto form = Open();
    form->adjustSize();
    const QImage image = form->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_LT(image.width(), 1000);
    EXPECT_LT(image.height(), 900);
    const char *dir = std::getenv("KEST_BINARY_DIR");
    const QString path = QString::fromUtf8(dir && *dir ? dir : ".") + "/settingsform.png";
    EXPECT_TRUE(image.save(path)) << path.toStdString();
}

} // namespace
