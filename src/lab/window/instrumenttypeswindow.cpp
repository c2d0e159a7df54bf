#include "lab/window/instrumenttypeswindow.h"

#include "lab/window/instrumenttypedialog.h"
#include "presentation/controls/messageservice.h"
#include "protocol/numberformat.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPalette>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TInstrumentTypesWindow::TInstrumentTypesWindow(ILabRegistry *registry, QWidget *parent)
    : QWidget(parent, Qt::Window), registry_(registry)
{
    setObjectName(QStringLiteral("TInstrumentTypesWindow"));
    setWindowTitle(QStringLiteral("Типы СИ"));
    table_ = new QTableWidget(0, 6, this);
    table_->setObjectName(QStringLiteral("typesTable"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Наименование"), QStringLiteral("Номер в ГРСИ"), QStringLiteral("МП"),
            QStringLiteral("Интервал, мес"), QStringLiteral("Погрешность, %"), QStringLiteral("Вид поверки")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    showRetired_ = new QCheckBox(QStringLiteral("Показать выведенные"), this);
    showRetired_->setObjectName(QStringLiteral("showRetired"));
    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    QPushButton *add = button("addButton", QStringLiteral("Добавить…"));
    edit_ = button("editButton", QStringLiteral("Изменить…"));
    retire_ = button("retireButton", QStringLiteral("Вывести из обращения"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(showRetired_);
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(edit_);
    buttons->addWidget(retire_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);

    connect(showRetired_, &QCheckBox::toggled, this, &TInstrumentTypesWindow::Reload);
    connect(add, &QPushButton::clicked, this, &TInstrumentTypesWindow::Add);
    connect(edit_, &QPushButton::clicked, this, &TInstrumentTypesWindow::Edit);
    connect(retire_, &QPushButton::clicked, this, &TInstrumentTypesWindow::Retire);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &TInstrumentTypesWindow::UpdateButtons);
    connect(table_, &QTableWidget::cellDoubleClicked, this, &TInstrumentTypesWindow::Edit);
    resize(900, 420);
    Reload();
}

const TInstrumentType *TInstrumentTypesWindow::Selected() const
{
    const int row = table_->currentRow();
    if (row < 0 || row >= static_cast<int>(shown_.size()) || table_->selectedItems().isEmpty())
        return nullptr;
    return &shown_[static_cast<size_t>(row)];
}

void TInstrumentTypesWindow::Reload()
{
    const QString keep = Selected() ? Selected()->id : QString();
    const auto types = registry_->Types(showRetired_->isChecked());
    if (!types) {
        TMessageService::Error(this, QStringLiteral("Типы СИ не прочитаны: ") + registry_->LastError());
        return;
    }
    shown_ = *types;
    table_->setRowCount(0);
    table_->setRowCount(static_cast<int>(shown_.size()));
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    for (int r = 0; r < table_->rowCount(); ++r) {
        const TInstrumentType &t = shown_[static_cast<size_t>(r)];
        const QString cells[] = {t.retired ? t.name + QStringLiteral(" (выведен)") : t.name, t.typeNumber, t.procedure,
            QString::number(t.intervalMonths),
            t.permissibleError > 0 ? FloatToQStr(t.permissibleError) : QStringLiteral("из настроек"),
            VerificationKindText(t.defaultKind)};
        for (int c = 0; c < 6; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (t.retired)
                item->setForeground(grey);
            table_->setItem(r, c, item);
        }
    }
    table_->resizeColumnsToContents();
    Select(keep);
}

void TInstrumentTypesWindow::Select(const QString &id)
{
    table_->clearSelection();
    for (size_t r = 0; r < shown_.size(); ++r)
        if (!id.isEmpty() && shown_[r].id == id)
            table_->selectRow(static_cast<int>(r));
    UpdateButtons();
}

void TInstrumentTypesWindow::UpdateButtons()
{
    const TInstrumentType *type = Selected();
    edit_->setEnabled(type != nullptr);
    retire_->setEnabled(type != nullptr && !type->retired);
}

void TInstrumentTypesWindow::Add()
{
    TInstrumentType fresh;
    fresh.intervalMonths = 12;
    OpenDialog(fresh);
}

void TInstrumentTypesWindow::Edit()
{
    if (const TInstrumentType *type = Selected())
        OpenDialog(*type);
}

void TInstrumentTypesWindow::OpenDialog(const TInstrumentType &type)
{
    // Window-modal and not blocking: the register stays readable behind it.
    auto *dialog = new TInstrumentTypeDialog(type, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->SetSaver([this](TInstrumentType &typed) { return Save(typed); });
    dialog->open();
}

void TInstrumentTypesWindow::Retire()
{
    const TInstrumentType *type = Selected();
    if (!type || type->retired)
        return;
    if (!TMessageService::Confirm(this, QStringLiteral("Типы СИ"),
            QStringLiteral("Вывести из обращения «%1»? Тип останется в журнале, но не будет предлагаться.")
                .arg(type->name)))
        return;
    TInstrumentType retired = *type;
    retired.retired = true;
    Save(retired);
}

bool TInstrumentTypesWindow::Save(TInstrumentType &type)
{
    if (!registry_->SaveType(type)) {
        TMessageService::Error(this, QStringLiteral("Тип СИ не сохранён: ") + registry_->LastError());
        return false;
    }
    Reload();
    Select(type.id);
    return true;
}
