#include "verification/window/form2.h"

#include "charts/errorchartwidget.h"
#include "config/configcontroller.h"
#include "config/globalconfig.h"
#include "lab/labconfig.h"
#include "lab/labrules.h"
#include "lab/window/conditionsdialog.h"
#include "lab/window/verdictdialog.h"
#include "presentation/controls/floatspinedit.h"
#include "presentation/controls/form13.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/numericupdown.h"
#include "presentation/controls/windowscolor.h"
#include "presentation/errorcalculator.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/numberformat.h"
#include "verification/avtopoverkagridview.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/report/form6.h"
#include "verification/run/errortable.h"
#include "verification/scenariosettings.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kTopHeight = 228;

QRadioButton *Radio(QWidget *parent, QButtonGroup *group, const QString &text, int x, int y)
{
    auto *b = new QRadioButton(text, parent);
    b->setObjectName(text);
    b->setGeometry(x, y, 92, 20);
    group->addButton(b);
    return b;
}

void Check(QButtonGroup *group, const QString &text)
{
    const QSignalBlocker block(group);
    for (QAbstractButton *b : group->buttons()) {
        const QSignalBlocker blockButton(b);
        b->setChecked(b->text() == text);
    }
}

// The range buttons carry their enumerator as the group's id.
template<typename E> void Check(QButtonGroup *group, E range)
{
    const QSignalBlocker block(group);
    for (QAbstractButton *b : group->buttons()) {
        const QSignalBlocker blockButton(b);
        b->setChecked(group->id(b) == static_cast<int>(range));
    }
}

QLabel *Caption(QWidget *parent, const QString &text, int x, int y, int w = 200)
{
    auto *l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 16);
    return l;
}

// The hourglass while a report is made: set once, restored once, whatever the calls in between.
void SetWaitCursor(bool &shown, bool busy)
{
    if (busy == shown)
        return;
    shown = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace

TForm2::TForm2(TConfigurationCode code, QWidget *parent) : QMainWindow(parent), code_(code)
{
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Автоповерка"));
    setObjectName(QString::fromLatin1(VerificationType(code).windowName));
    BuildMenu();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    auto *top = new QWidget(central);
    top->setFixedHeight(kTopHeight);
    BuildEntryPanel(top);
    BuildSetupPanel(top);
    BuildExtraPanel(top);
    BuildButtons(top);
    layout->addWidget(top);
    tablesLayout_ = new QVBoxLayout();
    tablesLayout_->setSpacing(4);
    BuildTabs(central);
    tablesLayout_->addWidget(tabs_, 1);
    layout->addLayout(tablesLayout_, 1);
    setCentralWidget(central);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("RunStatus"));
    statusBar()->addWidget(status_, 1);
    journalState_ = new QLabel(this);
    journalState_->setObjectName(QStringLiteral("JournalState"));
    statusBar()->addPermanentWidget(journalState_);
    // The client area is 1120 pixels wide; the height is the user's.
    setFixedWidth(kClientWidth);
    resize(kClientWidth, 760);
    // Closing the main window closes this one first, so that its installation is switched off.
    if (parent)
        parent->installEventFilter(this);
}

TForm2::~TForm2()
{
    // The table views go before the tables they show; the logic's destructor closes the port without
    // waiting (closeEvent has switched the installation off already).
    // Nothing told to a window being taken apart.
    tableChanged_.clear();
    journalChanged_.Reset();
    views_.clear();
    delete takeCentralWidget();
    logic_.reset();
}

void TForm2::BuildMenu()
{
    auto add = [this](QMenu *menu, const QString &caption) {
        QAction *a = menu ? menu->addAction(caption) : menuBar()->addAction(caption);
        a->setObjectName(caption);
        actions_[caption] = a;
        return a;
    };
    add(nullptr, QStringLiteral("Настройка сценария"));
    add(nullptr, QStringLiteral("Настройка отчёта"));
    QMenu *report = menuBar()->addMenu(QStringLiteral("Отчёт"));
    actions_[QStringLiteral("Отчёт")] = report->menuAction();
    add(report, QStringLiteral("Doc"));
    add(report, QStringLiteral("Xls"));
    QAction *pdf = add(report, QStringLiteral("PDF"));
    connect(add(report, QStringLiteral("Заключение…")), &QAction::triggered, this, &TForm2::OverrideVerdict);
    const QString reason = TReportProducer::PdfUnavailableReason();
    if (!reason.isEmpty()) {
        pdf->setText(QStringLiteral("PDF — ") + reason);
        pdf->setEnabled(false);
    }
}

void TForm2::BuildEntryPanel(QWidget *parent)
{
    auto *box = new QGroupBox(QStringLiteral("Точка"), parent);
    box->setObjectName(QStringLiteral("EntryPanel"));
    box->setGeometry(0, 0, 404, 160);
    const std::pair<TEntry, QString> items[]
        = {{TEntry::Current, QStringLiteral("Ток")}, {TEntry::Frequency, QStringLiteral("Част.")},
            {TEntry::Angle, QStringLiteral("Угол")}, {TEntry::Voltage, QStringLiteral("Напр.")}};
    for (const auto &[entry, caption] : items) {
        auto *e = new TNumericUpDown(box, caption);
        e->setObjectName(caption);
        entries_[entry] = e;
    }
    entries_[TEntry::Current]->move(8, 20);
    entries_[TEntry::Voltage]->move(136, 20);
    entries_[TEntry::Frequency]->move(8, 62);
    entries_[TEntry::Angle]->move(136, 62);
    autoIncrement_ = new QCheckBox(QStringLiteral("АвтоИнкр."), box);
    autoIncrement_->setObjectName(QStringLiteral("АвтоИнкр."));
    autoIncrement_->setGeometry(270, 22, 120, 20);
    autoIncrement_->setChecked(true);
    autoIncrementStep_ = new TFloatSpinEdit(box);
    autoIncrementStep_->setObjectName(QStringLiteral("AutoIncrementStep"));
    autoIncrementStep_->setGeometry(270, 44, 90, 22);
    autoIncrementStep_->SetIncrement(0.5);
    autoIncrementStep_->SetValue(0.5);
    Caption(box, QStringLiteral("Диапазон"), 270, 72, 100)->setObjectName(QStringLiteral("RangeCaption"));
    rangeList_ = new QComboBox(box);
    rangeList_->setObjectName(QStringLiteral("Диапазон"));
    rangeList_->setGeometry(270, 90, 120, 22);
    for (const TURangeRow &r : URanges())
        rangeList_->addItem(::Caption(r.range));
    rangeList_->setVisible(false);
    box->findChild<QLabel *>(QStringLiteral("RangeCaption"))->setVisible(false);
}

