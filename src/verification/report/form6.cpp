#include "verification/report/form6.h"

#include "journal/labregistry.h"
#include "lab/labconfig.h"
#include "presentation/controls/messageservice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct TFieldRow {
    const char *name;
    const char *label;
};

// The numbered fields of the protocol, in the order of the form.
const TFieldRow kNumberedFields[] = {
    {"FactoryNum", "2. Заводской номер СИ и год выпуска"},
    {"Conditions", "3. Условия проведения поверки"},
    {"EquipmentName", "4. Наименование, тип и номер применяемого измерительного оборудования"},
    {"PoverkaDoc", "5. Наименование и обозначение документа, по которому проводилась поверка"},
    {"Inspection", "6.1 Внешний осмотр"},
    {"ElectricityStrength", "6.2 Электрическая прочность изоляции"},
    {"Pulsation", "6.3 Определение пульсации выходного аналогового значения"},
    {"Conclusion", "7. Заключение по результатам поверки"},
};

// Who verifies and what is verified, as a laboratory's protocol names them; above the numbered fields.
const TFieldRow kLabFields[] = {
    {"LabName", "Поверяющая организация"},
    {"LabAccreditation", "Номер аттестата аккредитации"},
    {"DeviceType", "Тип СИ"},
    {"RegistryNum", "Регистрационный номер типа СИ (ГРСИ)"},
    {"DeviceOwner", "Владелец СИ"},
    {"PoverkaMethod", "Методика поверки (МП)"},
};

} // namespace

