// The laboratory's windows driven as a user drives them: fields typed, buttons pressed, message
// boxes answered. What reaches the register (or what a dialog returns) is checked, with the
// refusals that keep a dialog open as typed; a screenshot of each window lands in the build folder.

#include "lab/window/conditionsdialog.h"
#include "lab/window/instrumenttypedialog.h"
#include "lab/window/instrumenttypeswindow.h"
#include "lab/window/standarddialog.h"
#include "lab/window/standardswindow.h"
#include "lab/window/verdictdialog.h"
#include "presentation/controls/floatspinedit.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/windowscolor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>

namespace {

QString OutputFolder()
{
    const char *binary = std::getenv("KEST_BINARY_DIR");
    return binary && *binary ? QString::fromLocal8Bit(binary) : QDir::currentPath();
}

void Screenshot(QWidget *widget, const char *name)
{
    widget->show();
    QTest::qWait(20);
    EXPECT_TRUE(widget->grab().save(OutputFolder() + "/" + name)) << name;
}

// Answers boxes from a queue of Yes/No (Yes when empty) and records every text.
struct TBoxes {
    QStringList texts;
    std::deque<QMessageBox::StandardButton> answers;
    TScopedMessageHandler handler{[this](QWidget *, const TMessageService::TMessage &m) {
        texts << m.text;
        if (answers.empty())
            return QMessageBox::Yes;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }};
    QString TakeOne()
    {
        EXPECT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
        const QString text = texts.value(0);
        texts.clear();
        return text;
    }
};

template<class T> T *OpenDialog(QWidget *window, const char *name = nullptr)
{
    for (T *dialog : window->findChildren<T *>(name ? QString::fromLatin1(name) : QString()))
        if (dialog->isVisible())
            return dialog;
    return nullptr;
}

template<class T> T *Child(QWidget *parent, const char *name)
{
    T *child = parent->findChild<T *>(QString::fromLatin1(name));
    EXPECT_TRUE(child) << name;
    return child;
}

void Click(QWidget *parent, const char *name)
{
    QTest::mouseClick(Child<QPushButton>(parent, name), Qt::LeftButton);
}

// Key presses carrying the text (QTest's own spell ASCII only).
void KeyIn(QWidget *widget, const QString &text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(widget, &press);
        QCoreApplication::sendEvent(widget, &release);
    }
}

void Type(QWidget *parent, const char *name, const QString &text)
{
    auto *edit = Child<QLineEdit>(parent, name);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    KeyIn(edit, text);
}

QStringList Column(QTableWidget *table, int column)
{
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r)
        out << table->item(r, column)->text();
    return out;
}

int RowOf(QTableWidget *table, const QString &name)
{
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->item(r, 0)->text().startsWith(name))
            return r;
    return -1;
}

// A register whose next writes fail, as a server journal that went away does.
class TFlakyRegistry : public TMemoryLabRegistry {
public:
    int failures = 0;
    bool SaveType(TInstrumentType &type) override
    {
        return failures-- > 0 ? false : TMemoryLabRegistry::SaveType(type);
    }
    bool SaveStandard(TStandard &standard) override
    {
        return failures-- > 0 ? false : TMemoryLabRegistry::SaveStandard(standard);
    }
    QString LastError() const override { return QStringLiteral("нет связи с сервером"); }
};