void TForm2::BuildSetupPanel(QWidget *parent)
{
    setupPanel_ = new QWidget(parent);
    setupPanel_->setObjectName(QStringLiteral("SetupPanel"));
    setupPanel_->setGeometry(408, 0, 456, 160);
    schemeBox_ = new QGroupBox(QStringLiteral("Схема подключения"), setupPanel_);
    // Wide enough for its title in the desktop's font; the range boxes' captions are short.
    schemeBox_->setGeometry(0, 0, 146, 74);
    scheme_ = new QButtonGroup(schemeBox_);
    Radio(schemeBox_, scheme_, QStringLiteral("3-x провод."), 8, 22);
    Radio(schemeBox_, scheme_, QStringLiteral("4-x провод."), 8, 46);
    currentBox_ = new QGroupBox(QStringLiteral("Ток"), setupPanel_);
    currentBox_->setGeometry(150, 0, 92, 118);
    current_ = new QButtonGroup(currentBox_);
    int y = 22;
    for (const TCurrentRangeRow &r : CurrentRanges()) {
        current_->setId(Radio(currentBox_, current_, ::Caption(r.range) + QStringLiteral("A"), 8, y), int(r.range));
        y += 23;
    }
    voltageBox_ = new QGroupBox(QStringLiteral("Напряжение"), setupPanel_);
    voltageBox_->setGeometry(246, 0, 92, 96);
    voltage_ = new QButtonGroup(voltageBox_);
    y = 22;
    for (const TVoltageRangeRow &r : VoltageRanges()) {
        voltage_->setId(Radio(voltageBox_, voltage_, ::Caption(r.range) + QStringLiteral(" V"), 8, y), int(r.range));
        y += 23;
    }
    Caption(setupPanel_, QStringLiteral("Нагрузка"), 344, 6, 100);
    load_ = new QComboBox(setupPanel_);
    load_->setObjectName(QStringLiteral("Нагрузка"));
    load_->setGeometry(344, 24, 100, 22);
    load_->addItems({QStringLiteral("Мин."), QStringLiteral("Макс.")});
    load_->setCurrentIndex(1);
    aru_ = new QCheckBox(QStringLiteral("АРУ"), setupPanel_);
    aru_->setObjectName(QStringLiteral("АРУ"));
    aru_->setGeometry(344, 56, 100, 20);
}

void TForm2::BuildExtraPanel(QWidget *parent)
{
    extraPanel_ = new QWidget(parent);
    extraPanel_->setObjectName(QStringLiteral("ExtraPanel"));
    extraPanel_->setGeometry(866, 0, 246, 168);
    Caption(extraPanel_, QStringLiteral("Выходной сигнал, мА"), 0, 2);
    outputSignal_ = new QComboBox(extraPanel_);
    outputSignal_->setObjectName(QStringLiteral("Выходной сигнал, мА"));
    outputSignal_->setGeometry(0, 18, 160, 22);
    outputSignal_->addItems(TErrorCalculator::AnalogRangeCaptions());
    Caption(extraPanel_, QStringLiteral("Коэф. трансф."), 0, 44);
    coefficientLabel_ = new QLabel(QStringLiteral("---"), extraPanel_);
    coefficientLabel_->setObjectName(QStringLiteral("Коэф. трансф."));
    coefficientLabel_->setGeometry(0, 60, 246, 18);
    coefficientLabel_->setCursor(Qt::PointingHandCursor);
    coefficientLabel_->installEventFilter(this);
    Caption(extraPanel_, QStringLiteral("Скорость по RS485"), 0, 82);
    speed_ = new QComboBox(extraPanel_);
    speed_->setObjectName(QStringLiteral("Скорость по RS485"));
    speed_->setGeometry(0, 98, 80, 24);
    speed_->addItems(TKestCmdManager::GetDeviceSpeedList());
    speed_->setCurrentIndex(TKestCmdManager::GetDefaultDeviceSpeedIndex());
    readSettings_ = new QPushButton(QStringLiteral("Прочитать настройки"), extraPanel_);
    readSettings_->setObjectName(QStringLiteral("Прочитать настройки"));
    readSettings_->setGeometry(86, 98, 160, 24);
    auto *address = new TNumericUpDown(extraPanel_, QStringLiteral("Адр."));
    address->setObjectName(QStringLiteral("Адр."));
    address->move(0, 126);
    address->SetMax(1000);
    entries_[TEntry::Address] = address;
    autoMode_ = new QCheckBox(QStringLiteral("Авто"), extraPanel_);
    autoMode_->setObjectName(QStringLiteral("Авто"));
    autoMode_->setGeometry(132, 142, 70, 20);
    readSettings_->setEnabled(false);
}

