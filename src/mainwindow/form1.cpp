#include "mainwindow/form1.h"

#include "journal/journalwindow.h"
#include "lab/arshinjournal.h"
#include "lab/labconfig.h"
#include "lab/window/instrumenttypeswindow.h"
#include "lab/window/standardswindow.h"
#include "verification/report/avtopoverkareportconfig.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "charts/vectordiagramform.h"
#include "config/configcontroller.h"
#include "config/settingsform.h"
#include "mainwindow/mainconfiguration.h"
#include "presentation/controls/form13.h"
#include "presentation/controls/labelanderror.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/numericupdownwithtoggles.h"
#include "presentation/controls/parametergroupcomponent.h"
#include "presentation/controls/windowscolor.h"
#include "presentation/errorcalculator.h"
#include "transport/waitservice.h"
#include "update/update.h"

namespace {

constexpr int kGroupHeight = 98;
constexpr int kRightColumn = 1090;
// Wide enough for "Реактивная энергия" in the desktop's font.
constexpr int kEnergyGroupWidth = 150;

QRadioButton *Radio(QWidget *parent, QButtonGroup *group, const QString &text, int x, int y)
{
    auto *b = new QRadioButton(text, parent);
    b->setObjectName(text);
    b->move(x, y);
    b->resize(60, 20);
    group->addButton(b);
    return b;
}

void Check(QButtonGroup *group, const QString &text)
{
    for (QAbstractButton *b : group->buttons())
        if (b->text() == text)
            b->setChecked(true);
}

// The range buttons carry their enumerator as the group's id.
template<typename E> void Check(QButtonGroup *group, E range)
{
    if (QAbstractButton *b = group->button(static_cast<int>(range)))
        b->setChecked(true);
}

} // namespace

TForm1::TForm1(const TOptions &options, QWidget *parent)
    : QMainWindow(parent), thisRun_{options.port1, options.port2, options.voltage},
      verificationWindow_(options.verificationWindow), tuningWindow_(options.tuningWindow), journal_(options.journal),
      journalledRunWindow_(options.journalledRunWindow), journalReport_(options.journalReport),
      journalProtocol_(options.journalProtocol)
{
    // Step 2: the notice window of the update check, and the caption.
    updateForm = new TUpdate(this);
    setWindowTitle(kCaption);
    setObjectName(QStringLiteral("Form1"));

    config = std::make_unique<TConfigController>();
    BuildMenu();
    BuildControls();
    BuildReadout();

    logic = std::make_unique<TMainLogic>(this, config.get());
    logic->SetPortOverride(options.port1, options.port2);

    updateForm->SetConfig(config.get());
    move(config->ReadMainWindowCoordX(), config->ReadMainWindowCoordY());
    if (options.checkForUpdates)
        updateForm->CheckAtStartUp(this);

    configurationList->addItems(TMainLogic::kConfigurations);
    for (const TURangeRow &r : URanges())
        uRangeList->addItem(Caption(r.range));
    speedList->addItems(TMainLogic::kSpeeds);
    analogRangeList->addItems(TErrorCalculator::AnalogRangeCaptions());
    protocolList->addItems({QStringLiteral("Modbus"), QStringLiteral("VQ")});

    BindActions();
    logic->StartUp();
    if (options.voltage)
        logic->VoltageChosen(*options.voltage);
    resize(kRightColumn + 200, 640);
}

