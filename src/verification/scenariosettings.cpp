#include "verification/scenariosettings.h"

#include "presentation/configurationrow.h"

#include "presentation/controls/messageservice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

namespace {

constexpr int kLeft = 10;
constexpr int kRight = 330;
constexpr int kColumnWidth = 310;
constexpr int kLeftColumnRows = 15;

void Sync(QCheckBox *box, const TCheckState &state)
{
    const QSignalBlocker block(box);
    if (box->text() != state.caption)
        box->setText(state.caption);
    box->setChecked(state.checked);
    box->setEnabled(state.enabled);
}

} // namespace

TSuperScenarioSettings::TSuperScenarioSettings(TConfigurationCode configurationCode, QWidget *parent)
    : QDialog(parent), logic_(std::make_unique<TScenarioSettingsLogic>(configurationCode, this))
{
    setWindowTitle(QStringLiteral("Настройка сценария"));
    setModal(true);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(kLeft, 10, 200, 24);
    for (const QString &name : logic_->TabNames())
        ComboBox1->addItem(name);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(kLeft, 42, 200, 24);

    const int count = int(logic_->Parameters().size());
    for (int k = 1; k <= count; ++k) {
        auto *box = new QCheckBox(logic_->Parameters()[size_t(k - 1)].caption, this);
        box->setObjectName(QStringLiteral("CheckBoxParam%1").arg(k));
        const bool left = k <= kLeftColumnRows;
        const int row = left ? k - 1 : k - 1 - kLeftColumnRows;
        box->setGeometry(left ? kLeft : kRight, kParamsTop + row * kRowHeight, kColumnWidth, kRowHeight);
        connect(box, &QCheckBox::clicked, this, [this, k](bool checked) { logic_->ParameterClicked(k, checked); });
        CheckBoxesParams.push_back(box);
    }
    const int rows = std::max(kLeftColumnRows, count - kLeftColumnRows);
    int y = kParamsTop + rows * kRowHeight + 12;

    auto *inputsLabel = new QLabel(QStringLiteral("Входные параметры в отчёте:"), this);
    inputsLabel->setGeometry(kLeft, y, 300, kRowHeight);
    y += kRowHeight + 2;
    for (int i = 0; i < 4; ++i) {
        auto *box = new QCheckBox(TScenarioSettingsLogic::InputCaptions()[i], this);
        box->setObjectName(QStringLiteral("CheckBoxInput%1").arg(i + 1));
        box->setGeometry(kLeft + i * 140, y, 135, kRowHeight);
        connect(box, &QCheckBox::clicked, this, [this, i](bool checked) { logic_->InputClicked(i, checked); });
        CheckBoxesInputs.push_back(box);
    }
    y += kRowHeight + 10;
    LimitLabel = new QLabel(this);
    LimitLabel->setObjectName(QStringLiteral("LimitLabel"));
    LimitLabel->setGeometry(kLeft, y, 300, kRowHeight);
    OkButton = new QPushButton(QStringLiteral("OK"), this);
    OkButton->setObjectName(QStringLiteral("ButtonOK"));
    OkButton->setGeometry(kRight + kColumnWidth - 90, y, 80, 28);
    setFixedSize(kRight + kColumnWidth + 10, y + 40);

    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!showing_ && index >= 0)
            logic_->TabSelected(index);
    });
    connect(Edit1, &QLineEdit::textEdited, this, [this](const QString &text) { logic_->TabNameEdited(text); });
    connect(OkButton, &QPushButton::clicked, this, [this] { logic_->OkClicked(); });
}

TSuperScenarioSettings::~TSuperScenarioSettings() = default;

void TSuperScenarioSettings::Init(TConfigController *ini, int currentTabNum)
{
    logic_->Init(ini, currentTabNum);
}

void TSuperScenarioSettings::ShowState()
{
    showing_ = true;
    {
        const QSignalBlocker block(ComboBox1);
        const QStringList &names = logic_->TabNames();
        for (int i = 0; i < names.size() && i < ComboBox1->count(); ++i)
            if (ComboBox1->itemText(i) != names[i])
                ComboBox1->setItemText(i, names[i]);
        ComboBox1->setCurrentIndex(logic_->CurrentTab());
    }
    const QString name = logic_->TabNames().value(logic_->CurrentTab());
    if (Edit1->text() != name) {
        const QSignalBlocker block(Edit1);
        Edit1->setText(name);
    }
    for (size_t i = 0; i < CheckBoxesParams.size(); ++i)
        Sync(CheckBoxesParams[i], logic_->Parameters()[i]);
    for (size_t i = 0; i < CheckBoxesInputs.size(); ++i)
        Sync(CheckBoxesInputs[i], logic_->Inputs()[i]);
    LimitLabel->setText(logic_->LimitText());
    LimitLabel->setVisible(logic_->setup().limitLabelVisible);
    ShowExtras();
    showing_ = false;
}