QPushButton *TForm2::AddButton(QWidget *parent, const QString &caption, int x, int y, int w)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(caption);
    b->setGeometry(x, y, w, 26);
    buttons_[caption] = b;
    return b;
}

void TForm2::BuildButtons(QWidget *parent)
{
    const std::pair<const char *, int> tableButtons[]
        = {{"Добавить строку", 136}, {"Вставить строку", 136}, {"Удалить строку", 132}, {"Очистить строку", 136},
            {"Очистить всё", 118}, {"Очистить результаты", 160}, {"Сохранить", 132}, {"Загрузить", 132}};
    int x = 0;
    for (const auto &[caption, width] : tableButtons) {
        AddButton(parent, QString::fromUtf8(caption), x, 170, width);
        x += width + 4;
    }
    const std::pair<const char *, int> runButtons[] = {{"Запуск (тек. вкладка)", 178}, {"Запуск (все вкладки)", 178},
        {"Запуск (выделенная строка)", 206}, {"Стоп", 168}, {"Сохранить сценарий", 178}, {"Загрузить сценарий", 178}};
    x = 0;
    for (const auto &[caption, width] : runButtons) {
        AddButton(parent, QString::fromUtf8(caption), x, 200, width);
        x += width + 4;
    }
}

void TForm2::BuildTabs(QWidget *parent)
{
    tabs_ = new QTabWidget(parent);
    tabs_->setObjectName(QStringLiteral("Tabs"));
    tabs_->setUsesScrollButtons(true);
    tabs_->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
    plus_ = new QToolButton(tabs_);
    plus_->setObjectName(QStringLiteral("+"));
    plus_->setText(QStringLiteral("+"));
    plus_->resize(22, 20);
    tabMenu_ = new QMenu(this);
    for (const char *c : {"Закрыть вкладку", "Копировать из вкладки", "Вставить", "Заполнить точки"}) {
        QAction *a = tabMenu_->addAction(QString::fromUtf8(c));
        a->setObjectName(QString::fromUtf8(c));
        actions_[QString::fromUtf8(c)] = a;
    }
    actions_[QStringLiteral("Вставить")]->setEnabled(false);
    // The sets of points depend on the configuration, the active tab's columns and the output signal:
    // the submenu is made when it opens.
    auto *fill = new QMenu(tabMenu_);
    fill->setObjectName(QStringLiteral("Заполнить точки"));
    actions_.at(QStringLiteral("Заполнить точки"))->setMenu(fill);
}

void TForm2::Init(TConfigController *_config, const QString &_configurationName)
{
    config_ = _config;
    if (const auto named = ConfigurationFromName(_configurationName))
        code_ = *named;
    logic_ = std::make_unique<TAvtopoverkaLogic>(this, config_, code_);
    logic_->SetChartRenderer([this](int tab) { return ReportChart(tab); });
    // Before anything is sent, the opening's parameter number included.
    if (!thisRun_.port1.isEmpty())
        logic_->SetPortOverride(thisRun_.port1);
    setObjectName(QString::fromLatin1(logic_->Type().windowName));
    for (auto &[entry, control] : entries_)
        control->InitAppConfigAndStepSetter(config_);
    BindActions();
    ApplyConfigurationLayout();
    // An archived run's window says nothing to the installation, not even on opening.
    if (readOnlyFromStart_)
        logic_->SetReadOnly(true);
    logic_->Init();
    // The range this run started on (the demo's transducer is a 100 V one); an archived run keeps its own.
    if (thisRun_.voltage && !readOnlyFromStart_)
        logic_->VoltageChosen(*thisRun_.voltage);
    move(logic_->WindowX(), logic_->WindowY());
    PlacePlus();

    // The errors of the active tab at a glance, under the tables; kept up to date as rows are filled.
    errorChart_ = new TErrorChartWidget();
    errorChart_->setObjectName(QStringLiteral("ErrorChart"));
    errorChart_->setFixedHeight(260);
    AddPanelBelowTables(errorChart_);
    QAction *chart = menuBar()->addAction(QStringLiteral("График погрешностей"));
    chart->setObjectName(QStringLiteral("График погрешностей"));
    chart->setCheckable(true);
    chart->setChecked(true);
    actions_[chart->text()] = chart;
    // Taller by the chart, as far as the screen allows (the tables give up the rest).
    auto fit = [this](int h) {
        const QScreen *screen = this->screen();
        const int room = screen ? screen->availableGeometry().height() - 40 : h;
        resize(kClientWidth, std::max(600, std::min(h, room)));
    };
    connect(chart, &QAction::toggled, this, [this, fit](bool on) {
        errorChart_->setVisible(on);
        fit(height() + (on ? 264 : -264));
        if (on)
            UpdateErrorChart();
    });
    fit(height() + 264);
    // Changes of the tables come in bursts (a point fills a row, a paste many): the chart is drawn once
    // the burst is over.
    chartTimer_ = new QTimer(this);
    chartTimer_->setSingleShot(true);
    chartTimer_->setInterval(50);
    connect(chartTimer_, &QTimer::timeout, this, [this] { UpdateErrorChart(false); });
    UpdateErrorChart();
}

// A tab's chart for a printed report: the same picture as under the table, laid out as wide as a
// portrait page's text and drawn at 2,5 times the pixels (about 250 dots an inch on 17 cm).
QByteArray TForm2::ReportChart(int tab) const
{
    TVerificationTabs &tabs = logic_->Tabs();
    if (tab < 0 || tab >= tabs.Count())
        return {};
    const bool analog = tabs.IsAnalog(tab);
    const QImage image = RenderErrorChart(
        ErrorTableOf(tabs.Grid(tab), analog, code_ == TConfigurationCode::U, logic_->ErrorLimit(analog)),
        QSize(680, 380), 2.5);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? png : QByteArray();
}