TEST(LabWindows, InstrumentTypesAddEditRefuseRetire)
{
    TFlakyRegistry registry;
    TInstrumentType old;
    old.name = "Амперметр Э59";
    old.typeNumber = "1234-60";
    old.intervalMonths = 24;
    old.retired = true;
    TInstrumentType kept;
    kept.name = "Вольтметр В7";
    kept.typeNumber = "555-01";
    kept.intervalMonths = 12;
    ASSERT_TRUE(registry.SaveType(old) && registry.SaveType(kept));
    TBoxes boxes;
    TInstrumentTypesWindow window(&registry);
    window.show();
    EXPECT_EQ(window.windowTitle(), QString("Типы СИ"));
    auto *table = Child<QTableWidget>(&window, "typesTable");
    EXPECT_EQ(Column(table, 0), QStringList{"Вольтметр В7"});
    Child<QCheckBox>(&window, "showRetired")->setChecked(true);
    EXPECT_EQ(Column(table, 0), (QStringList{"Амперметр Э59 (выведен)", "Вольтметр В7"}));
    Child<QCheckBox>(&window, "showRetired")->setChecked(false);

    Click(&window, "addButton");
    QPointer<TInstrumentTypeDialog> dialog = OpenDialog<TInstrumentTypeDialog>(&window);
    ASSERT_TRUE(dialog);
    // Each refusal keeps the dialog open with every field as typed.
    struct TRefusal {
        const char *name, *typeNumber;
        int interval;
        const char *error, *says;
    };
    const TRefusal refusals[] = {
        {"", "74910-19", 48, "", "наименование"},
        {"  ", "74910-19", 48, "", "наименование"},
        {"QX4", "", 48, "", "ГРСИ"},
        {"QX4", "74910/19", 48, "", "ГРСИ"},
        {"QX4", "74910-", 48, "", "ГРСИ"},
        {"QX4", "-19", 48, "", "ГРСИ"},
        {"QX4", "7491019", 48, "", "ГРСИ"},
        {"QX4", "74910-19a", 48, "", "ГРСИ"},
        {"QX4", "74910-19", 0, "", "Интервал"},
        {"QX4", "74910-19", 48, "abc", "погрешность"},
        {"QX4", "74910-19", 48, "-0,1", "погрешность"},
    };
    for (const TRefusal &r : refusals) {
        Type(dialog, "name", QString::fromUtf8(r.name));
        Type(dialog, "typeNumber", QString::fromUtf8(r.typeNumber));
        Child<QSpinBox>(dialog, "interval")->setValue(r.interval);
        Type(dialog, "permissibleError", QString::fromUtf8(r.error));
        Click(dialog, "okButton");
        EXPECT_TRUE(boxes.TakeOne().contains(QString::fromUtf8(r.says))) << r.name << " " << r.typeNumber;
        EXPECT_TRUE(dialog && dialog->isVisible());
        EXPECT_EQ(Child<QLineEdit>(dialog, "typeNumber")->text(), QString::fromUtf8(r.typeNumber));
    }
    Type(dialog, "name", " Преобразователь QX4 ");
    Type(dialog, "typeNumber", "74910-19");
    Type(dialog, "modifications", "QX4-1, ,QX4-2 ");
    Type(dialog, "procedure", "МП 206.1-123-2019");
    Child<QSpinBox>(dialog, "interval")->setValue(48);
    Type(dialog, "permissibleError", "0,25");
    Child<QComboBox>(dialog, "kind")->setCurrentText("первичная");
    Type(dialog, "pointsSet", "Полный");
    Screenshot(dialog, "lab_type_dialog.png");
    // A write that fails keeps everything typed; the next "ОК" saves it.
    registry.failures = 1;
    Click(dialog, "okButton");
    EXPECT_EQ(boxes.TakeOne(), QString("Тип СИ не сохранён: нет связи с сервером"));
    ASSERT_TRUE(dialog && dialog->isVisible());
    Click(dialog, "okButton");
    EXPECT_FALSE(dialog && dialog->isVisible());
    const auto types = *registry.Types(false);
    ASSERT_EQ(types.size(), 2u);
    const TInstrumentType added = types[1];
    EXPECT_FALSE(added.id.isEmpty());
    EXPECT_EQ(added,
        (TInstrumentType{added.id, "Преобразователь QX4", "74910-19", {"QX4-1", "QX4-2"}, "МП 206.1-123-2019", 48, 0.25,
            TVerificationKind::Primary, "Полный", false}));
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(window.Selected()->id, added.id);
    const int row = RowOf(table, "Преобразователь QX4");
    EXPECT_EQ((QStringList{table->item(row, 1)->text(), table->item(row, 2)->text(), table->item(row, 3)->text(),
                  table->item(row, 4)->text(), table->item(row, 5)->text()}),
        (QStringList{"74910-19", "МП 206.1-123-2019", "48", "0,25", "первичная"}));

    // Editing shows what was saved and replaces the entry under the same id.
    Click(&window, "editButton");
    dialog = OpenDialog<TInstrumentTypeDialog>(&window);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Child<QLineEdit>(dialog, "modifications")->text(), QString("QX4-1, QX4-2"));
    EXPECT_EQ(Child<QLineEdit>(dialog, "permissibleError")->text(), QString("0,25"));
    Child<QSpinBox>(dialog, "interval")->setValue(24);
    Type(dialog, "permissibleError", "");
    Click(dialog, "okButton");
    EXPECT_TRUE(boxes.texts.isEmpty());
    TInstrumentType edited = *registry.Type(added.id);
    EXPECT_EQ(edited.intervalMonths, 24);
    EXPECT_EQ(edited.permissibleError, 0.0);
    EXPECT_EQ(registry.Types(true)->size(), 3u);
    EXPECT_EQ(table->item(RowOf(table, "Преобразователь QX4"), 4)->text(), QString("из настроек"));
    Screenshot(&window, "lab_types_window.png");

    // Retiring asks first; "Нет" changes nothing, "Да" hides it until retired ones are shown.
    table->selectRow(RowOf(table, "Преобразователь QX4"));
    boxes.answers = {QMessageBox::No};
    Click(&window, "retireButton");
    EXPECT_TRUE(boxes.TakeOne().contains("«Преобразователь QX4»"));
    EXPECT_FALSE(registry.Type(added.id)->retired);
    Click(&window, "retireButton");
    boxes.TakeOne();
    EXPECT_TRUE(registry.Type(added.id)->retired);
    EXPECT_EQ(Column(table, 0), QStringList{"Вольтметр В7"});
    Child<QCheckBox>(&window, "showRetired")->setChecked(true);
    EXPECT_EQ(
        Column(table, 0), (QStringList{"Амперметр Э59 (выведен)", "Вольтметр В7", "Преобразователь QX4 (выведен)"}));
    table->selectRow(0);
    EXPECT_FALSE(Child<QPushButton>(&window, "retireButton")->isEnabled());
}