TForm1::~TForm1()
{
    if (updateForm)
        updateForm->StopCheck();
    // Destroyed without a close (the program quitting on a signal): the windows opened from here end
    // their runs, outputs off, while the settings and ports they were given still exist, not later
    // among this window's children.
    QList<QPointer<QWidget>> windows;
    for (QWidget *w : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (w->isWindow())
            windows << w;
    for (const QPointer<QWidget> &w : windows)
        delete w.data();
    // The journal outlives this window: it must not call into it afterwards.
    if (journal_) {
        journal_->SetMessageHandler(nullptr);
        journalState_.Reset();
    }
    // The logic disposes of the engines; widgets go with the window.
    logic.reset();
}

void TForm1::BuildMenu()
{
    settingsAction = menuBar()->addAction(QStringLiteral("Настройка"));
    verificationAction = menuBar()->addAction(QStringLiteral("Автоповерка"));
    tuningAction = menuBar()->addAction(QStringLiteral("Автонастройка"));
    vectorDiagramAction = menuBar()->addAction(QStringLiteral("Векторная диаграмма"));
    journalAction = menuBar()->addAction(QStringLiteral("Журнал"));
    journalAction->setEnabled(journal_ != nullptr);
    QMenu *lab = menuBar()->addMenu(QStringLiteral("Лаборатория"));
    typesAction = lab->addAction(QStringLiteral("Типы СИ"));
    standardsAction = lab->addAction(QStringLiteral("Эталоны"));
    lab->setEnabled(journal_ != nullptr);
    connect(typesAction, &QAction::triggered, this, &TForm1::OpenInstrumentTypes);
    connect(standardsAction, &QAction::triggered, this, &TForm1::OpenStandards);
    menuBar()->addAction(QStringLiteral("?"));
    verificationAction->setEnabled(bool(verificationWindow_));
    tuningAction->setEnabled(bool(tuningWindow_));
    connect(settingsAction, &QAction::triggered, this, &TForm1::OpenSettings);
    connect(verificationAction, &QAction::triggered, this, &TForm1::OpenVerification);
    connect(tuningAction, &QAction::triggered, this, &TForm1::OpenTuning);
    connect(vectorDiagramAction, &QAction::triggered, this, &TForm1::OpenVectorDiagram);
    connect(journalAction, &QAction::triggered, this, &TForm1::OpenJournal);
    if (journal_) {
        // The journal's problems (a damaged file moved aside, a server away, a full disk) are told
        // once each, whichever window is writing; its state goes to the archive window while open.
        journal_->SetMessageHandler([this](const QString &text) { TMessageService::Information(this, text); });
        journalState_ = journal_->AddStateListener([this](const TJournalState &) {
            if (journalWindow)
                journalWindow->JournalStateChanged();
        });
    }
}

void TForm1::BuildControls()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);

    // Output signals.
    outputGroup = new QGroupBox(QStringLiteral("Выходные сигналы"), central);
    outputGroup->setObjectName(QStringLiteral("OutputGroup"));
    outputGroup->setGeometry(8, 4, 580, 70);
    controlI = new TNumericUpDownWithToggles(outputGroup, QStringLiteral("I"));
    controlU = new TNumericUpDownWithToggles(outputGroup, QStringLiteral("U"));
    controlAngle = new TNumericUpDown(outputGroup, QStringLiteral("Угол"));
    controlF = new TNumericUpDown(outputGroup, QStringLiteral("F"));
    rsParamLabel = new QLabel(QStringLiteral("Номер параметра по RS"), central);
    rsParamNumber = new QSpinBox(central);
    rsParamNumber->setRange(1, 5);
    rsParamNumber->setObjectName(QStringLiteral("RsParamNumber"));

    connectButton = new QPushButton(QStringLiteral("Подкл."), central);
    connectButton->setObjectName(QStringLiteral("ConnectButton"));
    connectButton->setGeometry(8, 84, 90, 28);
    pauseButton = new QPushButton(QStringLiteral("►"), central);
    pauseButton->setObjectName(QStringLiteral("PauseButton"));
    pauseButton->setGeometry(104, 84, 40, 28);

    aruBox = new QCheckBox(QStringLiteral("АРУ"), central);
    aruBox->setGeometry(160, 88, 60, 20);
    cyclesLabel = new QLabel(QStringLiteral("Циклы: 0"), central);
    cyclesLabel->setGeometry(222, 88, 90, 20);
    readSettingsButton = new QPushButton(QStringLiteral("Прочитать настройки"), central);
    readSettingsButton->setGeometry(320, 84, 160, 28);

    coefficientGroup = new QGroupBox(QStringLiteral("Коэффициенты трансформации"), central);
    coefficientGroup->setGeometry(8, 118, 472, 50);
    coefficientLabel = new QLabel(QStringLiteral("---"), coefficientGroup);
    coefficientLabel->setGeometry(10, 20, 450, 22);
    coefficientGroup->installEventFilter(this);
    coefficientLabel->installEventFilter(this);

    // Settings of the installation, in a column on the right.
    int y = 4;
    auto *configLabel = new QLabel(QStringLiteral("Конфигурация"), central);
    configLabel->setGeometry(kRightColumn, y, 100, 20);
    configurationList = new QComboBox(central);
    configurationList->setObjectName(QStringLiteral("ConfigurationList"));
    configurationList->setGeometry(kRightColumn + 100, y, 90, 22);
    y += 28;

    // A framed row of radio buttons, the given one checked; `ids` (when given) become the group's ids.
    auto radioRow = [&](const QString &caption, const QStringList &items, const QString &checked, QGroupBox *&box,
                        QButtonGroup *&group, const QList<int> &ids = {}) {
        box = new QGroupBox(caption, central);
        box->setGeometry(kRightColumn, y, 190, 48);
        group = new QButtonGroup(this);
        const int step = 180 / static_cast<int>(items.size());
        for (int i = 0; i < items.size(); ++i) {
            QRadioButton *b = Radio(box, group, items[i], 6 + i * step, 20);
            b->setChecked(items[i] == checked);
            if (i < ids.size())
                group->setId(b, ids[i]);
        }
        y += 52;
    };
    QStringList currents, voltages;
    QList<int> currentIds, voltageIds;
    for (const TCurrentRangeRow &r : CurrentRanges()) {
        currents << Caption(r.range);
        currentIds << static_cast<int>(r.range);
    }
    for (const TVoltageRangeRow &r : VoltageRanges()) {
        voltages << Caption(r.range);
        voltageIds << static_cast<int>(r.range);
    }
    radioRow(QStringLiteral("Ток, А"), currents, Caption(TCurrentRange::A5), currentRangeBox, currentRange, currentIds);
    radioRow(QStringLiteral("Напряжение, В"), voltages, Caption(TVoltageRange::V380), voltageBox, voltage, voltageIds);
    radioRow(QStringLiteral("Схема"), {"3-x", "4-x"}, "4-x", schemeBox, scheme);

    uRangeList = new QComboBox(central);
    uRangeList->setObjectName(QStringLiteral("URangeList"));
    uRangeList->setGeometry(kRightColumn, y, 190, 22);
    y += 28;

    auto *speedLabel = new QLabel(QStringLiteral("Скорость RS-485"), central);
    speedLabel->setGeometry(kRightColumn, y, 110, 20);
    speedList = new QComboBox(central);
    speedList->setObjectName(QStringLiteral("SpeedList"));
    speedList->setGeometry(kRightColumn + 110, y, 80, 22);
    y += 28;

    addressBox = new QGroupBox(QStringLiteral("Адрес"), central);
    addressBox->setGeometry(kRightColumn, y, 190, 64);
    autoBox = new QCheckBox(QStringLiteral("Авто"), addressBox);
    autoBox->setGeometry(6, 22, 60, 20);
    controlAddress = new TNumericUpDown(addressBox, QStringLiteral("Адр."));
    controlAddress->move(62, 18);
    y += 68;

    protocolList = new QComboBox(central);
    protocolList->setObjectName(QStringLiteral("ProtocolList"));
    protocolList->setGeometry(kRightColumn, y, 190, 22);
    y += 28;

    auto *analogRangeLabel = new QLabel(QStringLiteral("Аналоговый выход"), central);
    analogRangeLabel->setGeometry(kRightColumn, y, 190, 20);
    y += 20;
    analogRangeList = new QComboBox(central);
    analogRangeList->setObjectName(QStringLiteral("AnalogRangeList"));
    analogRangeList->setGeometry(kRightColumn, y, 190, 22);
    y += 28;

    analogGroup = new QGroupBox(QStringLiteral("Аналоговый выход"), central);
    analogGroup->setObjectName(QStringLiteral("AnalogGroup"));
    analogGroup->setGeometry(kRightColumn, y, 190, 150);
    for (int i = 0; i < 3; ++i) {
        analogSelectors[i] = new QPushButton(QString::number(i + 1), analogGroup);
        analogSelectors[i]->setObjectName(QStringLiteral("AnalogSelector%1").arg(i + 1));
        analogSelectors[i]->setCheckable(true);
        analogSelectors[i]->setAutoExclusive(false);
        analogSelectors[i]->setGeometry(6 + 60 * i, 20, 56, 22);
        analogSelectors[i]->installEventFilter(this);
    }
    analogReadout = new TParameterGroupComponent(analogGroup);
    analogReadout->move(6, 46);
    analogReadout->SetInterfaceCaption(QStringLiteral("I"));
    analogReadout->SetMeasure1(QStringLiteral("A"));
    analogReadout->SetMeasure2(QStringLiteral("мА"));
    analogReadout->SetRoundValue(4);
    enableAnalogBox = new QCheckBox(QStringLiteral("Вкл."), central);
    enableAnalogBox->setGeometry(kRightColumn, y + 152, 60, 20);
    milliAmpsBox = new QCheckBox(QStringLiteral("мА"), central);
    milliAmpsBox->setGeometry(kRightColumn + 70, y + 152, 60, 20);
    parameterMenu = new QMenu(this);
    for (int p = 1; p <= TParameters::kCount; ++p) {
        QAction *a = parameterMenu->addAction(TMainLogic::ParameterName(p));
        connect(a, &QAction::triggered, this, [this, p] { logic->AnalogParameterChosen(parameterMenuOutput, p); });
    }

    // The entry controls take their step values from the settings.
    for (TNumericUpDown *c : {static_cast<TNumericUpDown *>(controlI), static_cast<TNumericUpDown *>(controlU),
             controlAngle, controlF, controlAddress})
        c->InitAppConfigAndStepSetter(config.get());
}

