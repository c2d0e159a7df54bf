#include "config/settingsform.h"

#include "transport/cominterface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <exception>

namespace {

const QString kPort1 = QStringLiteral("Port1");
const QString kPort2 = QStringLiteral("Port2");

QComboBox *MakeCombo(QWidget *parent, const char *name, int width)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(true); // a port or rate not in the list can still be typed
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMinimumContentsLength(width);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return combo;
}

QLineEdit *MakeEdit(QWidget *parent, const char *name)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaximumWidth(80);
    return edit;
}

// The dialog's notion of an integer: optional sign and decimal digits, blanks around ignored.
bool ToInteger(const QString &text, int &out)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (!(c.isDigit() && c.unicode() < 128) && !(i == 0 && (c == u'-' || c == u'+')))
            return false;
    }
    bool ok = false;
    out = t.toInt(&ok, 10);
    return ok;
}

} // namespace

TSettingsForm::TSettingsForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(QStringLiteral("Настройки"));

    auto *root = new QVBoxLayout(this);

    // Ports.
    auto *ports = new QGridLayout;
    cbKestPort = MakeCombo(this, "cbKestPort", 22);
    cbKestRate = MakeCombo(this, "cbKestRate", 8);
    cbKestRate->addItem(QStringLiteral("115200"));
    cbDevicePort = MakeCombo(this, "cbDevicePort", 22);
    cbDeviceRate = MakeCombo(this, "cbDeviceRate", 8);
    ports->addWidget(new QLabel(QStringLiteral("Порт установки"), this), 0, 0);
    ports->addWidget(cbKestPort, 0, 1);
    ports->addWidget(new QLabel(QStringLiteral("Скорость"), this), 0, 2);
    ports->addWidget(cbKestRate, 0, 3);
    ports->addWidget(new QLabel(QStringLiteral("Порт прибора (автонастройка)"), this), 1, 0);
    ports->addWidget(cbDevicePort, 1, 1);
    ports->addWidget(cbDeviceRate, 1, 3);
    root->addLayout(ports);

    // Nominal values.
    auto *nominal = new QGroupBox(QStringLiteral("Номинальные значения"), this);
    auto *nominalRow = new QHBoxLayout(nominal);
    auto group = [&](const QString &title) {
        auto *box = new QGroupBox(title, nominal);
        auto *form = new QFormLayout(box);
        nominalRow->addWidget(box);
        return form;
    };
    QFormLayout *current = group(QStringLiteral("Ток"));
    edI0_5 = MakeEdit(this, "edI0_5");
    edI2_5 = MakeEdit(this, "edI2_5");
    edI1 = MakeEdit(this, "edI1");
    edI5 = MakeEdit(this, "edI5");
    current->addRow(QStringLiteral("0,5A"), edI0_5);
    current->addRow(QStringLiteral("2,5A"), edI2_5);
    current->addRow(QStringLiteral("1A"), edI1);
    current->addRow(QStringLiteral("5A"), edI5);
    QFormLayout *u3 = group(QStringLiteral("Напряжение 3х"));
    edU100_3 = MakeEdit(this, "edU100_3");
    edU380_3 = MakeEdit(this, "edU380_3");
    edU400_3 = MakeEdit(this, "edU400_3");
    u3->addRow(QStringLiteral("100V"), edU100_3);
    u3->addRow(QStringLiteral("380V"), edU380_3);
    u3->addRow(QStringLiteral("400V"), edU400_3);
    QFormLayout *u4 = group(QStringLiteral("Напряжение 4х"));
    edU100_4 = MakeEdit(this, "edU100_4");
    edU380_4 = MakeEdit(this, "edU380_4");
    edU400_4 = MakeEdit(this, "edU400_4");
    u4->addRow(QStringLiteral("100V"), edU100_4);
    u4->addRow(QStringLiteral("380V"), edU380_4);
    u4->addRow(QStringLiteral("400V"), edU400_4);
    root->addWidget(nominal);

    // Permissible errors.
    auto *errors = new QGroupBox(QStringLiteral("Допустимая погрешность"), this);
    auto *errorGrid = new QGridLayout(errors);
    edError = MakeEdit(this, "edError");
    edFreqError = MakeEdit(this, "edFreqError");
    edAnalogError = MakeEdit(this, "edAnalogError");
    edAruError = MakeEdit(this, "edAruError");
    const std::pair<const char *, QLineEdit *> errorRows[]
        = {{"Базовая", edError}, {"Частота", edFreqError}, {"Аналог.", edAnalogError}, {"АРУ", edAruError}};
    int row = 0;
    for (const auto &[caption, edit] : errorRows) {
        errorGrid->addWidget(new QLabel(QString::fromUtf8(caption), errors), row, 0);
        errorGrid->addWidget(edit, row, 1);
        errorGrid->addWidget(new QLabel(QStringLiteral("%"), errors), row, 2);
        ++row;
    }
    errorGrid->setColumnStretch(3, 1);
    root->addWidget(errors);

    // Options.
    chkOptionIb = new QCheckBox(QStringLiteral("Использовать Ib в схеме 3 пр."), this);
    chkOptionIb->setObjectName(QStringLiteral("chkOptionIb"));
    chkUseTransfCoefs = new QCheckBox(QStringLiteral("Использовать КТ для значений KEST"), this);
    chkUseTransfCoefs->setObjectName(QStringLiteral("chkUseTransfCoefs"));
    chkAnalogAsMiliAmpers = new QCheckBox(QStringLiteral("Пересчёт аналоговых значений в мА"), this);
    chkAnalogAsMiliAmpers->setObjectName(QStringLiteral("chkAnalogAsMiliAmpers"));
    root->addWidget(chkOptionIb);
    root->addWidget(chkUseTransfCoefs);
    root->addWidget(chkAnalogAsMiliAmpers);

    auto *waiting = new QHBoxLayout;
    seWaitingTime = new QSpinBox(this);
    seWaitingTime->setObjectName(QStringLiteral("seWaitingTime"));
    seWaitingTime->setRange(1, 60);
    seWaitingTime->setValue(1);
    waiting->addWidget(new QLabel(QStringLiteral("Время замера точки (с)"), this));
    waiting->addWidget(seWaitingTime);
    waiting->addStretch();
    root->addLayout(waiting);

    auto *buttons = new QHBoxLayout;
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    root->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &TSettingsForm::ConfirmSettings);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Shown over the window that opened the dialog: the dialog itself is already closed by then.
    errorHandler_
        = [this](const QString &text) { QMessageBox::critical(parentWidget(), QStringLiteral("Ошибка"), text); };
}

