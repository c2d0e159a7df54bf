#include "tuning/form14.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include "presentation/controls/form13.h"
#include "presentation/controls/messageservice.h"
#include "tuning/form15.h"
#include "tuning/tuningjournal.h"

namespace {

QButtonGroup *RadioGroup(QWidget *parent, const QString &title, const QStringList &items, QRect area)
{
    auto *box = new QGroupBox(title, parent);
    box->setGeometry(area);
    auto *group = new QButtonGroup(box);
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], box);
        b->setObjectName(items[i]);
        b->setGeometry(10, 22 + 24 * i, area.width() - 16, 22);
        group->addButton(b, i);
    }
    return group;
}

QComboBox *List(QWidget *parent, const QString &caption, const QStringList &items, int x, int y, int width = 130)
{
    auto *label = new QLabel(caption, parent);
    label->setGeometry(x, y, width + 40, 20);
    auto *list = new QComboBox(parent);
    list->setObjectName(caption);
    list->addItems(items);
    list->setGeometry(x, y + 20, width, 24);
    return list;
}

QSpinBox *Spin(QWidget *parent, const QString &caption, int x, int y)
{
    auto *label = new QLabel(caption, parent);
    label->setGeometry(x, y, 120, 20);
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(caption);
    spin->setRange(0, 255);
    spin->setGeometry(x, y + 20, 90, 24);
    return spin;
}

QPushButton *Button(QWidget *parent, const QString &caption, QRect area)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(caption);
    b->setGeometry(area);
    return b;
}

} // namespace

TForm14::TForm14(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form14"));
    setWindowTitle(QStringLiteral("Автонастройка"));
    setAttribute(Qt::WA_DeleteOnClose);
    logic_ = std::make_unique<TAutoTuning>(this);
    recorder_ = std::make_unique<TTuningJournalRecorder>(nullptr, logic_.get());
    BuildControls();
    Bind();
    resize(900, 540);
}

TForm14::~TForm14()
{
    // The logic ends a run that is still going before the links go; nothing is shown any more.
    logic_->DetachView();
    recorder_->SetIdentityWindow(nullptr);
    logic_.reset();
    recorder_.reset();
}

void TForm14::SetJournal(TJournal *journal)
{
    recorder_->SetJournal(journal);
}