void TForm1::BuildReadout()
{
    QWidget *central = centralWidget();
    for (const TReadoutGroupDef &def : ReadoutGroups()) {
        auto *box = new QGroupBox(def.caption, central);
        box->setObjectName(def.caption);
        groups.insert(def.caption, box);
        for (const auto &[param, caption] : def.widgets) {
            auto *w = new TParameterGroupComponent(box);
            w->setObjectName(QStringLiteral("Readout%1").arg(param));
            w->SetParameter(caption);
            w->SetParamNumber(param);
            w->SetMeasure(def.unit);
            w->SetRoundValue(def.decimals);
            w->SetRoundValueError(2);
            readouts.insert(param, w);
        }
        box->hide();
    }
    energyGroupA = new QGroupBox(QStringLiteral("Активная  энергия"), central);
    energyGroupR = new QGroupBox(QStringLiteral("Реактивная энергия"), central);
    energyA = new TLabelAndError(energyGroupA);
    energyR = new TLabelAndError(energyGroupR);
    for (TLabelAndError *e : {energyA, energyR}) {
        e->SetParamName(QStringLiteral("Имп. вх."));
        e->move(15, 20);
    }
    energyGroupA->hide();
    energyGroupR->hide();
}

TNumericUpDown *TForm1::EntryControl(const QString &name) const
{
    if (name == QStringLiteral("I"))
        return controlI;
    if (name == QStringLiteral("U"))
        return controlU;
    if (name == QStringLiteral("Угол"))
        return controlAngle;
    if (name == QStringLiteral("F"))
        return controlF;
    if (name == QStringLiteral("Адр."))
        return controlAddress;
    return nullptr;
}

void TForm1::ShowSelections(const TMainSelections &c)
{
    // Shown as the logic holds them; none of these changes is a user's choice to hand back.
    const QSignalBlocker b1(configurationList), b2(uRangeList), b3(speedList), b4(protocolList), b5(rsParamNumber),
        b6(analogRangeList), b7(autoBox), b8(enableAnalogBox), b9(milliAmpsBox), b10(aruBox);
    configurationList->setCurrentIndex(c.configuration ? ConfigurationIndex(*c.configuration) : -1);
    Check(currentRange, c.currentRange);
    Check(voltage, c.voltage);
    Check(scheme, c.scheme4 ? QStringLiteral("4-x") : QStringLiteral("3-x"));
    uRangeList->setCurrentIndex(URangeIndex(c.uRange));
    speedList->setCurrentIndex(c.rsSpeedIndex);
    protocolList->setCurrentIndex(c.protocolIndex);
    rsParamNumber->setValue(c.rsParamNum);
    analogRangeList->setCurrentIndex(c.analogRangeIndex);
    autoBox->setChecked(c.autoAddress);
    enableAnalogBox->setChecked(c.enableAnalog);
    milliAmpsBox->setChecked(c.analogMilliAmps);
    aruBox->setChecked(c.aru);
}