TForm6::TForm6(TConfigController *settings, QWidget *parent, ILabRegistry *registry)
    : QWidget(parent, Qt::Window), logic_(settings, this), settings_(settings)
{
    setObjectName(QStringLiteral("TForm6"));
    setWindowTitle(QStringLiteral("Отчёт"));
    setAttribute(Qt::WA_DeleteOnClose);
    chooser_ = [](QWidget *owner, const QString &folder) {
        return QFileDialog::getOpenFileName(owner, QStringLiteral("Шаблон"), folder, QStringLiteral("Все файлы (*)"));
    };

    auto makeField = [this](const char *name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        fields_[name] = edit;
        return edit;
    };
    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    layout->addLayout(grid);
    int row = 0;
    grid->addWidget(new QLabel(QStringLiteral("Протокол №"), this), row, 0);
    grid->addWidget(makeField("ProtocolNum"), row++, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Поверки устройства"), this), row, 0);
    grid->addWidget(makeField("DeviceName"), row, 1);
    grid->addWidget(new QLabel(QStringLiteral("№"), this), row, 2);
    grid->addWidget(makeField("DeviceNum"), row++, 3);

    auto *echo = new QHBoxLayout;
    echo->addWidget(new QLabel(QStringLiteral("Устройство"), this));
    nameEcho_ = new QLabel(QString::fromLatin1(TReportHeaderLogic::kNameDashes), this);
    nameEcho_->setObjectName(QStringLiteral("DeviceNameEcho"));
    echo->addWidget(nameEcho_);
    echo->addWidget(new QLabel(QStringLiteral("№"), this));
    numberEcho_ = new QLabel(QString::fromLatin1(TReportHeaderLogic::kNumberDashes), this);
    numberEcho_->setObjectName(QStringLiteral("DeviceNumEcho"));
    echo->addWidget(numberEcho_);
    echo->addStretch();
    grid->addLayout(echo, row++, 0, 1, 4);
    connect(Field("DeviceName"), &QLineEdit::textChanged, this, [this](const QString &text) {
        nameEcho_->setText(TReportHeaderLogic::Echo(text, QString::fromLatin1(TReportHeaderLogic::kNameDashes)));
    });
    connect(Field("DeviceNum"), &QLineEdit::textChanged, this, [this](const QString &text) {
        numberEcho_->setText(TReportHeaderLogic::Echo(text, QString::fromLatin1(TReportHeaderLogic::kNumberDashes)));
    });

    if (registry) {
        if (const auto types = registry->Types(false))
            types_ = *types;
        grid->addWidget(new QLabel(QStringLiteral("Тип СИ из реестра"), this), row, 0);
        type_ = new QComboBox(this);
        type_->setObjectName(QStringLiteral("InstrumentType"));
        type_->addItem(QStringLiteral("—"));
        for (const TInstrumentType &t : types_)
            type_->addItem(QStringLiteral("%1 (%2)").arg(t.name, t.typeNumber), t.id);
        grid->addWidget(type_, row++, 1, 1, 3);
        connect(type_, &QComboBox::activated, this, &TForm6::TypeChosen);

        usedAsStandard_ = new QCheckBox(QStringLiteral("СИ применяется в качестве эталона"), this);
        usedAsStandard_->setObjectName(QStringLiteral("UsedAsStandard"));
        grid->addWidget(usedAsStandard_, row++, 1, 1, 3);
        grid->addWidget(new QLabel(QStringLiteral("Рег. номер эталона"), this), row, 0);
        standardRegNumber_ = new QLineEdit(this);
        standardRegNumber_->setObjectName(QStringLiteral("StandardRegNumber"));
        grid->addWidget(standardRegNumber_, row++, 1, 1, 3);
        connect(usedAsStandard_, &QCheckBox::toggled, this, &TForm6::ShowStandardUse);
        ShowStandardUse(false);
    }
    for (const TFieldRow &field : kLabFields) {
        auto *label = new QLabel(QString::fromUtf8(field.label), this);
        label->setWordWrap(true);
        grid->addWidget(label, row, 0);
        grid->addWidget(makeField(field.name), row++, 1, 1, 3);
    }

    grid->addWidget(new QLabel(QStringLiteral("1. Дата поверки"), this), row, 0);
    date_ = new QDateEdit(this);
    date_->setObjectName(QStringLiteral("Date"));
    date_->setCalendarPopup(true);
    date_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    grid->addWidget(date_, row++, 1);
    for (const TFieldRow &field : kNumberedFields) {
        auto *label = new QLabel(QString::fromUtf8(field.label), this);
        label->setWordWrap(true);
        grid->addWidget(label, row, 0);
        grid->addWidget(makeField(field.name), row++, 1, 1, 3);
    }
    grid->addWidget(new QLabel(QStringLiteral("Поверитель"), this), row, 0);
    grid->addWidget(makeField("Verifier"), row++, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Проверил"), this), row, 0);
    grid->addWidget(makeField("Checker"), row++, 1, 1, 3);

    auto templateRow = [&](const char *name, const QString &caption) {
        auto *path = new QLineEdit(this);
        path->setObjectName(QString::fromLatin1(name));
        path->setReadOnly(true);
        auto *button = new QPushButton(caption, this);
        connect(button, &QPushButton::clicked, this, [this, path] { ChooseTemplate(path); });
        grid->addWidget(path, row, 0, 1, 3);
        grid->addWidget(button, row++, 3);
        return path;
    };
    wordTemplate_ = templateRow("WordTemplatePath", QStringLiteral("Шаблон Word"));
    excelTemplate_ = templateRow("ExcelTemplatePath", QStringLiteral("Шаблон Excel"));
    grid->setColumnStretch(1, 1);

    auto *ok = new QPushButton(QStringLiteral("ОК"), this);
    connect(ok, &QPushButton::clicked, this, &TForm6::Confirm);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    layout->addLayout(buttons);
    resize(720, sizeHint().height());

    logic_.Load();
    SelectRememberedType();
    if (type_)
        connect(Field("DeviceNum"), &QLineEdit::textEdited, this, &TForm6::SelectRememberedType);
}

// Choosing a type fills what the protocol says of it; the fields stay editable.
void TForm6::TypeChosen(int index)
{
    if (index <= 0 || index > int(types_.size()))
        return;
    const TInstrumentType &t = types_[size_t(index - 1)];
    Field("DeviceType")->setText(t.name);
    Field("RegistryNum")->setText(t.typeNumber);
    Field("PoverkaMethod")->setText(t.procedure);
}

void TForm6::SelectRememberedType()
{
    if (!type_)
        return;
    const TLabConfig lab(settings_);
    const QString number = Field("DeviceNum")->text();
    const int at = type_->findData(lab.ReadTypeForDevice(number));
    type_->setCurrentIndex(at < 0 ? 0 : at);
    const TStandardUse use = lab.ReadStandardUseForDevice(number);
    usedAsStandard_->setChecked(use.used);
    standardRegNumber_->setText(use.regNumber);
    ShowStandardUse(use.used);
}

void TForm6::ShowStandardUse(bool used)
{
    standardRegNumber_->setEnabled(used);
}

TForm6::~TForm6() = default;

QLineEdit *TForm6::Field(const char *name) const
{
    return fields_.at(name);
}

void TForm6::ShowFields(
    const TReportData &data, const QDate &date, const QString &wordTemplate, const QString &excelTemplate)
{
    const std::pair<const char *, const QString *> values[] = {
        {"ProtocolNum", &data.ProtocolNum},
        {"DeviceName", &data.DeviceName},
        {"DeviceNum", &data.DeviceNum},
        {"FactoryNum", &data.FactoryNum},
        {"Conditions", &data.Conditions},
        {"EquipmentName", &data.EquipmentName},
        {"PoverkaDoc", &data.PoverkaDoc},
        {"Inspection", &data.Inspection},
        {"ElectricityStrength", &data.ElectricityStrength},
        {"Pulsation", &data.Pulsation},
        {"Conclusion", &data.Conclusion},
        {"Verifier", &data.Verifier},
        {"LabName", &data.LabName},
        {"LabAccreditation", &data.LabAccreditation},
        {"DeviceOwner", &data.DeviceOwner},
        {"DeviceType", &data.DeviceType},
        {"RegistryNum", &data.RegistryNum},
        {"PoverkaMethod", &data.PoverkaMethod},
        {"Checker", &data.Checker},
    };
    for (const auto &[name, value] : values)
        Field(name)->setText(*value);
    date_->setDate(date);
    wordTemplate_->setText(wordTemplate);
    excelTemplate_->setText(excelTemplate);
}

void TForm6::ShowError(const QString &text)
{
    TMessageService::Error(this, text);
}

void TForm6::CloseWindow()
{
    close();
}

void TForm6::ChooseTemplate(QLineEdit *field)
{
    const QString chosen = chooser_(this, logic_.TemplateFolder(field->text()));
    if (!chosen.isEmpty())
        field->setText(chosen);
}

void TForm6::Confirm()
{
    TReportData fields;
    fields.ProtocolNum = Field("ProtocolNum")->text();
    fields.DeviceName = Field("DeviceName")->text();
    fields.DeviceNum = Field("DeviceNum")->text();
    fields.FactoryNum = Field("FactoryNum")->text();
    fields.Conditions = Field("Conditions")->text();
    fields.EquipmentName = Field("EquipmentName")->text();
    fields.PoverkaDoc = Field("PoverkaDoc")->text();
    fields.Inspection = Field("Inspection")->text();
    fields.ElectricityStrength = Field("ElectricityStrength")->text();
    fields.Pulsation = Field("Pulsation")->text();
    fields.Conclusion = Field("Conclusion")->text();
    fields.Verifier = Field("Verifier")->text();
    fields.LabName = Field("LabName")->text();
    fields.LabAccreditation = Field("LabAccreditation")->text();
    fields.DeviceOwner = Field("DeviceOwner")->text();
    fields.DeviceType = Field("DeviceType")->text();
    fields.RegistryNum = Field("RegistryNum")->text();
    fields.PoverkaMethod = Field("PoverkaMethod")->text();
    fields.Checker = Field("Checker")->text();
    if (type_) {
        TLabConfig lab(settings_);
        lab.WriteTypeForDevice(fields.DeviceNum, type_->currentData().toString());
        lab.WriteStandardUseForDevice(
            fields.DeviceNum, {usedAsStandard_->isChecked(), standardRegNumber_->text().trimmed()});
    }
    logic_.Confirm(fields, date_->date(), wordTemplate_->text(), excelTemplate_->text());
}
