#include "journal/journalwindow.h"

#include "presentation/controls/messageservice.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

class TJournalRunsModel : public QAbstractTableModel {
public:
    enum TColumn { cDate, cKind, cConfiguration, cDevice, cVerifier, cPoints, cResult, cCount };

    void SetRuns(std::vector<TJournalRunSummary> runs)
    {
        beginResetModel();
        runs_ = std::move(runs);
        endResetModel();
    }
    const TJournalRunSummary *At(int row) const
    {
        return row >= 0 && row < int(runs_.size()) ? &runs_[size_t(row)] : nullptr;
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(runs_.size());
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : cCount; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QVariant();
        static const char *const names[cCount]
            = {"Дата", "Вид", "Конфигурация", "№ прибора", "Поверитель", "Точек", "Результат"};
        return section >= 0 && section < cCount ? QString::fromUtf8(names[section]) : QVariant();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const TJournalRunSummary *s = At(index.row());
        if (!s)
            return QVariant();
        if (role == Qt::DisplayRole) {
            switch (index.column()) {
            case cDate:
                return s->started.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
            case cKind:
                return s->kind == TJournalRunKind::Tuning ? QStringLiteral("Настройка") : QStringLiteral("Поверка");
            case cConfiguration:
                return s->configuration;
            case cDevice:
                return s->deviceNumber;
            case cVerifier:
                return s->verifier;
            case cPoints:
                return s->kind == TJournalRunKind::Tuning ? QVariant() : QVariant(s->points);
            case cResult:
                return s->ResultText();
            default:
                return QVariant();
            }
        }
        if (role == Qt::BackgroundRole && index.column() == cResult) {
            const bool bad = s->outcome == TJournalOutcome::Failed
                || (s->outcome == TJournalOutcome::Finished && s->failedPoints > 0);
            if (bad)
                return QColor(255, 205, 200);
            if (s->outcome == TJournalOutcome::Finished)
                return QColor(192, 220, 192);
            return QColor(255, 240, 190);
        }
        if (role == Qt::TextAlignmentRole && index.column() == cPoints)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    }

private:
    std::vector<TJournalRunSummary> runs_;
};