TEST(LabWindows, StandardsRegisterValidityAndReverseTrace)
{
    const QDate today(2026, 6, 15);
    TFlakyRegistry registry;
    auto standard = [](const char *name, const QDate &validUntil, TStandardKind kind, const char *role) {
        TStandard s;
        s.name = QString::fromUtf8(name);
        s.serial = s.name.right(1);
        s.fundNumber = "57500.20.1Р.0001" + s.serial;
        s.certificate = "С-" + s.serial;
        s.validUntil = validUntil;
        s.kind = kind;
        s.role = QString::fromUtf8(role);
        return s;
    };
    TStandard installation = standard("Установка KEST-01", today.addDays(-1), TStandardKind::Installation, "");
    installation.errorLimits = {{TQuantityKind::Voltage, 0.05}};
    TStandard meter = standard("Термогигрометр ИВА-6", today, TStandardKind::Auxiliary, "термогигрометр");
    TStandard gone = standard("Барометр БАММ-1", today.addYears(-3), TStandardKind::Auxiliary, "");
    gone.retired = true;
    for (TStandard *s : {&installation, &meter, &gone})
        ASSERT_TRUE(registry.SaveStandard(*s));
    auto run = [](const char *started, const char *device, const char *verdict) {
        TJournalRunSummary summary;
        summary.id = TJournalRunId(QString::fromLatin1(device));
        summary.started = QDateTime::fromString(QString::fromLatin1(started), Qt::ISODate);
        summary.deviceNumber = QString::fromLatin1(device);
        summary.verifier = "Петров П. П.";
        summary.outcome = TJournalOutcome::Finished;
        summary.verdict = QString::fromUtf8(verdict);
        return summary;
    };
    registry.AddRun(run("2026-03-01T09:00:00", "151001", "пригоден"), {installation.id, meter.id});
    registry.AddRun(run("2026-05-10T08:00:00", "151002", "непригоден"), {installation.id});
    registry.AddRun(run("2026-05-20T10:00:00", "151003", "пригоден"), {installation.id});
    registry.AddRun(run("2026-05-21T10:00:00", "151004", "пригоден"), {meter.id});

    TBoxes boxes;
    TStandardsWindow window(&registry);
    window.SetToday(today);
    window.show();
    EXPECT_EQ(window.windowTitle(), QString("Эталоны"));
    auto *table = Child<QTableWidget>(&window, "standardsTable");
    auto *runs = Child<QTableWidget>(&window, "runsTable");
    EXPECT_EQ(Column(table, 0), (QStringList{"Термогигрометр ИВА-6", "Установка KEST-01"}));
    EXPECT_EQ(Column(table, 6), (QStringList{"термогигрометр", "установка"}));
    // Valid through its last day: red from the day after.
    EXPECT_EQ(Column(table, 5), (QStringList{"15.06.2026", "14.06.2026"}));
    EXPECT_NE(table->item(0, 5)->foreground().color(), ColorFromWindows(kWindowsRed));
    EXPECT_EQ(table->item(1, 5)->foreground().color(), ColorFromWindows(kWindowsRed));

    // The reverse trace: exactly the runs that used the selected standard, newest first.
    table->selectRow(1);
    EXPECT_EQ(Column(runs, 1), (QStringList{"151003", "151002", "151001"}));
    EXPECT_EQ(Column(runs, 3), (QStringList{"пригоден", "непригоден", "пригоден"}));
    EXPECT_EQ(Column(runs, 4), (QStringList{"", "", ""}));
    table->selectRow(0);
    EXPECT_EQ(Column(runs, 1), (QStringList{"151004", "151001"}));

    // Out of tolerance from 10.05: that day's run and later ones are flagged, earlier ones not.
    table->selectRow(1);
    Click(&window, "toleranceButton");
    QPointer<QDialog> ask = OpenDialog<QDialog>(&window, "toleranceDialog");
    ASSERT_TRUE(ask);
    Child<QDateEdit>(ask, "sinceDate")->setDate(QDate(2026, 5, 10));
    Click(ask, "okButton");
    EXPECT_FALSE(ask && ask->isVisible());
    EXPECT_EQ(registry.Standard(installation.id)->outOfToleranceSince, QDate(2026, 5, 10));
    EXPECT_EQ(window.Selected()->id, installation.id);
    EXPECT_EQ(Column(runs, 4), (QStringList{"да", "да", ""}));
    EXPECT_EQ(runs->item(1, 0)->background().color(), ColorFromWindows(7504122));
    EXPECT_TRUE(Child<QLabel>(&window, "runsLabel")->text().endsWith("после выхода из допуска: 2"));
    EXPECT_EQ(table->item(1, 7)->text(), QString("10.05.2026"));
    Screenshot(&window, "lab_standards_window.png");
    // Unmarking clears the flags.
    Click(&window, "toleranceButton");
    ask = OpenDialog<QDialog>(&window, "toleranceDialog");
    ASSERT_TRUE(ask);
    Click(ask, "clearButton");
    EXPECT_FALSE(registry.Standard(installation.id)->outOfToleranceSince.isValid());
    EXPECT_EQ(Column(runs, 4), (QStringList{"", "", ""}));

    // A new standard: refusals keep the dialog; limits belong to an installation only.
    Click(&window, "addButton");
    QPointer<TStandardDialog> dialog = OpenDialog<TStandardDialog>(&window);
    ASSERT_TRUE(dialog);
    auto *limits = Child<QGroupBox>(dialog, "limits");
    EXPECT_FALSE(limits->isHidden());
    Click(dialog, "okButton");
    EXPECT_EQ(
        boxes.TakeOne(), QString("Укажите: наименование, заводской номер, номер в ФИФ, свидетельство о поверке."));
    Type(dialog, "name", "Установка KEST-02");
    Type(dialog, "serial", "002");
    Type(dialog, "certificate", "С-9/26");
    Type(dialog, "typeNumber", "12345");
    Click(dialog, "okButton");
    EXPECT_EQ(boxes.TakeOne(), QString("Укажите: номер в ФИФ."));
    Type(dialog, "fundNumber", "57500.20.1Р.00099");
    Click(dialog, "okButton");
    EXPECT_TRUE(boxes.TakeOne().contains("ГРСИ"));
    ASSERT_TRUE(dialog && dialog->isVisible());
    Type(dialog, "typeNumber", "12345-26");
    Type(dialog, "type", "KEST-01");
    Child<QDateEdit>(dialog, "validUntil")->setDate(QDate(2027, 3, 31));
    const std::pair<const char *, const char *> typed[]
        = {{"limit_voltage", "0,05"}, {"limit_current", "0,1"}, {"limit_angle", "0"}};
    for (const auto &[name, text] : typed) {
        auto *edit = Child<TFloatSpinEdit>(dialog, name);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, QString::fromUtf8(text));
    }
    Screenshot(dialog, "lab_standard_dialog.png");
    // An auxiliary one hides the limits and keeps none; back to the installation they count again.
    auto *kind = Child<QComboBox>(dialog, "kind");
    kind->setCurrentText("вспомогательный");
    EXPECT_TRUE(limits->isHidden());
    kind->setCurrentText("установка");
    EXPECT_FALSE(limits->isHidden());
    Click(dialog, "okButton");
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();
    EXPECT_FALSE(dialog && dialog->isVisible());
    const TStandard added = *window.Selected();
    EXPECT_EQ(added,
        (TStandard{added.id, "Установка KEST-02", "KEST-01", "12345-26", "002", "57500.20.1Р.00099", "С-9/26",
            QDate(2027, 3, 31), TStandardKind::Installation, "",
            {{TQuantityKind::Voltage, 0.05}, {TQuantityKind::Current, 0.1}}, false, QDate()}));
    EXPECT_EQ(*registry.Standard(added.id), added);
    EXPECT_EQ(table->item(RowOf(table, "Установка KEST-02"), 6)->toolTip(),
        QString("Пределы погрешности: напряжение 0,05 %, ток 0,1 %"));

    // Editing an installation into an auxiliary one drops its limits.
    Click(&window, "editButton");
    dialog = OpenDialog<TStandardDialog>(&window);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Child<TFloatSpinEdit>(dialog, "limit_current")->Value(), 0.1);
    Child<QComboBox>(dialog, "kind")->setCurrentText("вспомогательный");
    Type(dialog, "role", "барометр");
    Click(dialog, "okButton");
    EXPECT_TRUE(registry.Standard(added.id)->errorLimits.empty());
    EXPECT_EQ(registry.Standard(added.id)->role, QString("барометр"));

    table->selectRow(RowOf(table, "Установка KEST-02"));
    Click(&window, "retireButton");
    EXPECT_TRUE(boxes.TakeOne().contains("заводской № 002"));
    EXPECT_TRUE(registry.Standard(added.id)->retired);
    EXPECT_EQ(RowOf(table, "Установка KEST-02"), -1);
    Child<QCheckBox>(&window, "showRetired")->setChecked(true);
    EXPECT_EQ(Column(table, 0),
        (QStringList{
            "Барометр БАММ-1 (выведен)", "Термогигрометр ИВА-6", "Установка KEST-01", "Установка KEST-02 (выведен)"}));
}