void TForm1::BindActions()
{
    TMainLogic *l = logic.get();
    connect(configurationList, &QComboBox::currentIndexChanged, this, [l](int i) { l->ConfigurationChosen(i); });
    connect(currentRange, &QButtonGroup::idClicked, this,
        [l](int id) { l->CurrentRangeChosen(static_cast<TCurrentRange>(id)); });
    connect(voltage, &QButtonGroup::idClicked, this, [l](int id) { l->VoltageChosen(static_cast<TVoltageRange>(id)); });
    connect(scheme, &QButtonGroup::buttonClicked, this,
        [l](QAbstractButton *b) { l->SchemeChosen(b->text() == QStringLiteral("4-x")); });
    connect(uRangeList, &QComboBox::currentIndexChanged, this, [l](int i) { l->URangeChosen(i); });
    connect(speedList, &QComboBox::currentIndexChanged, this, [l](int i) { l->RsSpeedChosen(i); });
    connect(protocolList, &QComboBox::currentIndexChanged, this, [l](int i) { l->ProtocolChosen(i); });
    connect(rsParamNumber, &QSpinBox::valueChanged, this, [l](int n) { l->RsParamNumChosen(n); });
    connect(analogRangeList, &QComboBox::currentIndexChanged, this, [l](int i) { l->AnalogRangeChosen(i); });
    connect(autoBox, &QCheckBox::toggled, this, [l](bool on) { l->AutoAddressChosen(on); });
    connect(enableAnalogBox, &QCheckBox::toggled, this, [l](bool on) { l->EnableAnalogChosen(on); });
    connect(milliAmpsBox, &QCheckBox::toggled, this, [l](bool on) { l->AnalogMilliAmpsChosen(on); });
    connect(aruBox, &QCheckBox::toggled, this, [l](bool on) { l->AruChosen(on); });
    connect(connectButton, &QPushButton::clicked, this, [l] { l->ConnectClicked(); });
    connect(pauseButton, &QPushButton::clicked, this, [l] { l->PauseClicked(); });
    connect(readSettingsButton, &QPushButton::clicked, this, [l] { l->ReadSettingsClicked(); });
    for (int i = 0; i < 3; ++i)
        connect(analogSelectors[i], &QPushButton::clicked, this, [l, i] { l->AnalogSelectorClicked(i + 1); });

    controlI->SetAction([l](double v) { l->ActionI(v); });
    controlU->SetAction([l](double v) { l->ActionU(v); });
    controlAngle->SetAction([l](double v) { l->ActionAngle(v); });
    controlF->SetAction([l](double v) { l->ActionFrequency(v); });
    controlAddress->SetAction([l](double v) { l->ActionAddress(v); });
    // The voltage control has one toggle for all three phases.
    controlU->SetToggle1(QStringLiteral(" "), [l](bool state) { l->ToggleRequested(QStringLiteral(" "), state); });
}

// ---------------------------------------------------------------------------------------------------------
// IMainView

void TForm1::ShowError(const QString &text)
{
    TMessageService::Error(this, text);
}

void TForm1::ShowMessage(const QString &text)
{
    TMessageService::Information(this, text);
}

void TForm1::ShowConnection(bool connected)
{
    connectButton->setText(connected ? QStringLiteral("Откл.") : QStringLiteral("Подкл."));
    connected_ = connected;
    UpdateWindowMenus();
}

void TForm1::SetConnectButtonEnabled(bool enabled)
{
    connectButton->setEnabled(enabled);
    UpdateWindowMenus();
}

void TForm1::UpdateWindowMenus()
{
    // "Автоповерка" and "Автонастройка" open windows that take the installation's port for themselves:
    // only once this window has let it go. "Подкл." shows at once when disconnecting, but the port is
    // held until the switch-off has ended, and the connect button stays disabled until then.
    const bool portFree = !connected_ && connectButton->isEnabled();
    verificationAction->setEnabled(portFree && verificationWindow_);
    tuningAction->setEnabled(portFree && tuningWindow_);
}

void TForm1::SetPause(bool running, bool enabled)
{
    pauseButton->setText(running ? QStringLiteral("ll") : QStringLiteral("►"));
    pauseButton->setToolTip(running ? QStringLiteral("Пауза") : QStringLiteral("Продолжить"));
    pauseButton->setEnabled(enabled);
}

void TForm1::SetOutputControlsEnabled(bool enabled)
{
    controlI->SetEnabled(enabled);
    controlU->SetEnabled(enabled);
    controlAngle->SetEnabled(enabled);
    controlF->SetEnabled(enabled);
}

void TForm1::SetConfigurationSettingsEnabled(bool enabled)
{
    for (QWidget *w : std::initializer_list<QWidget *>{
             configurationList, schemeBox, uRangeList, voltageBox, speedList, currentRangeBox, analogRangeList})
        w->setEnabled(enabled);
}

void TForm1::SetReadSettingsEnabled(bool enabled)
{
    readSettingsButton->setEnabled(enabled);
}

void TForm1::SetAddressEnabled(bool enabled)
{
    controlAddress->SetEnabled(enabled);
}