TSettingsForm::~TSettingsForm() = default;

const QStringList &TSettingsForm::Port2Rates()
{
    static const QStringList rates = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
    return rates;
}

void TSettingsForm::SetDeviceInterfaceAndConfigController(
    TComInterface *_port1, TComInterface *_port2, TConfigController *ini)
{
    devInterface1 = _port1;
    devInterface2 = _port2;
    config_ = ini;
    appConfig = ini ? std::make_unique<TGlobalConfig>(ini) : nullptr;
    FillPortLists();
    FillValues();
}

void TSettingsForm::FillPortLists()
{
    // A dialog that is kept and initialised again starts from its designed lists, so nothing is
    // listed twice.
    cbKestPort->clear();
    cbDevicePort->clear();
    cbDeviceRate->clear();
    cbKestRate->clear();
    cbKestRate->addItem(QStringLiteral("115200"));
    if (!devInterface1 || !config_)
        return;
    // The stored port is shown only when the system has it; an absent one would be set on the
    // transport as if it were there.
    auto fillPorts = [](TComInterface *transport, QComboBox *combo, const QString &stored) {
        QStringList names;
        if (transport)
            transport->GetAvailablePorts(names);
        combo->addItems(names);
        combo->setEditText(!names.isEmpty() && names.contains(stored) ? stored : QString());
    };
    fillPorts(devInterface1, cbKestPort, config_->ReadPort(kPort1));
    cbKestRate->setEditText(config_->ReadRate(kPort1));
    fillPorts(devInterface2, cbDevicePort, config_->ReadPort(kPort2));
    cbDeviceRate->addItems(Port2Rates());
    cbDeviceRate->setEditText(config_->ReadRate(kPort2));
}