TEST(LabWindows, ConditionsRequiredOfferedAndQuestioned)
{
    TBoxes boxes;
    std::vector<TRunConditions> checked;
    auto checker = [&](const TRunConditions &c) {
        checked.push_back(c);
        return c.humidity && *c.humidity > 80 ? QStringList{"влажность 85 % вне 30–80 %", "вторая"} : QStringList{};
    };
    TConditionsDialog dialog(TRunConditions{21.5, 55, std::nullopt, 230, std::nullopt}, checker);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QString("Условия поверки"));
    EXPECT_EQ(Child<QLineEdit>(&dialog, "temperature")->text(), QString("21,5"));
    EXPECT_EQ(Child<QLineEdit>(&dialog, "supplyVoltage")->text(), QString("230"));
    EXPECT_EQ(Child<QLineEdit>(&dialog, "pressure")->text(), QString());

    struct TStep {
        const char *temperature, *humidity, *pressure, *voltage, *frequency;
        std::optional<QMessageBox::StandardButton> answer;
        const char *says; // the box shown; empty: none
        bool accepted;
    };
    const TStep steps[] = {
        {"21,5", "55", "", "230", "", {}, "Укажите давление.", false},
        {"", "", "", "", "", {}, "Укажите температуру, влажность, давление.", false},
        {"21,5", "abc", "101,3", "2x", "", {}, "Не число: «abc», «2x».", false},
        {"21,5", "85", "101,3", "230", "50", QMessageBox::No,
            "Условия вне нормальных: влажность 85 % вне 30–80 %; вторая. Продолжить?", false},
        {"21,5", "85", "101.3", "", "50", QMessageBox::Yes,
            "Условия вне нормальных: влажность 85 % вне 30–80 %; вторая. Продолжить?", true},
    };
    for (const TStep &s : steps) {
        Type(&dialog, "temperature", QString::fromUtf8(s.temperature));
        Type(&dialog, "humidity", QString::fromUtf8(s.humidity));
        Type(&dialog, "pressure", QString::fromUtf8(s.pressure));
        Type(&dialog, "supplyVoltage", QString::fromUtf8(s.voltage));
        Type(&dialog, "supplyFrequency", QString::fromUtf8(s.frequency));
        if (s.answer)
            boxes.answers = {*s.answer};
        if (!s.accepted)
            Screenshot(&dialog, "lab_conditions_dialog.png");
        Click(&dialog, "okButton");
        EXPECT_EQ(boxes.TakeOne(), QString::fromUtf8(s.says));
        EXPECT_EQ(dialog.isVisible(), !s.accepted) << s.says;
        EXPECT_EQ(Child<QLineEdit>(&dialog, "humidity")->text(), QString::fromUtf8(s.humidity));
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Conditions(), (TRunConditions{21.5, 85, 101.3, std::nullopt, 50}));
    // The checker judged only complete, numeric entries.
    ASSERT_EQ(checked.size(), 2u);
    EXPECT_EQ(checked[0], (TRunConditions{21.5, 85, 101.3, 230, 50}));

    // Within the normal conditions nothing is asked; cancelling keeps the values given.
    TConditionsDialog normal(TRunConditions{20, 50, 100, std::nullopt, std::nullopt}, checker);
    normal.show();
    Click(&normal, "okButton");
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(normal.Conditions(), (TRunConditions{20, 50, 100, std::nullopt, std::nullopt}));
    TConditionsDialog cancelled(TRunConditions{20, 50, 100, std::nullopt, std::nullopt}, {});
    cancelled.show();
    Type(&cancelled, "temperature", "30");
    Click(&cancelled, "cancelButton");
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(cancelled.Conditions().temperature, 20.0);
}