void TForm14::BuildControls()
{
    voltage_ = RadioGroup(this, QStringLiteral("Напряжение"), TAutoTuning::kVoltageCaptions, {12, 8, 110, 100});
    current_ = RadioGroup(this, QStringLiteral("Ток"), TAutoTuning::kCurrentCaptions, {130, 8, 100, 124});
    scheme_ = RadioGroup(this, QStringLiteral("Схема"), TAutoTuning::kSchemeCaptions, {238, 8, 90, 76});
    netAdr_ = Spin(this, QStringLiteral("Сетевой адрес"), 340, 8);
    newAdr_ = Spin(this, QStringLiteral("Новый адрес"), 340, 56);

    coefGroup_ = new QGroupBox(QStringLiteral("Коэффициенты трансформации"), this);
    coefGroup_->setObjectName(QStringLiteral("Коэффициенты трансформации"));
    coefGroup_->setGeometry(12, 136, 316, 52);
    coefGroup_->setCursor(Qt::PointingHandCursor);
    coefLabel_ = new QLabel(coefGroup_);
    coefLabel_->setObjectName(QStringLiteral("coefficients"));
    coefLabel_->setGeometry(10, 22, 300, 22);
    coefGroup_->installEventFilter(this);
    coefLabel_->installEventFilter(this);

    const QStringList speeds = TAutoTuning::SpeedCaptions();
    rs1_ = List(this, QStringLiteral("Скорость RS 1"), speeds, 12, 196);
    rs2_ = List(this, QStringLiteral("Скорость RS 2"), speeds, 12, 244);
    rs2Enabled_ = new QCheckBox(this);
    rs2Enabled_->setObjectName(QStringLiteral("RS 2"));
    rs2Enabled_->setGeometry(148, 266, 22, 22);
    rs2Config_ = List(this, QStringLiteral("Конф-ция RS 2"), TAutoTuning::kRs2ConfigCaptions, 176, 244, 152);
    const QStringList parameters = TAutoTuning::ParameterCaptions();
    for (int i = 0; i < 3; ++i)
        outputs_[static_cast<size_t>(i)]
            = List(this, QStringLiteral("Вых/Инд ") + QString::number(i + 1), parameters, 12 + 108 * i, 296, 96);
    analogType_ = List(this, QStringLiteral("Выходной сигнал, мА"), TAutoTuning::kAnalogTypeCaptions, 12, 344, 150);
    analogEnabled_ = new QCheckBox(QStringLiteral("Настроить аналоговые выходы"), this);
    analogEnabled_->setObjectName(analogEnabled_->text());
    analogEnabled_->setGeometry(12, 394, 316, 22);
    sound_ = new QCheckBox(QStringLiteral("Звуковой сигнал по завершению"), this);
    sound_->setObjectName(sound_->text());
    sound_->setGeometry(12, 418, 316, 22);

    readSettings_ = Button(this, QStringLiteral("Прочитать параметры"), {12, 450, 156, 30});
    extraSettings_ = Button(this, QStringLiteral("Дополнительные настройки"), {172, 450, 190, 30});
    find_ = Button(this, QStringLiteral("Найти"), {340, 104, 90, 28});
    start_ = Button(this, QStringLiteral("Настроить"), {12, 490, 156, 36});
    stop_ = Button(this, QStringLiteral("Стоп"), {172, 490, 156, 36});

    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("log"));
    log_->setReadOnly(true);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setGeometry(444, 8, 444, 520);

    rs2_->setEnabled(false);
    rs2Config_->setEnabled(false);
    analogType_->setEnabled(false);
}

void TForm14::Bind()
{
    TAutoTuning *l = logic_.get();
    connect(voltage_, &QButtonGroup::idClicked, l, &TAutoTuning::VoltageChosen);
    connect(current_, &QButtonGroup::idClicked, l, &TAutoTuning::CurrentChosen);
    connect(scheme_, &QButtonGroup::idClicked, l, &TAutoTuning::SchemeChosen);
    connect(netAdr_, &QSpinBox::valueChanged, l, &TAutoTuning::NetAdrChanged);
    connect(newAdr_, &QSpinBox::valueChanged, l, &TAutoTuning::NewAdrChanged);
    connect(rs1_, &QComboBox::currentIndexChanged, l, &TAutoTuning::Rs1Chosen);
    connect(rs2_, &QComboBox::currentIndexChanged, l, &TAutoTuning::Rs2Chosen);
    connect(rs2Config_, &QComboBox::currentIndexChanged, l, &TAutoTuning::Rs2ConfigChosen);
    connect(rs2Enabled_, &QCheckBox::toggled, this, [this](bool on) {
        rs2_->setEnabled(on);
        rs2Config_->setEnabled(on);
        logic_->Rs2Toggled(on);
    });
    for (int i = 0; i < 3; ++i)
        connect(outputs_[static_cast<size_t>(i)], &QComboBox::currentIndexChanged, this,
            [this, i](int position) { logic_->OutputChosen(i + 1, position); });
    connect(analogType_, &QComboBox::currentIndexChanged, l, &TAutoTuning::AnalogTypeChosen);
    connect(analogEnabled_, &QCheckBox::toggled, this, [this](bool on) {
        analogType_->setEnabled(on);
        logic_->AnalogToggled(on);
    });
    connect(sound_, &QCheckBox::clicked, l, &TAutoTuning::SoundClicked);
    connect(readSettings_, &QPushButton::clicked, l, &TAutoTuning::ReadSettingsClicked);
    connect(find_, &QPushButton::clicked, l, &TAutoTuning::FindClicked);
    connect(start_, &QPushButton::clicked, l, &TAutoTuning::StartClicked);
    connect(stop_, &QPushButton::clicked, l, &TAutoTuning::StopClicked);
    connect(extraSettings_, &QPushButton::clicked, this, &TForm14::ExtraSettingsClicked);
}

