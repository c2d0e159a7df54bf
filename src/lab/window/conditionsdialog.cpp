#include "lab/window/conditionsdialog.h"

#include "lab/window/dialogbuttons.h"
#include "presentation/controls/messageservice.h"
#include "protocol/numberformat.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString ValueText(const std::optional<double> &value)
{
    return value ? FloatToQStr(*value) : QString();
}

} // namespace

TConditionsDialog::TConditionsDialog(const TRunConditions &last, TChecker checker, QWidget *parent)
    : QDialog(parent), conditions_(last), checker_(std::move(checker))
{
    setObjectName(QStringLiteral("TConditionsDialog"));
    setWindowTitle(QStringLiteral("Условия поверки"));
    auto line = [this](const char *name, const std::optional<double> &value) {
        auto *edit = new QLineEdit(ValueText(value), this);
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    temperature_ = line("temperature", last.temperature);
    humidity_ = line("humidity", last.humidity);
    pressure_ = line("pressure", last.pressure);
    supplyVoltage_ = line("supplyVoltage", last.supplyVoltage);
    supplyFrequency_ = line("supplyFrequency", last.supplyFrequency);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Температура, °C"), temperature_);
    form->addRow(QStringLiteral("Относительная влажность, %"), humidity_);
    form->addRow(QStringLiteral("Атмосферное давление, кПа"), pressure_);
    form->addRow(QStringLiteral("Напряжение питания, В"), supplyVoltage_);
    form->addRow(QStringLiteral("Частота питания, Гц"), supplyFrequency_);

    QHBoxLayout *buttons = OkCancelRow(this, [this] { Confirm(); });
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
}

void TConditionsDialog::Confirm()
{
    struct TField {
        QLineEdit *edit;
        std::optional<double> TRunConditions::*value;
        const char *what;
        bool required;
    };
    const TField fields[] = {
        {temperature_, &TRunConditions::temperature, "температуру", true},
        {humidity_, &TRunConditions::humidity, "влажность", true},
        {pressure_, &TRunConditions::pressure, "давление", true},
        {supplyVoltage_, &TRunConditions::supplyVoltage, "напряжение питания", false},
        {supplyFrequency_, &TRunConditions::supplyFrequency, "частоту питания", false},
    };
    TRunConditions typed;
    QStringList missing;
    QStringList wrong;
    for (const TField &field : fields) {
        const QString text = field.edit->text().trimmed();
        double value = 0;
        if (text.isEmpty()) {
            if (field.required)
                missing << QString::fromUtf8(field.what);
        } else if (TryStrToFloat(text, value)) {
            typed.*field.value = value;
        } else {
            wrong << QStringLiteral("«%1»").arg(text);
        }
    }
    if (!missing.isEmpty()) {
        TMessageService::Error(this, QStringLiteral("Укажите ") + missing.join(QStringLiteral(", ")) + '.');
        return;
    }
    if (!wrong.isEmpty()) {
        TMessageService::Error(this, QStringLiteral("Не число: ") + wrong.join(QStringLiteral(", ")) + '.');
        return;
    }
    const QStringList outside = checker_ ? checker_(typed) : QStringList();
    if (!outside.isEmpty()
        && !TMessageService::Confirm(this, QStringLiteral("Условия поверки"),
            QStringLiteral("Условия вне нормальных: ") + outside.join(QStringLiteral("; "))
                + QStringLiteral(". Продолжить?")))
        return;
    conditions_ = typed;
    accept();
}