void TSettingsForm::FillValues()
{
    if (!appConfig)
        return;
    edI1->setText(appConfig->ReadI1());
    edI5->setText(appConfig->ReadI5());
    edI0_5->setText(appConfig->ReadI0_5());
    edI2_5->setText(appConfig->ReadI2_5());
    edU100_3->setText(appConfig->ReadU100_3());
    edU100_4->setText(appConfig->ReadU100_4());
    edU380_3->setText(appConfig->ReadU380_3());
    edU380_4->setText(appConfig->ReadU380_4());
    edU400_3->setText(appConfig->ReadU400_3());
    edU400_4->setText(appConfig->ReadU400_4());
    edError->setText(appConfig->ReadError());
    edFreqError->setText(appConfig->ReadFreqError());
    edAnalogError->setText(appConfig->ReadAnalogError());
    edAruError->setText(appConfig->ReadAruError());
    chkOptionIb->setChecked(appConfig->ReadOptionIb());
    chkUseTransfCoefs->setChecked(appConfig->ReadUseTransfCoefsForKestParams());
    chkAnalogAsMiliAmpers->setChecked(appConfig->ReadAnalogValuesAsMiliAmpers());
    int seconds = 0;
    if (!ToInteger(appConfig->ReadWaitingTime(), seconds)) {
        appConfig->WriteWaitingTime(QStringLiteral("9"));
        seconds = 9;
    }
    seWaitingTime->setValue(seconds);
}

void TSettingsForm::ReportError(const QString &text)
{
    if (errorHandler_)
        errorHandler_(text);
}

void TSettingsForm::ConfirmSettings()
{
    QString firstError;
    // Each step on its own: a port that cannot be closed or set must not cost the user the values
    // typed into the dialog, and the dialog closes whatever happened.
    auto step = [&](const std::function<void()> &action) {
        try {
            action();
        } catch (const std::exception &e) {
            if (firstError.isEmpty())
                firstError = QString::fromUtf8(e.what());
        } catch (...) {
            if (firstError.isEmpty())
                firstError = QString::fromUtf8(KestText::NoAnswer);
        }
    };

    step([&] {
        if (devInterface1)
            devInterface1->ClosePort();
    });
    step([&] {
        if (devInterface2)
            devInterface2->ClosePort();
    });

    if (config_ && appConfig) {
        // One atomic write for all of them: the dialog's values reach the file together or not at all.
        TIniBatch batch(config_->ini);
        config_->WritePort(kPort1, cbKestPort->currentText());
        config_->WriteRate(kPort1, cbKestRate->currentText());
        config_->WritePort(kPort2, cbDevicePort->currentText());
        config_->WriteRate(kPort2, cbDeviceRate->currentText());
        appConfig->WriteI1(edI1->text());
        appConfig->WriteI5(edI5->text());
        appConfig->WriteI0_5(edI0_5->text());
        appConfig->WriteI2_5(edI2_5->text());
        appConfig->WriteU100_3(edU100_3->text());
        appConfig->WriteU100_4(edU100_4->text());
        appConfig->WriteU380_3(edU380_3->text());
        appConfig->WriteU380_4(edU380_4->text());
        appConfig->WriteU400_3(edU400_3->text());
        appConfig->WriteU400_4(edU400_4->text());
        appConfig->WriteError(edError->text());
        appConfig->WriteFreqError(edFreqError->text());
        appConfig->WriteAnalogError(edAnalogError->text());
        appConfig->WriteAruError(edAruError->text());
        appConfig->WriteOptionIb(chkOptionIb->isChecked());
        appConfig->WriteUseTransfCoefsForKestParams(chkUseTransfCoefs->isChecked());
        appConfig->WriteAnalogValuesAsMiliAmpers(chkAnalogAsMiliAmpers->isChecked());
        appConfig->WriteWaitingTime(QString::number(seWaitingTime->value()));
    }

    step([&] {
        if (devInterface1) {
            devInterface1->SetPort(cbKestPort->currentText().toStdString());
            devInterface1->SetRate(cbKestRate->currentText().toStdString());
        }
    });
    step([&] {
        if (devInterface2) {
            devInterface2->SetPort(cbDevicePort->currentText().toStdString());
            devInterface2->SetRate(cbDeviceRate->currentText().toStdString());
        }
    });

    accept();
    if (!firstError.isEmpty())
        ReportError(firstError);
}