void TForm14::InitKestCommunication(TConfigController *_config)
{
    logic_->InitKestCommunication(_config);
}

void TForm14::InitDeviceCommunication()
{
    logic_->InitDeviceCommunication();
}

void TForm14::ClearLog()
{
    log_->clear();
}

void TForm14::AddLog(const QString &line)
{
    log_->appendPlainText(line);
    log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void TForm14::ShowChoices(const TTuningChoices &c)
{
    const QSignalBlocker b1(voltage_), b2(current_), b3(scheme_), b4(netAdr_), b5(newAdr_), b6(rs1_), b7(rs2_),
        b8(rs2Config_), b9(analogType_), b10(sound_);
    voltage_->button(c.voltageIndex)->setChecked(true);
    current_->button(c.currentIndex)->setChecked(true);
    scheme_->button(c.schemeIndex)->setChecked(true);
    netAdr_->setValue(c.netAdr);
    newAdr_->setValue(c.newAdr);
    rs1_->setCurrentIndex(c.rs1Index);
    rs2_->setCurrentIndex(c.rs2Index);
    rs2Config_->setCurrentIndex(c.rs2ConfigIndex);
    for (size_t i = 0; i < 3; ++i) {
        const QSignalBlocker b(outputs_[i]);
        outputs_[i]->setCurrentIndex(c.outputs[i]);
    }
    analogType_->setCurrentIndex(c.analogTypeIndex);
    sound_->setChecked(c.playSound);
}

void TForm14::SetCoefficientLabel(const QString &text)
{
    coefLabel_->setText(text);
}

void TForm14::SetRunning(bool running)
{
    start_->setEnabled(!running);
    // The transducer's line belongs to the run while it goes.
    for (QWidget *w : std::initializer_list<QWidget *>{readSettings_, extraSettings_, find_, coefGroup_})
        w->setEnabled(!running);
}

void TForm14::ShowError(const QString &text)
{
    TMessageService::Error(this, text);
}

void TForm14::ExtraSettingsClicked()
{
    if (logic_->IsRunning())
        return;
    if (!form15_) {
        form15_ = new TForm15(this);
        recorder_->SetIdentityWindow(&form15_->Logic());
    }
    if (logic_->OpenDevicePortForIdentity()) {
        form15_->InitDeviceInterfaceAndCmdManager(logic_->DeviceInterface(), logic_->DeviceCmdManager());
        form15_->exec();
    }
    logic_->CloseDevicePort();
}

void TForm14::CoefficientsClicked()
{
    if (logic_->IsRunning() || !logic_->Config())
        return;
    TForm13 window(logic_->Config(), logic_->TransfCoefs(), this);
    window.move(QCursor::pos());
    window.exec();
    logic_->CoefficientsEdited();
}

bool TForm14::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == coefGroup_ || watched == coefLabel_) && event->type() == QEvent::MouseButtonRelease
        && coefGroup_->isEnabled()) {
        CoefficientsClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm14::closeEvent(QCloseEvent *event)
{
    if (closing_ || !logic_->NeedsShutDown()) {
        logic_->ShutDown(nullptr);
        event->accept();
        return;
    }
    // Outputs off first; the window goes when the installation has confirmed it.
    event->ignore();
    if (logic_->IsShuttingDown() && closeRequested_)
        return;
    closeRequested_ = true;
    setEnabled(false);
    AddLog(QStringLiteral("Выключение выходов KEST..."));
    logic_->ShutDown([this] {
        closing_ = true;
        QTimer::singleShot(0, this, &QWidget::close);
    });
}

TForm14 *CreateTuningWindow(
    TConfigController *store, TJournal *journal, QWidget *parent, const QString &port1, const QString &port2)
{
    auto *window = new TForm14(parent);
    window->Logic().SetPortOverride(port1, port2);
    window->InitKestCommunication(store);
    window->InitDeviceCommunication();
    window->SetJournal(journal);
    return window;
}
