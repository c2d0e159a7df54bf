#include "lab/window/instrumenttypedialog.h"

#include "lab/window/dialogbuttons.h"
#include "presentation/controls/messageservice.h"
#include "protocol/numberformat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString ModificationsText(const QStringList &modifications)
{
    return modifications.join(QStringLiteral(", "));
}

QStringList ModificationsFromText(const QString &text)
{
    QStringList out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString item = part.trimmed();
        if (!item.isEmpty())
            out << item;
    }
    return out;
}

// The error as typed: empty text is 0 (the settings' limit); nullopt when it is no number or negative.
std::optional<double> ErrorFromText(const QString &text)
{
    if (text.trimmed().isEmpty())
        return 0.0;
    double value = 0;
    if (!TryStrToFloat(text, value) || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

TInstrumentTypeDialog::TInstrumentTypeDialog(const TInstrumentType &type, QWidget *parent)
    : QDialog(parent), type_(type)
{
    setObjectName(QStringLiteral("TInstrumentTypeDialog"));
    setWindowTitle(type.id.isEmpty() ? QStringLiteral("Новый тип СИ") : QStringLiteral("Тип СИ"));
    auto line = [this](const char *name, const QString &text) {
        auto *edit = new QLineEdit(text, this);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    name_ = line("name", type.name);
    typeNumber_ = line("typeNumber", type.typeNumber);
    typeNumber_->setPlaceholderText(QStringLiteral("74910-19"));
    modifications_ = line("modifications", ModificationsText(type.modifications));
    modifications_->setPlaceholderText(QStringLiteral("через запятую"));
    procedure_ = line("procedure", type.procedure);
    interval_ = new QSpinBox(this);
    interval_->setObjectName(QStringLiteral("interval"));
    interval_->setRange(0, 240);
    interval_->setValue(type.intervalMonths);
    error_ = line("permissibleError", type.permissibleError > 0 ? FloatToQStr(type.permissibleError) : QString());
    error_->setPlaceholderText(QStringLiteral("из настроек"));
    kind_ = new QComboBox(this);
    kind_->setObjectName(QStringLiteral("kind"));
    for (TVerificationKind kind : {TVerificationKind::Primary, TVerificationKind::Periodic})
        kind_->addItem(VerificationKindText(kind), static_cast<int>(kind));
    kind_->setCurrentIndex(kind_->findData(static_cast<int>(type.defaultKind)));
    pointsSet_ = line("pointsSet", type.pointsSet);
    retired_ = new QCheckBox(QStringLiteral("Выведен из обращения"), this);
    retired_->setObjectName(QStringLiteral("retired"));
    retired_->setChecked(type.retired);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Наименование"), name_);
    form->addRow(QStringLiteral("Номер в ГРСИ"), typeNumber_);
    form->addRow(QStringLiteral("Модификации"), modifications_);
    form->addRow(QStringLiteral("Методика поверки (МП)"), procedure_);
    form->addRow(QStringLiteral("Интервал между поверками, мес"), interval_);
    form->addRow(QStringLiteral("Допускаемая основная погрешность, %"), error_);
    form->addRow(QStringLiteral("Вид поверки"), kind_);
    form->addRow(QStringLiteral("Набор точек"), pointsSet_);
    form->addRow(QString(), retired_);

    QHBoxLayout *buttons = OkCancelRow(this, [this] { Confirm(); });
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(520, sizeHint().height());
}

QString TInstrumentTypeDialog::Refusal(
    const QString &name, const QString &typeNumber, int intervalMonths, const QString &errorText)
{
    static const QRegularExpression kTypeNumber(QStringLiteral("^\\d+-\\d+$"));
    if (name.trimmed().isEmpty())
        return QStringLiteral("Укажите наименование типа СИ.");
    if (!kTypeNumber.match(typeNumber.trimmed()).hasMatch())
        return QStringLiteral("Номер в ГРСИ пишется цифрами через дефис, например 74910-19.");
    if (intervalMonths <= 0)
        return QStringLiteral("Интервал между поверками должен быть больше нуля.");
    if (!ErrorFromText(errorText))
        return QStringLiteral("Допускаемая погрешность — неотрицательное число (пусто: из настроек).");
    return {};
}

void TInstrumentTypeDialog::Confirm()
{
    const QString refusal = Refusal(name_->text(), typeNumber_->text(), interval_->value(), error_->text());
    if (!refusal.isEmpty()) {
        TMessageService::Error(this, refusal);
        return;
    }
    TInstrumentType typed = type_;
    typed.name = name_->text().trimmed();
    typed.typeNumber = typeNumber_->text().trimmed();
    typed.modifications = ModificationsFromText(modifications_->text());
    typed.procedure = procedure_->text().trimmed();
    typed.intervalMonths = interval_->value();
    typed.permissibleError = *ErrorFromText(error_->text());
    typed.defaultKind = static_cast<TVerificationKind>(kind_->currentData().toInt());
    typed.pointsSet = pointsSet_->text().trimmed();
    typed.retired = retired_->isChecked();
    if (saver_ && !saver_(typed))
        return;
    type_ = typed;
    accept();
}