// The verifier replaces the conclusion of the run just made: recorded as an amendment of its journal run,
// never by changing the run.
void TForm2::OverrideVerdict()
{
    TJournal *journal = logic_->Journal();
    const TRunJournalRecorder *recorder = logic_->Recorder();
    const std::optional<TVerdict> computed = logic_->LastVerdict();
    if (!journal || !recorder || recorder->Last().isEmpty() || !computed || logic_->Driver().IsBusy()) {
        TMessageService::Information(
            this, QStringLiteral("Заключение есть у поверки, законченной в этом окне с записью в журнал"));
        return;
    }
    const QString who = TAvtopoverkaReportConfig(config_).ReadReportData().Verifier.trimmed();
    TVerdictDialog dialog(*computed, who, this);
    if (dialog.exec() != QDialog::Accepted || !dialog.Result())
        return;
    TAmendment amendment;
    amendment.who = who.isEmpty() ? QStringLiteral("поверитель не указан") : who;
    amendment.field = QStringLiteral("verdict");
    amendment.oldValue = computed->Text();
    amendment.newValue = dialog.Result()->Text();
    amendment.reason = dialog.Result()->overrideReason;
    if (!journal->AddAmendment(recorder->Last(), amendment)) {
        TMessageService::Error(this, QStringLiteral("Заключение не заменено: ") + journal->LastError());
        return;
    }
    logic_->SetLastVerdict(dialog.Result());
}

QString TForm2::PreferredPointSet() const
{
    TJournal *journal = logic_ ? logic_->Journal() : nullptr;
    if (!journal)
        return {};
    const QString number = TAvtopoverkaReportConfig(config_).ReadReportData().DeviceNum;
    const QString typeId = TLabConfig(config_).ReadTypeForDevice(number);
    if (typeId.isEmpty())
        return {};
    const std::optional<TInstrumentType> type = journal->Registry().Type(typeId);
    return type ? type->pointsSet.trimmed() : QString();
}

