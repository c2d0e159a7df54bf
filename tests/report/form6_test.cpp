// The report header window: every field loaded and stored, the echo labels, the template
// choosers opening in the reports folder, and a stored date that is not a date.

#include "testhome.h"

#include "config/configcontroller.h"
#include "journal/labregistry.h"
#include "lab/labconfig.h"
#include "presentation/controls/messageservice.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/report/form6.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QPushButton *Button(QWidget *window, const QString &text)
{
    for (QPushButton *button : window->findChildren<QPushButton *>())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace

TEST(Form6, LoadsEchoesChoosesTemplatesAndStoresTheHeader)
{
    TConfigController settings(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TAvtopoverkaReportConfig config(&settings);
    TReportData stored;
    stored.ProtocolNum = "12";
    stored.Verifier = "Иванов";
    stored.Date = "07.08.2023";
    config.WriteReportData(stored);
    config.WriteExcelTemplatePath("/нет/такой/папки/шаблон.xlsx");
    // The laboratory's fields: each under its caption, shown as stored, stored again as edited.
    const struct {
        const char *key;
        const char *caption;
        QString TReportData::*member;
    } lab[] = {
        {"LabName", "Поверяющая организация", &TReportData::LabName},
        {"LabAccreditation", "Номер аттестата аккредитации", &TReportData::LabAccreditation},
        {"DeviceOwner", "Владелец СИ", &TReportData::DeviceOwner},
        {"DeviceType", "Тип СИ", &TReportData::DeviceType},
        {"RegistryNum", "Регистрационный номер типа СИ (ГРСИ)", &TReportData::RegistryNum},
        {"PoverkaMethod", "Методика поверки (МП)", &TReportData::PoverkaMethod},
        {"Checker", "Проверил", &TReportData::Checker},
    };
    for (const auto &f : lab)
        settings.ini.WriteString("Report", f.key, QStringLiteral("было %1").arg(f.key));

    QStringList messages;
    TScopedMessageHandler handler([&](QWidget *, const TMessageService::TMessage &m) {
        messages << m.text;
        return QMessageBox::Ok;
    });
    QPointer<TForm6> form = new TForm6(&settings);
    form->show();
    EXPECT_EQ(form->windowTitle(), "Отчёт");
    EXPECT_FALSE(form->isModal());
    auto field = [&](const char *name) { return form->findChild<QLineEdit *>(name); };
    EXPECT_EQ(field("ProtocolNum")->text(), "12");
    EXPECT_EQ(field("Verifier")->text(), "Иванов");
    EXPECT_EQ(form->findChild<QDateEdit *>("Date")->date(), QDate(2023, 8, 7));
    EXPECT_TRUE(field("WordTemplatePath")->isReadOnly());
    EXPECT_EQ(field("ExcelTemplatePath")->text(), "/нет/такой/папки/шаблон.xlsx");
    QStringList labels;
    for (QLabel *label : form->findChildren<QLabel *>())
        labels << label->text();
    for (const char *label :
        {"Протокол №", "Поверки устройства", "№", "1. Дата поверки", "2. Заводской номер СИ и год выпуска",
            "3. Условия проведения поверки", "4. Наименование, тип и номер применяемого измерительного оборудования",
            "5. Наименование и обозначение документа, по которому проводилась поверка", "6.1 Внешний осмотр",
            "6.2 Электрическая прочность изоляции", "6.3 Определение пульсации выходного аналогового значения",
            "7. Заключение по результатам поверки", "Поверитель", "Устройство"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(label))) << label;
    for (const auto &f : lab) {
        EXPECT_TRUE(labels.contains(QString::fromUtf8(f.caption))) << f.caption;
        ASSERT_TRUE(field(f.key)) << f.key;
        EXPECT_EQ(field(f.key)->text(), QStringLiteral("было %1").arg(f.key));
        field(f.key)->setText(QStringLiteral("стало %1").arg(f.key));
    }

    // The device name and number echo as typed; dashes while empty.
    QLabel *nameEcho = form->findChild<QLabel *>("DeviceNameEcho");
    QLabel *numberEcho = form->findChild<QLabel *>("DeviceNumEcho");
    EXPECT_EQ(nameEcho->text(), "---");
    EXPECT_EQ(numberEcho->text(), "----------");
    QTest::keyClicks(field("DeviceName"), "QX4");
    QTest::keyClicks(field("DeviceNum"), "77");
    EXPECT_EQ(nameEcho->text(), "QX4");
    EXPECT_EQ(numberEcho->text(), "77");

    // The choosers open in the reports folder (the stored Excel template's folder does not exist).
    QStringList folders;
    form->SetFileChooser([&](QWidget *, const QString &folder) {
        folders << folder;
        return folders.size() == 1 ? QString("/шаблоны/протокол.docx") : QString();
    });
    Button(form, "Шаблон Word")->click();
    Button(form, "Шаблон Excel")->click(); // cancelled: the path stays
    EXPECT_EQ(folders, QStringList({config.ReportsFolder(), config.ReportsFolder()}));
    EXPECT_EQ(field("WordTemplatePath")->text(), "/шаблоны/протокол.docx");

    field("Conclusion")->setText("годен");
    form->findChild<QDateEdit *>("Date")->setDate(QDate(2024, 1, 31));
    Button(form, "ОК")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(form.isNull()); // closed and gone
    const TReportData saved = config.ReadReportData();
    EXPECT_EQ(saved.DeviceName, "QX4");
    EXPECT_EQ(saved.DeviceNum, "77");
    EXPECT_EQ(saved.Conclusion, "годен");
    EXPECT_EQ(saved.ProtocolNum, "12");
    EXPECT_EQ(settings.ini.ReadString("Report", "Date", ""), "31.01.2024");
    EXPECT_EQ(config.ReadWordTemplatePath(), "/шаблоны/протокол.docx");
    EXPECT_EQ(config.ReadExcelTemplatePath(), "/нет/такой/папки/шаблон.xlsx");
    for (const auto &f : lab) {
        EXPECT_EQ(settings.ini.ReadString("Report", f.key, ""), QStringLiteral("стало %1").arg(f.key));
        EXPECT_EQ(saved.*f.member, QStringLiteral("стало %1").arg(f.key));
    }
    EXPECT_TRUE(messages.isEmpty());

    // A stored date that does not convert: the window opens on today's date and says why.
    settings.ini.WriteString("Report", "Date", "31/01/2024");
    auto *again = new TForm6(&settings);
    EXPECT_EQ(again->findChild<QDateEdit *>("Date")->date(), QDate::currentDate());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("31/01/2024"));
    delete again;
}

// With a register of instrument types: choosing one fills the type, its register number and method; the
// choice is remembered for the device number and offered again for it, and only for it.
TEST(Form6, InstrumentTypeFromTheRegisterFillsTheHeaderAndIsRememberedPerDevice)
{
    TConfigController settings(KestTestHome::NewFolder(), "/Valtrix", "KestManager", "/Settings.txt");
    TMemoryLabRegistry registry;
    TInstrumentType qx4{{}, "Преобразователь QX4", "74910-19", {}, "МП 2203-0123-2021", 12};
    TInstrumentType old{{}, "Преобразователь старый", "11111-01", {}, "МП 1", 24};
    old.retired = true;
    ASSERT_TRUE(registry.SaveType(qx4) && registry.SaveType(old));

    QPointer<TForm6> window = new TForm6(&settings, nullptr, &registry);
    auto *type = window->findChild<QComboBox *>("InstrumentType");
    ASSERT_TRUE(type);
    ASSERT_EQ(type->count(), 2); // "—" and the one in use; the retired type is not offered
    type->setCurrentIndex(1);
    emit type->activated(1);
    auto field = [&](const char *name) { return window->findChild<QLineEdit *>(name); };
    EXPECT_EQ(field("DeviceType")->text(), qx4.name);
    EXPECT_EQ(field("RegistryNum")->text(), qx4.typeNumber);
    EXPECT_EQ(field("PoverkaMethod")->text(), qx4.procedure);
    auto *asStandard = window->findChild<QCheckBox *>("UsedAsStandard");
    ASSERT_TRUE(asStandard);
    EXPECT_FALSE(field("StandardRegNumber")->isEnabled()) << "a number only for a standard";
    field("DeviceNum")->setText("A-17");
    asStandard->setChecked(true);
    EXPECT_TRUE(field("StandardRegNumber")->isEnabled());
    field("StandardRegNumber")->setText(" 3.1.ZZT.0456.2024 ");
    Button(window, "ОК")->click();
    EXPECT_EQ(TLabConfig(&settings).ReadTypeForDevice("A-17"), qx4.id);
    EXPECT_EQ(TLabConfig(&settings).ReadStandardUseForDevice("A-17"), (TStandardUse{true, "3.1.ZZT.0456.2024"}));

    window = new TForm6(&settings, nullptr, &registry);
    type = window->findChild<QComboBox *>("InstrumentType");
    EXPECT_EQ(type->currentData().toString(), qx4.id);
    QLineEdit *number = window->findChild<QLineEdit *>("DeviceNum");
    asStandard = window->findChild<QCheckBox *>("UsedAsStandard");
    EXPECT_TRUE(asStandard->isChecked());
    number->selectAll();
    QTest::keyClicks(number, "B-2");
    EXPECT_EQ(type->currentIndex(), 0);
    EXPECT_FALSE(asStandard->isChecked());
    EXPECT_TRUE(field("StandardRegNumber")->text().isEmpty());
    number->selectAll();
    QTest::keyClicks(number, "A-17");
    EXPECT_EQ(type->currentData().toString(), qx4.id);
    EXPECT_EQ(field("StandardRegNumber")->text(), "3.1.ZZT.0456.2024");
    // Marked without a number, then unmarked: the mark goes, not just the number.
    asStandard->setChecked(true);
    field("StandardRegNumber")->clear();
    Button(window, "ОК")->click();
    EXPECT_EQ(TLabConfig(&settings).ReadStandardUseForDevice("A-17"), (TStandardUse{true, ""}));
    window = new TForm6(&settings, nullptr, &registry);
    window->findChild<QCheckBox *>("UsedAsStandard")->setChecked(false);
    Button(window, "ОК")->click();
    EXPECT_EQ(TLabConfig(&settings).ReadStandardUseForDevice("A-17"), TStandardUse());
    delete window;
}