void TForm1::ApplyLayout(const TMainLayout &layout)
{
    // Output controls left to right from (8, 18) inside their group.
    for (TNumericUpDown *c :
        {static_cast<TNumericUpDown *>(controlI), static_cast<TNumericUpDown *>(controlU), controlAngle, controlF})
        c->hide();
    int x = 8;
    for (const QString &name : layout.outputControls) {
        if (TNumericUpDown *c = EntryControl(name)) {
            c->move(x, 18);
            c->show();
            x += c->width() + 12;
        }
    }
    outputGroup->resize(layout.outputGroupWidth, 70);
    rsParamLabel->setGeometry(outputGroup->x() + layout.outputGroupWidth + 5, 14, 160, 20);
    rsParamNumber->setGeometry(outputGroup->x() + layout.outputGroupWidth + 5, 38, 60, 22);
    rsParamLabel->setVisible(layout.rsParamNumber);
    rsParamNumber->setVisible(layout.rsParamNumber);

    currentRangeBox->setVisible(layout.currentRangePanel);
    schemeBox->setVisible(layout.schemePanel);
    voltageBox->setVisible(layout.voltagePanel);
    uRangeList->setVisible(layout.uRangeList);
    addressBox->setVisible(layout.addressPanel);
    protocolList->setVisible(layout.protocolList);

    for (QGroupBox *g : groups)
        g->hide();
    for (TParameterGroupComponent *w : readouts)
        w->hide();
    for (const TMainLayout::TGroup &g : layout.groups) {
        QGroupBox *box = groups.value(g.caption);
        if (!box)
            continue;
        box->setGeometry(g.left, g.top, g.width, kGroupHeight);
        const int widgetWidth = TParameterGroupComponent::kWidth;
        const int count = static_cast<int>(g.params.size());
        const int gap = count > 1 ? (g.width - 16 - count * widgetWidth) / (count - 1) : 0;
        int wx = count > 1 ? 8 : (g.width - widgetWidth) / 2;
        for (int p : g.params) {
            if (TParameterGroupComponent *w = readouts.value(p)) {
                w->move(wx, 20);
                w->show();
                wx += widgetWidth + gap;
            }
        }
        box->show();
    }
    energyGroupA->setGeometry(layout.energyActiveLeft, layout.energyActiveTop, kEnergyGroupWidth, 80);
    energyGroupR->setGeometry(layout.energyReactiveLeft, layout.energyReactiveTop, kEnergyGroupWidth, 80);
    energyGroupA->setVisible(layout.energyGroups);
    energyGroupR->setVisible(layout.energyGroups);
}

void TForm1::SetEntryLimits(const QString &control, double min, double max)
{
    if (TNumericUpDown *c = EntryControl(control)) {
        c->SetMin(min);
        c->SetMax(max);
    }
}

void TForm1::SetEntryValue(const QString &control, double value)
{
    if (TNumericUpDown *c = EntryControl(control))
        c->SetValue(value);
}

void TForm1::SetCurrentToggles(const QStringList &names)
{
    controlI->RemoveToggle2();
    controlI->RemoveToggle3();
    auto action
        = [this](const QString &name) { return [this, name](bool state) { logic->ToggleRequested(name, state); }; };
    if (names.size() >= 3) {
        controlI->SetToggle2(names[1], action(names[1]));
        controlI->SetToggle3(names[2], action(names[2]));
    } else if (names.size() == 2) {
        controlI->SetToggle2(names[1], action(names[1]));
    }
    controlI->SetToggle1(names.value(0, QStringLiteral("Ia")), action(names.value(0, QStringLiteral("Ia"))));
}

void TForm1::ShowToggleState(const QString &name, bool on)
{
    if (TToggle *t = (name == QStringLiteral(" ") ? controlU : controlI)->GetToggle(name))
        t->ShowState(on);
}

void TForm1::SetReadoutDecimals(int param, int decimals)
{
    if (TParameterGroupComponent *w = readouts.value(param))
        w->SetRoundValue(decimals);
}

void TForm1::SetReadoutValue(int param, double value)
{
    if (TParameterGroupComponent *w = readouts.value(param))
        w->SetValue(value);
}

void TForm1::DisplayReadoutValue(int param, double value)
{
    if (TParameterGroupComponent *w = readouts.value(param))
        w->DisplayValue(value);
}

void TForm1::SetReadoutRs(
    int param, bool qx4Layout, const TDeviceInfo &info, double permissibleError, double error, double value)
{
    TParameterGroupComponent *w = readouts.value(param);
    if (!w)
        return;
    if (qx4Layout)
        w->SetValueRsAndErrorQX4(info, permissibleError, error, value);
    else
        w->SetValueRsAndErrorNotQX4(info, permissibleError, error, value);
}

void TForm1::SetReadoutRsDefault(int param)
{
    if (TParameterGroupComponent *w = readouts.value(param))
        w->SetDefaultRs();
}

void TForm1::SetDefaultReadout()
{
    for (TParameterGroupComponent *w : readouts)
        w->SetDefaultRs();
}

void TForm1::SetEnergyErrors(double ea, double er)
{
    energyA->SetError(ea);
    energyR->SetError(er);
}

void TForm1::SetAnalogSelector(int output, const QString &caption, bool visible)
{
    if (output < 1 || output > 3)
        return;
    analogSelectors[output - 1]->setText(caption.isEmpty() ? QString::number(output) : caption);
    analogSelectors[output - 1]->setVisible(visible);
}