bool TForm2::PrepareLabRecord()
{
    TJournal *journal = logic_->Journal();
    TLabConfig lab(config_);
    std::vector<TStandard> standards;
    if (journal)
        if (const auto registered = journal->Registry().Standards(false))
            standards = lab.BenchStandardsOf(*registered);
    // A bench without registered standards keeps no laboratory records: nothing is asked.
    if (standards.empty() || logic_->IsReadOnly()) {
        logic_->SetLabRecord(TLabRunRecord());
        return true;
    }
    TLabRunRecord record;
    record.standards = std::move(standards);
    const TReportData header = TAvtopoverkaReportConfig(config_).ReadReportData();
    record.owner = header.DeviceOwner;
    if (const QString typeId = lab.ReadTypeForDevice(header.DeviceNum); !typeId.isEmpty())
        if ((record.type = journal->Registry().Type(typeId)))
            record.kind = record.type->defaultKind;
    const TStandardUse use = lab.ReadStandardUseForDevice(header.DeviceNum);
    record.usedAsStandard = use.used;
    record.standardRegNumber = use.regNumber;
    TConditionsDialog dialog(
        lab.ReadLastConditions(),
        [normal = lab.ReadNormalConditions()](
            const TRunConditions &c) { return LabRules::ConditionsOutside(c, normal); },
        this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    record.conditions = dialog.Conditions();
    lab.WriteLastConditions(record.conditions);
    logic_->SetLabRecord(record);
    return true;
}

void TForm2::UpdateErrorChart(bool force)
{
    if (!logic_ || !errorChart_ || errorChart_->isHidden())
        return;
    TVerificationTabs &tabs = logic_->Tabs();
    const int tab = tabs.Active();
    if (tab < 0 || tab >= tabs.Count())
        return;
    const TKestAvtopoverkaGrid &grid = tabs.Grid(tab);
    if (!force && tab == chartTab_ && grid.Revision() == chartRevision_)
        return;
    chartTab_ = tab;
    chartRevision_ = grid.Revision();
    const bool analog = tabs.IsAnalog(tab);
    // The band is the limit of the tab's kind; each point is red exactly where its cell is.
    errorChart_->ShowTable(ErrorTableOf(grid, analog, code_ == TConfigurationCode::U, logic_->ErrorLimit(analog)));
}

void TForm2::ApplyConfigurationLayout()
{
    const TVerificationTypeRow &t = logic_->Type();
    currentBox_->setVisible(t.entry.current);
    entries_[TEntry::Current]->setVisible(t.entry.current);
    schemeBox_->setVisible(t.entry.schemeAndVoltage);
    voltageBox_->setVisible(t.entry.schemeAndVoltage);
    entries_[TEntry::Voltage]->setVisible(t.entry.voltage);
    rangeList_->setVisible(t.entry.rangeList);
    findChild<QLabel *>(QStringLiteral("RangeCaption"))->setVisible(t.entry.rangeList);
    readSettings_->setVisible(t.isQx4);
    if (!t.entry.voltage) {
        // Without "Напр." the frequency and the angle move up.
        entries_[TEntry::Frequency]->move(136, 20);
        entries_[TEntry::Angle]->move(8, 62);
    }
}

void TForm2::BindActions()
{
    TAvtopoverkaLogic *l = logic_.get();
    for (auto &[entry, control] : entries_) {
        const TEntry e = entry;
        control->SetAction([l, e](double v) { l->EntryAction(e, v); });
    }
    auto click = [this](const char *caption, std::function<void()> fn) {
        connect(buttons_.at(QString::fromUtf8(caption)), &QPushButton::clicked, this, std::move(fn));
    };
    click("Добавить строку", [this] { logic_->AddRowClicked(EntryValues()); });
    click("Вставить строку", [this] { logic_->InsertRowClicked(EntryValues()); });
    click("Удалить строку", [l] { l->DeleteRowClicked(); });
    click("Очистить строку", [l] { l->ClearRowClicked(); });
    click("Очистить всё", [l] { l->ClearAllClicked(); });
    click("Очистить результаты", [l] { l->ClearResultsClicked(); });
    click("Сохранить", [this] {
        if (const QString f = ChooseFile(true); !f.isEmpty()) {
            SetBusy(true);
            logic_->SaveTable(f);
            SetBusy(false);
        }
    });
    click("Загрузить", [this] {
        if (const QString f = ChooseFile(false); !f.isEmpty()) {
            SetBusy(true);
            logic_->LoadTable(f);
            SetBusy(false);
        }
    });
    click("Сохранить сценарий", [this] {
        if (const QString f = ChooseFile(true); !f.isEmpty())
            logic_->SaveScenario(f);
    });
    click("Загрузить сценарий", [this] {
        if (const QString f = ChooseFile(false); !f.isEmpty())
            logic_->LoadScenario(f);
    });
    click("Запуск (тек. вкладка)", [this, l] {
        if (PrepareLabRecord())
            l->StartCurrentTab();
    });
    click("Запуск (все вкладки)", [this, l] {
        if (PrepareLabRecord())
            l->StartAllTabs();
    });
    click("Запуск (выделенная строка)", [this, l] {
        if (PrepareLabRecord())
            l->StartSelectedRow();
    });
    click("Стоп", [l] { l->StopClicked(); });
    connect(readSettings_, &QPushButton::clicked, this, [l] { l->ReadSettingsClicked(); });

    connect(current_, &QButtonGroup::idClicked, this,
        [l](int id) { l->CurrentRangeChosen(static_cast<TCurrentRange>(id)); });
    connect(
        voltage_, &QButtonGroup::idClicked, this, [l](int id) { l->VoltageChosen(static_cast<TVoltageRange>(id)); });
    connect(scheme_, &QButtonGroup::buttonClicked, this,
        [l](QAbstractButton *b) { l->SchemeChosen(b->text() == QStringLiteral("4-x провод.")); });
    connect(load_, &QComboBox::currentIndexChanged, this, [l](int i) { l->LoadChosen(i == 1); });
    connect(aru_, &QCheckBox::toggled, this, [l](bool on) { l->AruChosen(on); });
    connect(rangeList_, &QComboBox::currentIndexChanged, this, [l](int i) { l->RangeIndexChosen(i); });
    connect(outputSignal_, &QComboBox::currentIndexChanged, this, [l](int i) { l->OutputSignalChosen(i); });
    connect(speed_, &QComboBox::currentIndexChanged, this, [l](int i) { l->SpeedChosen(i); });
    connect(autoMode_, &QCheckBox::clicked, this, [this](bool on) {
        entries_[TEntry::Address]->Commit();
        logic_->AutoClicked(on, entries_[TEntry::Address]->Value());
    });
    auto step = [this] { logic_->AutoIncrementChosen(autoIncrement_->isChecked(), autoIncrementStep_->Value()); };
    connect(autoIncrement_, &QCheckBox::toggled, this, step);
    connect(autoIncrementStep_, &TFloatSpinEdit::valueChanged, this, step);

    connect(tabs_, &QTabWidget::currentChanged, this, [this](int tab) {
        if (tab >= 0)
            logic_->TabSelected(tab);
    });
    connect(tabs_->tabBar(), &QTabBar::customContextMenuRequested, this,
        [this](const QPoint &pos) { tabMenu_->popup(tabs_->tabBar()->mapToGlobal(pos)); });
    connect(plus_, &QToolButton::clicked, this, [l] { l->PlusClicked(); });
    connect(actions_.at(QStringLiteral("Закрыть вкладку")), &QAction::triggered, this, [l] { l->CloseTabClicked(); });
    connect(
        actions_.at(QStringLiteral("Копировать из вкладки")), &QAction::triggered, this, [l] { l->CopyTabClicked(); });
    connect(actions_.at(QStringLiteral("Вставить")), &QAction::triggered, this, [l] { l->PasteClicked(); });
    connect(actions_.at(QStringLiteral("Заполнить точки")), &QAction::triggered, this,
        [this] { logic_->FillPointsClicked(EntryValues()); });
    QMenu *fill = actions_.at(QStringLiteral("Заполнить точки"))->menu();
    connect(fill, &QMenu::aboutToShow, this, [this, fill] {
        fill->clear();
        const QStringList captions = logic_->PointSetCaptions();
        const QString preferred = PreferredPointSet();
        for (int set = 0; set < captions.size(); ++set) {
            QAction *action = fill->addAction(captions[set]);
            // The set the device's instrument type asks for is marked, not forced.
            if (!preferred.isEmpty() && captions[set].compare(preferred, Qt::CaseInsensitive) == 0) {
                action->setCheckable(true);
                action->setChecked(true);
                action->setToolTip(QStringLiteral("Точки, предпочтительные для типа СИ"));
            }
            connect(action, &QAction::triggered, this, [this, set] { logic_->FillPointsClicked(EntryValues(), set); });
        }
    });

    connect(actions_.at(QStringLiteral("Настройка сценария")), &QAction::triggered, this, &TForm2::OpenScenarioWindow);
    connect(actions_.at(QStringLiteral("Настройка отчёта")), &QAction::triggered, this, [this] {
        TJournal *journal = logic_->Journal();
        auto *header = new TForm6(config_, this, journal ? &journal->Registry() : nullptr);
        header->show();
    });
    connect(
        actions_.at(QStringLiteral("Doc")), &QAction::triggered, this, [this] { ProduceReport(TReportFormat::Word); });
    connect(
        actions_.at(QStringLiteral("Xls")), &QAction::triggered, this, [this] { ProduceReport(TReportFormat::Excel); });
    connect(
        actions_.at(QStringLiteral("PDF")), &QAction::triggered, this, [this] { ProduceReport(TReportFormat::Pdf); });
}

TEntryValues TForm2::EntryValues() const
{
    TEntryValues v;
    for (auto &[entry, control] : entries_)
        control->Commit();
    v.current = entries_.at(TEntry::Current)->Value();
    v.voltage = entries_.at(TEntry::Voltage)->Value();
    v.angle = entries_.at(TEntry::Angle)->Value();
    v.frequency = entries_.at(TEntry::Frequency)->Value();
    v.address = entries_.at(TEntry::Address)->Value();
    return v;
}

QString TForm2::ChooseFile(bool save)
{
    if (chooser_)
        return chooser_(this, save);
    const QString filter = QStringLiteral("CSV (*.csv *.CSV)");
    return save ? QFileDialog::getSaveFileName(this, QString(), QString(), filter)
                : QFileDialog::getOpenFileName(this, QString(), QString(), filter);
}

void TForm2::OpenScenarioWindow()
{
    std::unique_ptr<TSuperScenarioSettings> window = CreateScenarioSettings(logic_->Type().scenarioWindow, this);
    window->Init(config_, logic_->Tabs().Active());
    const TAvtopoverkaLogic::TScenarioSetUp setUp = logic_->ScenarioSetUp();
    if (setUp.fixedAnalogSet)
        window->SetDoesHaveFixedAnalogSet(true);
    if (setUp.setCaptions)
        window->SetAnalogOutAndCheckBoxCaption(setUp.analogParamNums);
    if (setUp.readFromConfig)
        window->ReadAnalogParamIndexesFromConfig(logic_->Tabs().Active());
    window->exec();
    logic_->ScenarioClosed(window->AnalogOut());
    PlacePlus();
}

void TForm2::OpenCoefficientWindow(const QPoint &pos)
{
    TForm13 window(config_, logic_->Context().transfCoefs, this);
    window.move(pos);
    window.exec();
    logic_->CoefficientsChanged();
}

void TForm2::ProduceReport(TReportFormat format)
{
    TReportRequest request(format);
    if (logic_->IsReadOnly()) {
        request.headerData = journalHeaderData_;
        request.labFields = journalLabFields_;
    }
    logic_->ProduceReport(request, this);
}

void TForm2::UpdateJournalState()
{
    TJournal *journal = logic_ ? logic_->Journal() : nullptr;
    if (journal != watchedJournal_) {
        watchedJournal_ = journal;
        journalChanged_.Reset();
        if (journal)
            journalChanged_ = journal->AddStateListener([this](const TJournalState &) { UpdateJournalState(); });
    }
    journalState_->setVisible(journal != nullptr);
    if (!journal)
        return;
    const TJournalState &state = journal->State();
    const QString text = state.Text();
    if (journalState_->text() != text)
        journalState_->setText(text);
    // Restyled only when the style changes: each restyling repolishes the label.
    const QString style = state.journalling ? QString() : QStringLiteral("color: #c00000;");
    if (journalState_->styleSheet() != style)
        journalState_->setStyleSheet(style);
}

QString TForm2::JournalStateText() const
{
    return journalState_->isVisibleTo(this) ? journalState_->text() : QString();
}

void TForm2::ShowJournalledRun(const TJournalRun &run, bool readOnly)
{
    logic_->SetReadOnly(readOnly);
    logic_->ShowJournalledRun(run);
    if (!readOnly)
        return;
    journalHeaderData_ = KestRunJournal::ReportDataOf(LabRules::Amended(run).header.reportData);
    journalLabFields_ = KestRunJournal::LabFieldsOf(run);
    const QString number = run.header.DeviceNumber();
    setWindowTitle(QStringLiteral("Автоповерка — журнал: %1%2 (только просмотр)")
                       .arg(run.header.started.toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                           number.isEmpty() ? QString() : QStringLiteral(", № ") + number));
    if (!copyForEditing_) {
        copyForEditing_ = menuBar()->addAction(QStringLiteral("Копировать для правки"));
        copyForEditing_->setObjectName(QStringLiteral("Копировать для правки"));
        actions_[copyForEditing_->objectName()] = copyForEditing_;
        connect(copyForEditing_, &QAction::triggered, this, [this] {
            // From here on the tables are the user's own: a run started now is a new journal run.
            logic_->SetReadOnly(false);
            journalHeaderData_.reset();
            journalLabFields_.clear();
            setWindowTitle(QStringLiteral("Автоповерка"));
            copyForEditing_->setVisible(false);
        });
    }
    copyForEditing_->setVisible(true);
}

// ---- placement of "+" ----

void TForm2::PlacePlus()
{
    if (!tabs_ || !plus_)
        return;
    QTabBar *bar = tabs_->tabBar();
    int right = 0;
    for (int i = 0; i < bar->count(); ++i)
        if (bar->isTabVisible(i))
            right = std::max(right, bar->tabRect(i).right());
    const QPoint origin = bar->mapTo(tabs_, QPoint(0, 0));
    plus_->move(origin.x() + right + 3, origin.y() + 3);
    plus_->setVisible(plusWanted_);
    plus_->raise();
}

void TForm2::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    PlacePlus();
}