void TSuperScenarioSettings::ShowError(const QString &text)
{
    TMessageService::Error(this, text);
}

void TSuperScenarioSettings::ShowMessage(const QString &text)
{
    TMessageService::Information(this, text);
}

void TSuperScenarioSettings::ShowAnalogMenu(int, const std::vector<std::pair<int, QString>> &items)
{
    if (AnalogMenu)
        AnalogMenu->deleteLater();
    AnalogMenu = new QMenu(this);
    AnalogMenu->setObjectName(QStringLiteral("AnalogMenu"));
    for (const auto &[index, name] : items) {
        QAction *action = AnalogMenu->addAction(name);
        connect(action, &QAction::triggered, this, [this, index = index] { logic_->AnalogParameterChosen(index); });
    }
    AnalogMenu->popup(QCursor::pos());
}

void TSuperScenarioSettings::CloseWindow()
{
    accept();
}

TScenarioSettingsKest::TScenarioSettingsKest(TConfigurationCode configurationCode, QWidget *parent)
    : TSuperScenarioSettings(configurationCode, parent)
{
    setWindowTitle(logic_->Title());
    auto *group = new QGroupBox(QStringLiteral("Интерфейс"), this);
    group->setGeometry(kRight, 6, 220, 64);
    RadioRS = new QRadioButton(QStringLiteral("RS"), group);
    RadioRS->setObjectName(QStringLiteral("RadioRS"));
    RadioRS->setGeometry(10, 22, 60, 24);
    RadioAnalog = new QRadioButton(QStringLiteral("Аналоговый"), group);
    RadioAnalog->setObjectName(QStringLiteral("RadioAnalog"));
    RadioAnalog->setGeometry(80, 22, 130, 24);
    connect(RadioRS, &QRadioButton::clicked, this, [this] { logic_->InterfaceChosen(false); });
    connect(RadioAnalog, &QRadioButton::clicked, this, [this] { logic_->InterfaceChosen(true); });

    // In the place of the first parameter boxes, which are hidden while they are shown.
    for (int k = 1; k <= 3; ++k) {
        auto *box = new QCheckBox(logic_->AnalogBoxes()[size_t(k - 1)].caption, this);
        box->setObjectName(QStringLiteral("CheckBoxAnalog%1").arg(k));
        box->setGeometry(kLeft, kParamsTop + (k - 1) * kRowHeight, kColumnWidth, kRowHeight);
        box->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(box, &QCheckBox::clicked, this, [this, k](bool checked) { logic_->AnalogClicked(k, checked); });
        connect(box, &QWidget::customContextMenuRequested, this, [this, k] { logic_->AnalogRightClicked(k); });
        CheckBoxesAnalog.push_back(box);
    }
}

void TScenarioSettingsKest::ShowExtras()
{
    const bool analog = logic_->IsAnalog();
    {
        const QSignalBlocker a(RadioRS), b(RadioAnalog);
        RadioAnalog->setChecked(analog);
        RadioRS->setChecked(!analog);
    }
    for (QCheckBox *box : CheckBoxesParams)
        box->setVisible(!analog);
    for (size_t i = 0; i < CheckBoxesAnalog.size(); ++i) {
        Sync(CheckBoxesAnalog[i], logic_->AnalogBoxes()[i]);
        CheckBoxesAnalog[i]->setVisible(analog);
    }
}

std::unique_ptr<TSuperScenarioSettings> CreateScenarioSettings(TConfigurationCode configurationCode, QWidget *parent)
{
    switch (ConfigurationRow(configurationCode).scenarioWindow) {
    case TConfigurationCode::QX4:
        return std::make_unique<TScenarioSettingsQX4>(parent);
    case TConfigurationCode::QX4E:
        return std::make_unique<TScenarioSettingsQX4E>(parent);
    case TConfigurationCode::I:
        return std::make_unique<TScenarioSettingsI>(parent);
    case TConfigurationCode::U:
        return std::make_unique<TScenarioSettingsU>(parent);
    default:
        return std::make_unique<TScenarioSettingsPQ>(parent);
    }
}
