#include "lab/window/standarddialog.h"

#include "lab/window/dialogbuttons.h"
#include "presentation/controls/floatspinedit.h"
#include "presentation/controls/messageservice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

struct TLimitRow {
    TQuantityKind kind;
    const char *caption;
};

const TLimitRow kLimitRows[] = {
    {TQuantityKind::Voltage, "Напряжение"},
    {TQuantityKind::Current, "Ток"},
    {TQuantityKind::Power, "Мощность"},
    {TQuantityKind::Frequency, "Частота"},
    {TQuantityKind::Angle, "Угол"},
    {TQuantityKind::AnalogCurrent, "Аналоговый ток"},
};

QDateEdit *DateEdit(const char *name, const QDate &date, QWidget *parent)
{
    auto *edit = new QDateEdit(date.isValid() ? date : QDate::currentDate(), parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    return edit;
}

} // namespace

TStandardDialog::TStandardDialog(const TStandard &standard, QWidget *parent) : QDialog(parent), standard_(standard)
{
    setObjectName(QStringLiteral("TStandardDialog"));
    setWindowTitle(standard.id.isEmpty() ? QStringLiteral("Новый эталон") : QStringLiteral("Эталон"));
    auto line = [this](const char *name, const QString &text) {
        auto *edit = new QLineEdit(text, this);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    name_ = line("name", standard.name);
    type_ = line("type", standard.type);
    typeNumber_ = line("typeNumber", standard.typeNumber);
    typeNumber_->setPlaceholderText(QStringLiteral("74910-19"));
    serial_ = line("serial", standard.serial);
    fundNumber_ = line("fundNumber", standard.fundNumber);
    certificate_ = line("certificate", standard.certificate);
    validUntil_ = DateEdit("validUntil", standard.validUntil, this);
    kind_ = new QComboBox(this);
    kind_->setObjectName(QStringLiteral("kind"));
    kind_->addItem(QStringLiteral("установка"), static_cast<int>(TStandardKind::Installation));
    kind_->addItem(QStringLiteral("вспомогательный"), static_cast<int>(TStandardKind::Auxiliary));
    kind_->setCurrentIndex(kind_->findData(static_cast<int>(standard.kind)));
    role_ = line("role", standard.role);
    role_->setPlaceholderText(QStringLiteral("термогигрометр, барометр…"));

    limits_ = new QGroupBox(QStringLiteral("Пределы погрешности установки, % (0: не указан)"), this);
    limits_->setObjectName(QStringLiteral("limits"));
    auto *limitsForm = new QFormLayout(limits_);
    for (const TLimitRow &row : kLimitRows) {
        auto *edit = new TFloatSpinEdit(limits_);
        edit->setObjectName(QStringLiteral("limit_") + QuantityKindKey(row.kind));
        edit->SetMinValue(0);
        edit->SetMaxValue(100);
        edit->SetIncrement(0.01);
        edit->SetPrecision(-4);
        const auto found = standard.errorLimits.find(row.kind);
        edit->SetValue(found != standard.errorLimits.end() ? found->second : 0.0);
        limitsForm->addRow(QString::fromUtf8(row.caption), edit);
        limitEdits_[row.kind] = edit;
    }

    outOfTolerance_ = new QCheckBox(QStringLiteral("Вне допуска с"), this);
    outOfTolerance_->setObjectName(QStringLiteral("outOfTolerance"));
    outOfTolerance_->setChecked(standard.outOfToleranceSince.isValid());
    outOfToleranceSince_ = DateEdit("outOfToleranceSince", standard.outOfToleranceSince, this);
    outOfToleranceSince_->setEnabled(outOfTolerance_->isChecked());
    connect(outOfTolerance_, &QCheckBox::toggled, outOfToleranceSince_, &QWidget::setEnabled);
    retired_ = new QCheckBox(QStringLiteral("Выведен из обращения"), this);
    retired_->setObjectName(QStringLiteral("retired"));
    retired_->setChecked(standard.retired);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Наименование"), name_);
    form->addRow(QStringLiteral("Тип"), type_);
    form->addRow(QStringLiteral("Номер типа в ГРСИ"), typeNumber_);
    form->addRow(QStringLiteral("Заводской номер"), serial_);
    form->addRow(QStringLiteral("Номер в ФИФ"), fundNumber_);
    form->addRow(QStringLiteral("Свидетельство (запись) о поверке"), certificate_);
    form->addRow(QStringLiteral("Действителен до"), validUntil_);
    form->addRow(QStringLiteral("Вид"), kind_);
    form->addRow(QStringLiteral("Назначение"), role_);
    auto *tolerance = new QHBoxLayout;
    tolerance->addWidget(outOfTolerance_);
    tolerance->addWidget(outOfToleranceSince_);
    tolerance->addStretch();

    QHBoxLayout *buttons = OkCancelRow(this, [this] { Confirm(); });
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(limits_);
    layout->addLayout(tolerance);
    layout->addWidget(retired_);
    layout->addLayout(buttons);

    connect(kind_, &QComboBox::currentIndexChanged, this, &TStandardDialog::KindChanged);
    KindChanged();
    resize(560, sizeHint().height());
}

void TStandardDialog::KindChanged()
{
    const bool installation = kind_->currentData().toInt() == static_cast<int>(TStandardKind::Installation);
    limits_->setVisible(installation);
    role_->setEnabled(!installation);
    adjustSize();
}

void TStandardDialog::Confirm()
{
    static const QRegularExpression kTypeNumber(QStringLiteral("^\\d+-\\d+$"));
    QStringList missing;
    const std::pair<QLineEdit *, const char *> required[] = {
        {name_, "наименование"},
        {serial_, "заводской номер"},
        {fundNumber_, "номер в ФИФ"},
        {certificate_, "свидетельство о поверке"},
    };
    for (const auto &[edit, what] : required)
        if (edit->text().trimmed().isEmpty())
            missing << QString::fromUtf8(what);
    if (!missing.isEmpty()) {
        TMessageService::Error(this, QStringLiteral("Укажите: ") + missing.join(QStringLiteral(", ")) + '.');
        return;
    }
    const QString typeNumber = typeNumber_->text().trimmed();
    if (!typeNumber.isEmpty() && !kTypeNumber.match(typeNumber).hasMatch()) {
        TMessageService::Error(this, QStringLiteral("Номер в ГРСИ пишется цифрами через дефис, например 74910-19."));
        return;
    }
    TStandard typed = standard_;
    typed.name = name_->text().trimmed();
    typed.type = type_->text().trimmed();
    typed.typeNumber = typeNumber;
    typed.serial = serial_->text().trimmed();
    typed.fundNumber = fundNumber_->text().trimmed();
    typed.certificate = certificate_->text().trimmed();
    typed.validUntil = validUntil_->date();
    typed.kind = static_cast<TStandardKind>(kind_->currentData().toInt());
    typed.errorLimits.clear();
    if (typed.kind == TStandardKind::Installation) {
        typed.role.clear();
        for (const auto &[kind, edit] : limitEdits_) {
            edit->ParseText(); // a value typed and not yet left counts as well
            if (edit->Value() > 0)
                typed.errorLimits[kind] = edit->Value();
        }
    } else {
        typed.role = role_->text().trimmed();
    }
    typed.outOfToleranceSince = outOfTolerance_->isChecked() ? outOfToleranceSince_->date() : QDate();
    typed.retired = retired_->isChecked();
    if (saver_ && !saver_(typed))
        return;
    standard_ = typed;
    accept();
}