void TForm2::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The tab bar lays its tabs out once it is shown.
    QTimer::singleShot(0, this, &TForm2::PlacePlus);
}

// ---- IAvtopoverkaView ----

void TForm2::ShowError(const QString &text)
{
    TMessageService::Error(this, text);
}

void TForm2::ShowMessage(const QString &text)
{
    TMessageService::Information(this, text);
}

bool TForm2::Confirm(const QString &title, const QString &text)
{
    return TMessageService::Confirm(this, title, text);
}

void TForm2::ShowSelections(const TAvtopoverkaSelections &s)
{
    Check(current_, s.currentRange);
    Check(voltage_, s.voltage);
    Check(scheme_, s.scheme4 ? QStringLiteral("4-x провод.") : QStringLiteral("3-x провод."));
    const QSignalBlocker b1(load_), b2(aru_), b3(rangeList_), b4(outputSignal_), b5(speed_), b6(autoMode_),
        b7(autoIncrement_);
    load_->setCurrentIndex(s.loadMax ? 1 : 0);
    aru_->setChecked(s.aru);
    rangeList_->setCurrentIndex(URangeIndex(s.range));
    outputSignal_->setCurrentIndex(s.outputSignalIndex);
    speed_->setCurrentIndex(s.rsSpeedIndex);
    autoMode_->setChecked(s.autoMode);
    autoIncrement_->setChecked(s.autoIncrement);
}