void TForm1::SelectAnalogOutput(int output)
{
    for (int i = 0; i < 3; ++i)
        analogSelectors[i]->setChecked(i + 1 == output);
}

void TForm1::SetAnalogGroupEnabled(bool enabled)
{
    analogGroup->setEnabled(enabled);
}

void TForm1::SetAnalogSelectorsEnabled(bool enabled)
{
    for (QPushButton *b : analogSelectors)
        b->setEnabled(enabled);
}

void TForm1::SetAnalogParameter(const QString &name, const QString &unit, int param)
{
    analogReadout->SetParameter(name);
    analogReadout->SetParamNumber(param);
    analogReadout->SetMeasure1(unit);
    analogReadout->SetMeasure2(QStringLiteral("мА"));
}

void TForm1::SetAnalogReadout(double shownValue, double permissibleError, double measured, double error)
{
    analogReadout->SetValue(shownValue);
    analogReadout->SetAnalogValueAndError(permissibleError, measured, error);
}

void TForm1::SetAnalogDashes()
{
    analogReadout->SetDashes();
}

void TForm1::ShowParameterMenu(int output)
{
    parameterMenuOutput = output;
    parameterMenu->popup(QCursor::pos());
}

void TForm1::ShowInstallationPhasors(const TParameters &readings, bool scheme4)
{
    if (vectorDiagram && vectorDiagram->isVisible())
        vectorDiagram->ShowInstallationReadings(readings, scheme4 ? TWiringScheme::FourWire : TWiringScheme::ThreeWire);
}

void TForm1::ShowTransducerPhasors(const TParameters &readings, const TTransfCoefs &coefs)
{
    if (vectorDiagram && vectorDiagram->isVisible())
        vectorDiagram->ShowTransducerReadings(readings, coefs);
}

void TForm1::ForgetTransducerPhasors()
{
    if (vectorDiagram)
        vectorDiagram->ForgetTransducer();
}

void TForm1::ClearPhasors()
{
    if (vectorDiagram)
        vectorDiagram->Clear();
}

void TForm1::SetCoefficientLabel(const QString &text)
{
    coefficientLabel->setText(text);
}

void TForm1::SetCycles(int cycles)
{
    cyclesLabel->setText(QStringLiteral("Циклы: ") + QString::number(cycles));
}

void TForm1::SetAddressColor(uint32_t windowsColor)
{
    controlAddress->SetEditColor(ColorFromWindows(windowsColor));
}

void TForm1::SetAddressValue(double value)
{
    controlAddress->SetValue(value);
}

// ---------------------------------------------------------------------------------------------------------

void TForm1::OpenSettings()
{
    if (!settingsForm) {
        settingsForm = new TSettingsForm(this);
        settingsForm->setAttribute(Qt::WA_DeleteOnClose, false);
        connect(settingsForm, &QDialog::finished, this, [this] {
            try {
                logic->ReadNominalsAndPermissibleError();
            } catch (const std::exception &e) {
                TMessageService::Error(this, QString::fromUtf8(e.what()));
            }
        });
    }
    settingsForm->SetDeviceInterfaceAndConfigController(logic->DevInterface(), logic->DevInterface2(), config.get());
    settingsForm->show();
    settingsForm->raise();
}

void TForm1::OpenTuning()
{
    if (!tuningWindow_)
        return;
    if (!tuningForm) {
        // Owned by this window and gone when it is closed; closing it, or this window, switches the
        // installation off first.
        tuningForm = tuningWindow_(config.get(), this, thisRun_);
        if (!tuningForm)
            return;
    }
    tuningForm->show();
    tuningForm->raise();
    tuningForm->activateWindow();
}

void TForm1::OpenVectorDiagram()
{
    if (!vectorDiagram)
        vectorDiagram = new TVectorDiagramForm(this);
    vectorDiagram->show();
    vectorDiagram->raise();
    vectorDiagram->activateWindow();
}

TVectorDiagramForm *TForm1::VectorDiagram() const
{
    return vectorDiagram;
}

QWidget *TForm1::TuningForm() const
{
    return tuningForm.data();
}

void TForm1::OpenJournal()
{
    if (!journal_)
        return;
    QStringList notDates; // of the holidays' list, told once the archive is shown
    if (!journalWindow) {
        journalWindow = new TJournalWindow(journal_, this);
        journalWindow->setWindowFlag(Qt::Window);
        journalWindow->setAttribute(Qt::WA_DeleteOnClose);
        TJournalArchiveLogic &archive = journalWindow->Logic();
        if (journalledRunWindow_) {
            archive.SetOpenHandler([this](const TJournalRunId &id) {
                if (const std::optional<TJournalRun> run = LoadJournalledRun(id))
                    if (QWidget *window = journalledRunWindow_(config.get(), *run, true, this, thisRun_))
                        window->show();
            });
        }
        if (journalReport_) {
            archive.SetReportHandler([this](const TJournalRunId &id) {
                if (const std::optional<TJournalRun> run = LoadJournalledRun(id))
                    journalReport_(config.get(), *run, journalWindow);
            });
        }
        archive.Start();
        // The Fund: each finished verification not sent yet shows its deadline, red within 5 working days.
        const QSet<QDate> holidays = ArshinHolidays(TArshinConfig(config.get()).ReadHolidaysText(), &notDates);
        journalWindow->SetFundDeadline([holidays](const TJournalRunSummary &run) {
            const QDate deadline = ArshinDeadline(run.started.toLocalTime().date(), run.usedAsStandard, holidays);
            const int left = WorkingDaysLeft(QDate::currentDate(), deadline, holidays);
            return std::pair<QString, bool>(
                QStringLiteral("до ") + deadline.toString(QStringLiteral("dd.MM.yyyy")), ArshinDeadlineNear(left));
        });
        journalWindow->SetArshinHandler(
            [this](const std::vector<TJournalRunId> &ids, bool withProtocols) { ExportToArshin(ids, withProtocols); });
    }
    journalWindow->show();
    journalWindow->raise();
    journalWindow->activateWindow();
    // A mistyped holiday would silently count as a working day and move every deadline.
    if (!notDates.isEmpty())
        TMessageService::Show(journalWindow,
            {TMessageService::TKind::Warning, QStringLiteral("KestManager"),
                QStringLiteral("В списке нерабочих дней [Arshin] Holidays= не даты (нужно дд.ММ.гггг): %1. "
                               "Сроки для «Аршин» считаются без них.")
                    .arg(notDates.join(QStringLiteral(", ")))});
}