TEST(LabWindows, VerdictKeptOrReplacedWithReason)
{
    TVerdict unfit;
    unfit.reasons = QStringList{"превышение допускаемой основной погрешности: Ia при 5 A (−0,40 % при пределе ±0,2 %)"};
    TVerdict fit;
    fit.fit = true;
    struct TCase {
        TVerdict computed;
        bool chooseFit;
        const char *reason;
        bool cancel;
        bool refused; // "ОК" refused for want of a reason (then the reason is typed)
        std::optional<bool> result; // the replacing conclusion's fit; nullopt: none returned
    };
    const TCase cases[] = {
        {unfit, false, "", false, false, std::nullopt},
        {fit, true, "лишняя причина", false, false, std::nullopt},
        {unfit, true, "  перепроверено на эталоне № 2  ", false, true, true},
        {fit, false, "трещина корпуса", false, true, false},
        {fit, false, "трещина корпуса", true, false, std::nullopt},
    };
    for (const TCase &c : cases) {
        TBoxes boxes;
        TVerdictDialog dialog(c.computed, "Петров П. П.");
        dialog.show();
        EXPECT_EQ(dialog.windowTitle(), QString("Заключение"));
        EXPECT_EQ(Child<QLabel>(&dialog, "verdictText")->text(), "Заключение: " + c.computed.Text());
        EXPECT_EQ(Child<QPlainTextEdit>(&dialog, "reasons")->toPlainText(), c.computed.reasons.join("\n"));
        EXPECT_EQ(Child<QRadioButton>(&dialog, "fitButton")->isChecked(), c.computed.fit);
        Child<QRadioButton>(&dialog, c.chooseFit ? "fitButton" : "unfitButton")->setChecked(true);
        const QDateTime before = QDateTime::currentDateTime();
        if (c.refused) {
            Click(&dialog, "okButton");
            EXPECT_EQ(boxes.TakeOne(), QString("Укажите причину замены заключения."));
            ASSERT_TRUE(dialog.isVisible());
        }
        if (Child<QPlainTextEdit>(&dialog, "overrideReason")->isEnabled())
            KeyIn(Child<QPlainTextEdit>(&dialog, "overrideReason"), QString::fromUtf8(c.reason));
        if (&c == &cases[2])
            Screenshot(&dialog, "lab_verdict_dialog.png");
        Click(&dialog, c.cancel ? "cancelButton" : "okButton");
        EXPECT_TRUE(boxes.texts.isEmpty());
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), c.cancel ? QDialog::Rejected : QDialog::Accepted);
        ASSERT_EQ(dialog.Result().has_value(), c.result.has_value());
        if (!c.result)
            continue;
        const TVerdict &v = *dialog.Result();
        const QString reason = QString::fromUtf8(c.reason).trimmed();
        EXPECT_EQ(v.fit, *c.result);
        EXPECT_TRUE(v.overridden);
        EXPECT_EQ(v.overriddenBy, QString("Петров П. П."));
        EXPECT_EQ(v.overrideReason, reason);
        EXPECT_EQ(v.reasons, v.fit ? QStringList{} : QStringList{reason});
        EXPECT_TRUE(v.overriddenAt >= before && v.overriddenAt <= QDateTime::currentDateTime());
    }
}

} // namespace