TNumericUpDown *TForm2::Entry(TEntry entry) const
{
    const auto it = entries_.find(entry);
    return it == entries_.end() ? nullptr : it->second;
}

void TForm2::SetEntryLimits(TEntry entry, double min, double max)
{
    if (TNumericUpDown *e = Entry(entry)) {
        e->SetMin(min);
        e->SetMax(max);
    }
}

void TForm2::SetEntryValue(TEntry entry, double value)
{
    if (TNumericUpDown *e = Entry(entry))
        e->SetValue(value);
}

void TForm2::AddTabPage(int tab, TKestAvtopoverkaGrid *grid)
{
    auto *page = new QWidget(tabs_);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    auto *view = new TAvtopoverkaGridView(grid, page);
    view->setObjectName(QStringLiteral("Grid%1").arg(tab + 1));
    view->SetCellTip([this, tab](int col, int) { return logic_->LowRatioNote(tab, col); });
    layout->addWidget(view);
    views_[tab] = view;
    tableChanged_.push_back(grid->AddChangeListener([this] {
        if (chartTimer_ && !chartTimer_->isActive())
            chartTimer_->start();
    }));
    connect(view, &TAvtopoverkaGridView::CellClicked, this, [this](int, int row) { logic_->RowClicked(row); });
    const QSignalBlocker block(tabs_);
    tabs_->insertTab(tab, page, QString::number(tab + 1));
    PlacePlus();
}

TAvtopoverkaGridView *TForm2::GridView(int tab) const
{
    const auto it = views_.find(tab);
    return it == views_.end() ? nullptr : it->second;
}

void TForm2::SetTabVisible(int tab, bool visible)
{
    tabs_->setTabVisible(tab, visible);
    PlacePlus();
}

void TForm2::SetTabCaption(int tab, const QString &caption)
{
    tabs_->setTabText(tab, caption);
    PlacePlus();
    QTimer::singleShot(0, this, &TForm2::PlacePlus);
}

void TForm2::SetActiveTab(int tab)
{
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(tab);
    UpdateErrorChart();
}

void TForm2::SetPlusVisible(bool visible)
{
    plusWanted_ = visible;
    PlacePlus();
}

void TForm2::SetPasteEnabled(bool enabled)
{
    actions_.at(QStringLiteral("Вставить"))->setEnabled(enabled);
}

void TForm2::SetLocked(bool locked)
{
    locked_ = locked;
    for (const char *c : {"Добавить строку", "Вставить строку", "Удалить строку", "Очистить всё", "Очистить строку",
             "Очистить результаты", "Запуск (тек. вкладка)", "Запуск (все вкладки)", "Запуск (выделенная строка)",
             "Сохранить", "Загрузить", "Загрузить сценарий"})
        buttons_.at(QString::fromUtf8(c))->setEnabled(!locked);
    plus_->setEnabled(!locked);
    setupPanel_->setEnabled(!locked);
    // The transducer's settings and the points being measured stay as they are while a run goes on.
    extraPanel_->setEnabled(!locked);
    for (const char *c : {"Закрыть вкладку", "Вставить", "Заполнить точки", "Настройка сценария"})
        actions_.at(QString::fromUtf8(c))
            ->setEnabled(!locked && (QString::fromUtf8(c) != QStringLiteral("Вставить") || logic_->Tabs().HasCopy()));
    for (const TEntry e : {TEntry::Current, TEntry::Voltage, TEntry::Angle, TEntry::Frequency})
        entries_.at(e)->SetEnabled(!locked);
}

void TForm2::ShowProgress(const QString &text)
{
    status_->setText(text);
}

QString TForm2::StatusText() const
{
    return status_->text();
}

void TForm2::SetAddressColor(uint32_t windowsColor)
{
    entries_.at(TEntry::Address)->SetEditColor(ColorFromWindows(windowsColor));
}

void TForm2::SetAddressEnabled(bool enabled)
{
    entries_.at(TEntry::Address)->SetEnabled(enabled);
}

void TForm2::SetReadSettingsEnabled(bool enabled)
{
    readSettings_->setEnabled(enabled);
}

void TForm2::SetCoefficientLabel(const QString &text)
{
    coefficientLabel_->setText(text);
}

// ---- IReportView ----

void TForm2::SetBusy(bool busy)
{
    SetWaitCursor(busy_, busy);
}