TJournalWindow::TJournalWindow(TJournal *journal, QWidget *parent)
    : QWidget(parent), logic_(journal, this), model_(std::make_unique<TJournalRunsModel>())
{
    setWindowTitle(QStringLiteral("Журнал"));
    setObjectName(QStringLiteral("journalWindow"));

    dateFilter_ = new QCheckBox(QStringLiteral("Период с"), this);
    dateFilter_->setObjectName(QStringLiteral("dateFilter"));
    from_ = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    from_->setObjectName(QStringLiteral("fromDate"));
    from_->setCalendarPopup(true);
    from_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    to_ = new QDateEdit(QDate::currentDate(), this);
    to_->setObjectName(QStringLiteral("toDate"));
    to_->setCalendarPopup(true);
    to_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    from_->setEnabled(false);
    to_->setEnabled(false);
    deviceNumber_ = new QLineEdit(this);
    deviceNumber_->setObjectName(QStringLiteral("deviceNumber"));
    deviceNumber_->setPlaceholderText(QStringLiteral("часть номера"));
    auto *find = new QPushButton(QStringLiteral("Найти"), this);
    find->setObjectName(QStringLiteral("findButton"));

    auto *filters = new QHBoxLayout;
    filters->addWidget(dateFilter_);
    filters->addWidget(from_);
    filters->addWidget(new QLabel(QStringLiteral("по"), this));
    filters->addWidget(to_);
    filters->addSpacing(16);
    filters->addWidget(new QLabel(QStringLiteral("№ прибора"), this));
    filters->addWidget(deviceNumber_, 1);
    filters->addWidget(find);

    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("runsTable"));
    table_->setModel(model_.get());
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(22);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(TJournalRunsModel::cDate, 120);
    table_->setColumnWidth(TJournalRunsModel::cKind, 80);
    table_->setColumnWidth(TJournalRunsModel::cConfiguration, 115);
    table_->setColumnWidth(TJournalRunsModel::cDevice, 110);
    table_->setColumnWidth(TJournalRunsModel::cVerifier, 140);
    table_->setColumnWidth(TJournalRunsModel::cPoints, 60);

    details_ = new QPlainTextEdit(this);
    details_->setObjectName(QStringLiteral("details"));
    details_->setReadOnly(true);
    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(table_);
    splitter->addWidget(details_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    open_ = new QPushButton(QStringLiteral("Открыть"), this);
    open_->setObjectName(QStringLiteral("openButton"));
    export_ = new QPushButton(QStringLiteral("Экспорт в CSV"), this);
    export_->setObjectName(QStringLiteral("exportButton"));
    report_ = new QPushButton(QStringLiteral("Отчёт"), this);
    report_->setObjectName(QStringLiteral("reportButton"));
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("stateLabel"));
    state_->setWordWrap(true);
    auto *actions = new QHBoxLayout;
    actions->addWidget(state_, 1);
    actions->addWidget(open_);
    actions->addWidget(export_);
    actions->addWidget(report_);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(splitter, 1);
    layout->addLayout(actions);
    resize(900, 560);

    connect(dateFilter_, &QCheckBox::toggled, this, [this](bool on) {
        from_->setEnabled(on);
        to_->setEnabled(on);
    });
    connect(find, &QPushButton::clicked, this, &TJournalWindow::Find);
    connect(deviceNumber_, &QLineEdit::returnPressed, this, &TJournalWindow::Find);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TJournalWindow::CurrentChanged);
    connect(table_, &QTableView::doubleClicked, this, [this] { logic_.Open(SelectedRun()); });
    connect(open_, &QPushButton::clicked, this, [this] { logic_.Open(SelectedRun()); });
    connect(report_, &QPushButton::clicked, this, [this] { logic_.Report(SelectedRun()); });
    connect(export_, &QPushButton::clicked, this, &TJournalWindow::ExportClicked);

    logic_.Start();
}

TJournalWindow::~TJournalWindow() = default;

TJournalRunId TJournalWindow::SelectedRun() const
{
    const TJournalRunSummary *s = model_->At(table_->currentIndex().row());
    return s ? s->id : TJournalRunId();
}

void TJournalWindow::Find()
{
    logic_.ApplyFilter(dateFilter_->isChecked(), from_->date(), to_->date(), deviceNumber_->text());
}

void TJournalWindow::CurrentChanged()
{
    logic_.Select(SelectedRun());
}

void TJournalWindow::ExportClicked()
{
    const TJournalRunId run = SelectedRun();
    if (run.isEmpty())
        return;
    const QString suggested = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/')
        + logic_.SuggestedFileName(run);
    const QString path = savePath_
        ? savePath_(suggested)
        : QFileDialog::getSaveFileName(this, QStringLiteral("Экспорт в CSV"), suggested, QStringLiteral("CSV (*.csv)"));
    logic_.ExportCsv(run, path);
}

void TJournalWindow::ShowRuns(const std::vector<TJournalRunSummary> &runs)
{
    model_->SetRuns(runs);
}

void TJournalWindow::ShowDetails(const QString &text)
{
    details_->setPlainText(text);
}

void TJournalWindow::ShowJournalState(const QString &text, bool journalling)
{
    state_->setText(text);
    state_->setStyleSheet(journalling ? QString() : QStringLiteral("color: rgb(200, 0, 0);"));
}

void TJournalWindow::SetActionsEnabled(bool open, bool exportCsv, bool report)
{
    open_->setEnabled(open);
    export_->setEnabled(exportCsv);
    report_->setEnabled(report);
}

void TJournalWindow::ShowError(const QString &text)
{
    TMessageService::Error(this, text);
}

void TJournalWindow::ShowMessage(const QString &text)
{
    TMessageService::Information(this, text);
}
