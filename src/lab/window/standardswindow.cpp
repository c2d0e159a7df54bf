#include "lab/window/standardswindow.h"

#include "lab/window/standarddialog.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/windowscolor.h"
#include "protocol/numberformat.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr std::uint32_t kWindowsSalmon = 7504122; // RGB(250, 128, 114): a run made with a doubtful standard

QString DateText(const QDate &date)
{
    return date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

QString KindText(const TStandard &standard)
{
    if (standard.kind == TStandardKind::Installation)
        return QStringLiteral("установка");
    return standard.role.isEmpty() ? QStringLiteral("вспомогательный") : standard.role;
}

// "напряжение 0,05 %, ток 0,1 %": the limits an installation states, in the order of the kinds.
QString LimitsText(const TStandard &standard)
{
    static const char *const kNames[] = {"напряжение", "ток", "мощность", "частота", "угол", "аналоговый ток"};
    QStringList parts;
    for (const auto &[kind, limit] : standard.errorLimits)
        parts << QStringLiteral("%1 %2 %").arg(QString::fromUtf8(kNames[static_cast<int>(kind)]), FloatToQStr(limit));
    return parts.join(QStringLiteral(", "));
}

QTableWidget *Table(const char *name, const QStringList &headers, QWidget *parent)
{
    auto *table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

} // namespace

TStandardsWindow::TStandardsWindow(ILabRegistry *registry, QWidget *parent)
    : QWidget(parent, Qt::Window), registry_(registry), today_(QDate::currentDate())
{
    setObjectName(QStringLiteral("TStandardsWindow"));
    setWindowTitle(QStringLiteral("Эталоны"));
    table_ = Table("standardsTable",
        {QStringLiteral("Наименование"), QStringLiteral("Тип"), QStringLiteral("Заводской №"),
            QStringLiteral("Номер в ФИФ"), QStringLiteral("Свидетельство"), QStringLiteral("Действителен до"),
            QStringLiteral("Вид"), QStringLiteral("Вне допуска с")},
        this);
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
    tolerance_ = button("toleranceButton", QStringLiteral("Вне допуска с…"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(showRetired_);
    buttons->addStretch();
    for (QPushButton *b : {add, edit_, retire_, tolerance_})
        buttons->addWidget(b);

    runsLabel_ = new QLabel(this);
    runsLabel_->setObjectName(QStringLiteral("runsLabel"));
    runs_ = Table("runsTable",
        {QStringLiteral("Дата"), QStringLiteral("№ устройства"), QStringLiteral("Поверитель"),
            QStringLiteral("Результат"), QStringLiteral("После выхода из допуска")},
        this);
    auto *top = new QWidget(this);
    auto *topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(table_);
    topLayout->addLayout(buttons);
    auto *bottom = new QWidget(this);
    auto *bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addWidget(runsLabel_);
    bottomLayout->addWidget(runs_);
    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(top);
    splitter->addWidget(bottom);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(splitter);

    connect(showRetired_, &QCheckBox::toggled, this, &TStandardsWindow::Reload);
    connect(add, &QPushButton::clicked, this, &TStandardsWindow::Add);
    connect(edit_, &QPushButton::clicked, this, &TStandardsWindow::Edit);
    connect(retire_, &QPushButton::clicked, this, &TStandardsWindow::Retire);
    connect(tolerance_, &QPushButton::clicked, this, &TStandardsWindow::AskOutOfTolerance);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &TStandardsWindow::SelectionChanged);
    connect(table_, &QTableWidget::cellDoubleClicked, this, &TStandardsWindow::Edit);
    resize(1100, 600);
    Reload();
}

void TStandardsWindow::SetToday(const QDate &today)
{
    today_ = today;
    Reload();
}

bool TStandardsWindow::RunSuspect(const TStandard &standard, const TJournalRunSummary &run)
{
    return standard.outOfToleranceSince.isValid() && run.started.date() >= standard.outOfToleranceSince;
}

const TStandard *TStandardsWindow::Selected() const
{
    const int row = table_->currentRow();
    if (row < 0 || row >= static_cast<int>(shown_.size()) || table_->selectedItems().isEmpty())
        return nullptr;
    return &shown_[static_cast<size_t>(row)];
}

void TStandardsWindow::Reload()
{
    const QString keep = Selected() ? Selected()->id : QString();
    const auto standards = registry_->Standards(showRetired_->isChecked());
    if (!standards) {
        TMessageService::Error(this, QStringLiteral("Эталоны не прочитаны: ") + registry_->LastError());
        return;
    }
    shown_ = *standards;
    table_->setRowCount(0);
    table_->setRowCount(static_cast<int>(shown_.size()));
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    for (int r = 0; r < table_->rowCount(); ++r) {
        const TStandard &s = shown_[static_cast<size_t>(r)];
        const QString cells[] = {s.retired ? s.name + QStringLiteral(" (выведен)") : s.name, s.type, s.serial,
            s.fundNumber, s.certificate, DateText(s.validUntil), KindText(s), DateText(s.outOfToleranceSince)};
        for (int c = 0; c < 8; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (s.retired)
                item->setForeground(grey);
            table_->setItem(r, c, item);
        }
        // Valid through its last day; from the next one a run with it is not a verification.
        if (!s.validUntil.isValid() || s.validUntil < today_) {
            table_->item(r, 5)->setForeground(ColorFromWindows(kWindowsRed));
            table_->item(r, 5)->setToolTip(QStringLiteral("Срок поверки эталона истёк"));
        }
        if (s.kind == TStandardKind::Installation)
            table_->item(r, 6)->setToolTip(QStringLiteral("Пределы погрешности: ")
                + (s.errorLimits.empty() ? QStringLiteral("не указаны") : LimitsText(s)));
        if (s.outOfToleranceSince.isValid())
            table_->item(r, 7)->setForeground(ColorFromWindows(kWindowsRed));
    }
    table_->resizeColumnsToContents();
    Select(keep);
}

void TStandardsWindow::Select(const QString &id)
{
    table_->clearSelection();
    for (size_t r = 0; r < shown_.size(); ++r)
        if (!id.isEmpty() && shown_[r].id == id)
            table_->selectRow(static_cast<int>(r));
    SelectionChanged();
}

void TStandardsWindow::SelectionChanged()
{
    const TStandard *standard = Selected();
    edit_->setEnabled(standard != nullptr);
    retire_->setEnabled(standard != nullptr && !standard->retired);
    tolerance_->setEnabled(standard != nullptr);
    ShowRuns();
}

void TStandardsWindow::ShowRuns()
{
    runs_->setRowCount(0);
    const TStandard *standard = Selected();
    if (!standard) {
        runsLabel_->setText(QStringLiteral("Поверки с эталоном: выберите эталон"));
        return;
    }
    const auto runs = registry_->RunsUsingStandard(standard->id);
    if (!runs) {
        runsLabel_->setText(QStringLiteral("Поверки с эталоном не прочитаны: ") + registry_->LastError());
        return;
    }
    int suspect = 0;
    runs_->setRowCount(static_cast<int>(runs->size()));
    for (int r = 0; r < runs_->rowCount(); ++r) {
        const TJournalRunSummary &run = (*runs)[static_cast<size_t>(r)];
        const bool flagged = RunSuspect(*standard, run);
        suspect += flagged ? 1 : 0;
        const QString cells[]
            = {run.started.toString(QStringLiteral("dd.MM.yyyy HH:mm")), run.deviceNumber, run.verifier,
                run.verdict.isEmpty() ? run.ResultText() : run.verdict, flagged ? QStringLiteral("да") : QString()};
        for (int c = 0; c < 5; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (flagged) {
                item->setBackground(ColorFromWindows(kWindowsSalmon));
                item->setToolTip(QStringLiteral("Поверка выполнена с эталоном вне допуска (с %1)")
                                     .arg(DateText(standard->outOfToleranceSince)));
            }
            runs_->setItem(r, c, item);
        }
    }
    runs_->resizeColumnsToContents();
    QString caption = QStringLiteral("Поверки с эталоном «%1»: %2").arg(standard->name).arg(runs->size());
    if (suspect > 0)
        caption += QStringLiteral(", после выхода из допуска: %1").arg(suspect);
    runsLabel_->setText(caption);
}

void TStandardsWindow::Add()
{
    TStandard fresh;
    fresh.validUntil = today_.addYears(1).addDays(-1);
    OpenDialog(fresh);
}

void TStandardsWindow::Edit()
{
    if (const TStandard *standard = Selected())
        OpenDialog(*standard);
}

void TStandardsWindow::OpenDialog(const TStandard &standard)
{
    auto *dialog = new TStandardDialog(standard, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->SetSaver([this](TStandard &typed) { return Save(typed); });
    dialog->open();
}

void TStandardsWindow::Retire()
{
    const TStandard *standard = Selected();
    if (!standard || standard->retired)
        return;
    if (!TMessageService::Confirm(this, QStringLiteral("Эталоны"),
            QStringLiteral("Вывести из обращения «%1», заводской № %2? Эталон останется в журнале, но не будет "
                           "предлагаться.")
                .arg(standard->name, standard->serial)))
        return;
    TStandard retired = *standard;
    retired.retired = true;
    Save(retired);
}

void TStandardsWindow::AskOutOfTolerance()
{
    const TStandard *standard = Selected();
    if (!standard)
        return;
    const TStandard chosen = *standard;
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("toleranceDialog"));
    dialog->setWindowTitle(QStringLiteral("Вне допуска с…"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto *since = new QDateEdit(chosen.outOfToleranceSince.isValid() ? chosen.outOfToleranceSince : today_, dialog);
    since->setObjectName(QStringLiteral("sinceDate"));
    since->setCalendarPopup(true);
    since->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    auto *ok = new QPushButton(QStringLiteral("ОК"), dialog);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto *clear = new QPushButton(QStringLiteral("Снять отметку"), dialog);
    clear->setObjectName(QStringLiteral("clearButton"));
    clear->setEnabled(chosen.outOfToleranceSince.isValid());
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton *b : {ok, clear, cancel})
        buttons->addWidget(b);
    auto *layout = new QVBoxLayout(dialog);
    auto *label
        = new QLabel(QStringLiteral("«%1», заводской № %2 вне допуска с:").arg(chosen.name, chosen.serial), dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    layout->addWidget(since);
    layout->addLayout(buttons);
    auto apply = [this, dialog, chosen](const QDate &date) {
        TStandard marked = chosen;
        marked.outOfToleranceSince = date;
        if (Save(marked))
            dialog->accept();
    };
    connect(ok, &QPushButton::clicked, dialog, [apply, since] { apply(since->date()); });
    connect(clear, &QPushButton::clicked, dialog, [apply] { apply(QDate()); });
    connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    dialog->open();
}

bool TStandardsWindow::Save(TStandard &standard)
{
    if (!registry_->SaveStandard(standard)) {
        TMessageService::Error(this, QStringLiteral("Эталон не сохранён: ") + registry_->LastError());
        return false;
    }
    Reload();
    Select(standard.id);
    return true;
}