void TForm2::SetReportCommandsEnabled(bool enabled)
{
    actions_.at(QStringLiteral("Отчёт"))->setEnabled(enabled);
    actions_.at(QStringLiteral("Настройка отчёта"))->setEnabled(enabled);
    // "Закрыть вкладку" stays as a run has it.
    actions_.at(QStringLiteral("Закрыть вкладку"))->setEnabled(enabled && !locked_);
}

void TForm2::OpenDocument(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// ---- widgets by caption ----

QPushButton *TForm2::Button(const QString &caption) const
{
    const auto it = buttons_.find(caption);
    return it == buttons_.end() ? nullptr : it->second;
}

QAction *TForm2::MenuAction(const QString &caption) const
{
    const auto it = actions_.find(caption);
    return it == actions_.end() ? nullptr : it->second;
}

void TForm2::AddPanelBelowTables(QWidget *panel)
{
    panel->setParent(centralWidget());
    tablesLayout_->addWidget(panel);
}

// ---- closing ----

bool TForm2::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == coefficientLabel_ && event->type() == QEvent::MouseButtonRelease && logic_) {
        OpenCoefficientWindow(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
        return true;
    }
    if (watched == parent() && event->type() == QEvent::Close && !closing_)
        close();
    return QMainWindow::eventFilter(watched, event);
}

void TForm2::closeEvent(QCloseEvent *event)
{
    if (!closing_) {
        closing_ = true;
        // Nothing can be started while the installation is switched off (and that confirmed) before the
        // port goes.
        centralWidget()->setEnabled(false);
        menuBar()->setEnabled(false);
        if (logic_)
            logic_->Closing(x(), y());
    }
    QMainWindow::closeEvent(event);
}

// ---- the factory ----

namespace {

TForm2 *NewVerificationWindow(TConfigurationCode code, QWidget *parent)
{
    TForm2 *window = nullptr;
    switch (code) {
    case TConfigurationCode::QX4:
        window = new TForm3(parent);
        break;
    case TConfigurationCode::I:
        window = new TAvtopoverkaI(parent);
        break;
    case TConfigurationCode::U:
        window = new TAvtopoverkaU(parent);
        break;
    case TConfigurationCode::QX4E:
        window = new TAvtopoverkaQX4E(parent);
        break;
    case TConfigurationCode::F:
    case TConfigurationCode::P:
    case TConfigurationCode::Q:
    case TConfigurationCode::PQ:
        window = new TAvtopoverkaPQ(parent);
        break;
    }
    return window;
}

TForm2 *InitVerificationWindow(TForm2 *window, TConfigController *store, TConfigurationCode code, TJournal *journal,
    bool readOnly, const TStartOptions &thisRun)
{
    window->SetReadOnlyFromStart(readOnly);
    window->SetThisRun(thisRun);
    window->Init(store, ConfigurationName(code));
    window->Logic().SetJournal(journal);
    window->UpdateJournalState();
    return window;
}

} // namespace

TForm2 *CreateVerificationWindow(
    TConfigController *store, TConfigurationCode code, QWidget *parent, TJournal *journal, const TStartOptions &thisRun)
{
    return InitVerificationWindow(NewVerificationWindow(code, parent), store, code, journal, false, thisRun);
}

TForm2 *CreateJournalledRunWindow(TConfigController *store, TJournal *journal, const TJournalRun &run, bool readOnly,
    QWidget *parent, const TStartOptions &thisRun)
{
    const std::optional<TConfigurationCode> code = ConfigurationFromName(run.header.configuration);
    if (!code)
        return nullptr;
    TForm2 *window
        = InitVerificationWindow(NewVerificationWindow(*code, parent), store, *code, journal, readOnly, thisRun);
    window->ShowJournalledRun(run, readOnly);
    return window;
}

TForm2 *RestoreJournalledRun(
    TConfigController *store, TJournal *journal, const TJournalRun &run, QWidget *parent, const TStartOptions &thisRun)
{
    TForm2 *window = CreateJournalledRunWindow(store, journal, run, false, parent, thisRun);
    if (!window) {
        if (journal)
            journal->EndRun(run.header.id, TJournalRunEnd::Interrupted());
        return nullptr;
    }
    window->show();
    window->Logic().OfferToContinue(run);
    return window;
}

namespace {

// What a report made outside a verification window shows.
class TStandaloneReportView : public IReportView {
public:
    explicit TStandaloneReportView(QWidget *parent) : parent_(parent) { }
    ~TStandaloneReportView() override { SetBusy(false); }
    void SetBusy(bool busy) override { SetWaitCursor(busy_, busy); }
    void SetReportCommandsEnabled(bool) override { }
    void ShowError(const QString &text) override { TMessageService::Error(parent_, text); }
    void ShowMessage(const QString &text) override { TMessageService::Information(parent_, text); }
    void OpenDocument(const QString &path) override { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

private:
    QWidget *parent_;
    bool busy_ = false;
};

} // namespace

QString ReportJournalledRun(TConfigController *store, const TJournalRun &run, QWidget *parent)
{
    const TAvtopoverkaReportConfig config(store);
    const QString templatePath = QFileDialog::getOpenFileName(parent, QStringLiteral("Шаблон отчёта"),
        config.ReadWordTemplatePath(), QStringLiteral("Шаблоны (*.docx *.doc *.xlsx *.xls *.odt *.ods *.rtf)"));
    if (templatePath.isEmpty())
        return QString();
    const QString suffix = QFileInfo(templatePath).suffix().toLower();
    const bool excel = suffix.startsWith(QStringLiteral("xls")) || suffix == QStringLiteral("ods");
    TStandaloneReportView view(parent);
    return KestRunJournal::ProduceReport(
        store, run, TReportRequest(excel ? TReportFormat::Excel : TReportFormat::Word, templatePath), &view);
}