namespace {

template<class TWindow> void ShowRegister(QPointer<QWidget> &window, TJournal *journal, QWidget *parent)
{
    if (!journal)
        return;
    if (!window) {
        window = new TWindow(&journal->Registry(), parent);
        window->setWindowFlag(Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void TForm1::OpenInstrumentTypes()
{
    ShowRegister<TInstrumentTypesWindow>(typesWindow_, journal_, this);
}

void TForm1::OpenStandards()
{
    ShowRegister<TStandardsWindow>(standardsWindow_, journal_, this);
}

void TForm1::ExportToArshin(const std::vector<TJournalRunId> &ids, bool withProtocols)
{
    std::vector<TJournalRun> runs;
    for (const TJournalRunId &id : ids)
        if (std::optional<TJournalRun> run = LoadJournalledRun(id))
            runs.push_back(std::move(*run));
    if (runs.empty())
        return;
    // What keeps runs out is said before anything is written: the user may rather complete their records
    // first than upload part of the list now and the rest in another file.
    const TArshinLab lab = ArshinLabOf(TLabConfig(config.get()));
    QStringList left;
    std::vector<const TJournalRun *> ready;
    for (const TJournalRun &run : runs) {
        const QStringList missing = ArshinMissing(run, lab);
        if (missing.isEmpty())
            ready.push_back(&run);
        else
            // As the archive's rows show it, so that the user finds it there; the id for kestctl.
            left << QStringLiteral("Поверка %1, № %2 (%3): %4")
                        .arg(run.header.started.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm")),
                            run.header.DeviceNumber().trimmed(), run.header.id, missing.join(QStringLiteral("; ")));
    }
    if (ready.empty()) {
        TMessageService::Error(journalWindow,
            QStringLiteral("Ни одна из поверок не может быть выгружена в «Аршин»:\n") + left.join(QLatin1Char('\n')));
        return;
    }
    if (!left.isEmpty()
        && !TMessageService::Confirm(journalWindow, QStringLiteral("Выгрузить в «Аршин»"),
            QStringLiteral("Не войдут в файл:\n%1\n\nЗаписать остальные (%2)?")
                .arg(left.join(QLatin1Char('\n')))
                .arg(ready.size())))
        return;
    const QString suggested = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
        + QStringLiteral("/Аршин %1.xml").arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    const QString path = arshinPath_
        ? arshinPath_(suggested)
        : QFileDialog::getSaveFileName(
            journalWindow, QStringLiteral("Выгрузить в «Аршин»"), suggested, QStringLiteral("XML (*.xml)"));
    if (path.isEmpty())
        return;
    TArshinOptions options;
    QTemporaryDir protocols;
    if (withProtocols && !MakeArshinProtocols(ready, protocols, options))
        return;
    const QString who = TAvtopoverkaReportConfig(config.get()).ReadReportData().Verifier.trimmed();
    const TArshinExportResult result = ExportRunsToArshin(
        *journal_, config.get(), runs, path, options, who.isEmpty() ? QStringLiteral("KestManager") : who);
    if (result.written)
        TMessageService::Information(journalWindow, result.Text(path));
    else
        TMessageService::Error(journalWindow, result.Text(path));
}

bool TForm1::MakeArshinProtocols(
    const std::vector<const TJournalRun *> &wanted, const QTemporaryDir &folder, TArshinOptions &options)
{
    if (!journalProtocol_ || !folder.isValid()) {
        TMessageService::Error(journalWindow, QStringLiteral("Протоколы не могут быть вложены: нет места для них"));
        return false;
    }
    // Each protocol goes through the office suite for seconds: shown, and the user may stop. The dialog
    // is modal, so nothing else in the archive can start meanwhile.
    QProgressDialog progress(QStringLiteral("Протоколы поверок для «Аршин»…"), QStringLiteral("Отмена"), 0,
        int(wanted.size()), journalWindow);
    progress.setObjectName(QStringLiteral("arshinProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    for (size_t k = 0; k < wanted.size(); ++k) {
        const TJournalRun &run = *wanted[k];
        progress.setValue(int(k));
        progress.setLabelText(QStringLiteral("Протокол %1 из %2…").arg(k + 1).arg(wanted.size()));
        if (progress.wasCanceled())
            return false;
        // A folder per run: two runs of one device keep a protocol each under the same name.
        const QString device = run.header.DeviceNumber().trimmed();
        const QString pdf = folder.filePath(
            run.header.id + QStringLiteral("/Протокол %1.pdf").arg(device.isEmpty() ? run.header.id : device));
        QString why;
        if (!QDir().mkpath(QFileInfo(pdf).absolutePath()) || !journalProtocol_(config.get(), run, pdf, &why)) {
            TMessageService::Error(journalWindow,
                QStringLiteral("Протокол поверки %1 не записан: %2. Файл для «Аршин» не записан.")
                    .arg(run.header.id, why.isEmpty() ? QStringLiteral("нет места для файла") : why));
            return false;
        }
        if (progress.wasCanceled())
            return false;
        options.protocols[run.header.id] = pdf;
    }
    progress.setValue(int(wanted.size()));
    return true;
}

std::optional<TJournalRun> TForm1::LoadJournalledRun(const TJournalRunId &id)
{
    std::optional<TJournalRun> run = journal_->LoadRun(id);
    if (!run)
        TMessageService::Error(this, QStringLiteral("Поверка не прочитана из журнала: ") + journal_->LastReadError());
    return run;
}

TJournalWindow *TForm1::JournalWindow() const
{
    return journalWindow.data();
}

void TForm1::OfferUnfinishedRuns()
{
    // Outputs left on by a program that did not end its run go off before anyone is asked anything.
    if (const std::optional<TSwitchOffResult> off = logic->SwitchOffOwed()) {
        if (off->confirmed)
            TMessageService::Information(this,
                QStringLiteral("Выходы установки оставались включёнными после прошлого сеанса (программа "
                               "закрылась, не выключив их). Они выключены, дистанционное управление отдано."));
        else
            TMessageService::Error(this,
                QStringLiteral("Выходы установки, оставшиеся включёнными после прошлого сеанса, не удалось "
                               "выключить: ")
                    + off->Text());
    }
    if (!journal_)
        return;
    for (const TJournalRunSummary &run : journal_->UnfinishedRuns()) {
        const QString when = run.started.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
        if (run.kind == TJournalRunKind::Tuning) {
            journal_->EndTuning(run.id, TJournalRunEnd::Interrupted());
            TMessageService::Information(this,
                QStringLiteral("Автонастройка, начатая %1, не была завершена: программа "
                               "закрылась раньше. В журнале она отмечена как прерванная.")
                    .arg(when));
            continue;
        }
        const QString device
            = run.deviceNumber.isEmpty() ? QString() : QStringLiteral(", устройство № ") + run.deviceNumber;
        const QString text = QStringLiteral("Поверка «%1», начатая %2%3, не была завершена (измерено точек: %4).\n"
                                            "Восстановить её в окне автоповерки?")
                                 .arg(run.configuration, when, device)
                                 .arg(run.points);
        // The verification window takes the installation's port: only while this window has let it go.
        const bool canOpen = journalledRunWindow_ && verificationAction->isEnabled();
        if (!canOpen || !TMessageService::Confirm(this, QStringLiteral("Восстановление поверки"), text)) {
            journal_->EndRun(run.id, TJournalRunEnd::Interrupted());
            continue;
        }
        const std::optional<TJournalRun> loaded = LoadJournalledRun(run.id);
        if (!loaded)
            continue;
        if (QWidget *window = journalledRunWindow_(config.get(), *loaded, false, this, thisRun_))
            window->show();
    }
}

void TForm1::OpenVerification()
{
    const auto code = logic->Selections().configuration;
    if (!verificationWindow_ || !code || !verificationAction->isEnabled())
        return;
    if (QWidget *window = verificationWindow_(config.get(), *code, this, thisRun_))
        window->show();
}

void TForm1::OpenCoefficientWindow(const QPoint &pos)
{
    if (!logic->DevInfo())
        return;
    TForm13 window(config.get(), logic->TransfCoefs(), this);
    window.move(pos);
    window.exec();
    logic->ApplyStoredCoefficients();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == coefficientGroup || watched == coefficientLabel) && event->type() == QEvent::MouseButtonRelease) {
        OpenCoefficientWindow(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
        return true;
    }
    for (int i = 0; i < 3; ++i) {
        if (watched == analogSelectors[i] && event->type() == QEvent::MouseButtonPress
            && static_cast<QMouseEvent *>(event)->button() == Qt::RightButton) {
            parameterMenuOutput = i + 1;
            parameterMenu->popup(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::CloseChildWindows()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget *w : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (w->isWindow() && w->isVisible())
            windows << w;
    for (const QPointer<QWidget> &w : windows)
        if (w)
            w->close();
    // A window that switches off asynchronously (the tuning) closes itself once that is confirmed.
    QElapsedTimer elapsed;
    elapsed.start();
    TWaiter wait;
    auto open = [&windows] {
        return std::any_of(
            windows.begin(), windows.end(), [](const QPointer<QWidget> &w) { return w && w->isVisible(); });
    };
    while (open() && elapsed.elapsed() < kChildCloseLimitMs)
        if (!wait.Wait(50, QStringLiteral("Закрытие окон")))
            break;
}

void TForm1::closeEvent(QCloseEvent *event)
{
    config->WriteMainWindowCoordX(x());
    config->WriteMainWindowCoordY(y());
    if (updateForm)
        updateForm->StopCheck();
    // Windows opened from here (verification, tuning) switch the installation off first, each confirmed:
    // closing the main window must not leave a run with its outputs on behind it.
    CloseChildWindows();
    // The installation is switched off and released before its port goes.
    logic->Shutdown();
    logic->DevInterface()->Dispose();
    QMainWindow::closeEvent(event);
}
