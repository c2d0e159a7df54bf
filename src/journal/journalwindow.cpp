#include "journal/journalwindow.h"

#include "presentation/controls/messageservice.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include <set>

class TJournalRunsModel : public QAbstractTableModel {
public:
    enum TColumn {
        cDate,
        cKind,
        cConfiguration,
        cDevice,
        cVerifier,
        cPoints,
        cResult,
        cVerdict,
        cMarks,
        cFund,
        cCount
    };

    std::function<std::pair<QString, bool>(const TJournalRunSummary &)> deadline;
    const std::vector<TJournalRunSummary> &Runs() const { return runs_; }

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
        static const char *const names[cCount] = {"Дата", "Вид", "Конфигурация", "№ прибора", "Поверитель", "Точек",
            "Результат", "Заключение", "Отметки", "ФГИС «Аршин»"};
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
                return Buffered(*s) ? QStringLiteral("конец в буфере стенда") : s->ResultText();
            case cVerdict:
                return s->verdict;
            case cMarks:
                return Marks(*s).join(QStringLiteral("; "));
            case cFund:
                return Fund(*s).first;
            default:
                return QVariant();
            }
        }
        const bool changed = s->integrity == TRecordIntegrity::Changed;
        if (role == Qt::ForegroundRole && changed)
            return QColor(200, 0, 0);
        if (role == Qt::ToolTipRole && index.column() == cMarks) {
            QStringList tips;
            if (changed)
                tips << QStringLiteral("Запись поверки изменена вне программы: она не совпадает с контрольной суммой, "
                                       "записанной при её сохранении");
            if (s->suspectStandard)
                tips << QStringLiteral("При поверке применялся эталон, признанный вне допуска на её день или раньше");
            if (s->amendments > 0)
                tips << QStringLiteral("Изменений после поверки: %1").arg(s->amendments);
            return tips.isEmpty() ? QVariant() : QVariant(tips.join(QLatin1Char('\n')));
        }
        if (role == Qt::BackgroundRole && index.column() == cMarks) {
            if (changed)
                return QColor(255, 205, 200);
            if (s->suspectStandard)
                return QColor(255, 225, 170);
            return QVariant();
        }
        if (role == Qt::BackgroundRole && index.column() == cFund && Fund(*s).second)
            return QColor(255, 205, 200);
        if (role == Qt::BackgroundRole && index.column() == cVerdict && !s->verdict.isEmpty())
            return s->verdict == QStringLiteral("пригоден") ? QColor(192, 220, 192) : QColor(255, 205, 200);
        if (role == Qt::BackgroundRole && index.column() == cResult && Buffered(*s))
            return QColor(205, 225, 245);
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

    // Where the run stands with the Fund, or (not sent yet, a finished verification) its deadline.
    std::pair<QString, bool> Fund(const TJournalRunSummary &s) const
    {
        if (!s.arshinStatus.isEmpty())
            return {s.arshinStatus, s.arshinStatus.startsWith(QStringLiteral("отказ"))};
        if (s.kind != TJournalRunKind::Verification || s.outcome != TJournalOutcome::Finished || !deadline)
            return {};
        return deadline(s);
    }

private:
    static bool Buffered(const TJournalRunSummary &s) { return s.outcome == TJournalOutcome::Open && s.endBuffered; }
    static QStringList Marks(const TJournalRunSummary &s)
    {
        QStringList marks;
        if (s.integrity == TRecordIntegrity::Changed)
            marks << QStringLiteral("запись изменена вне программы");
        if (s.suspectStandard)
            marks << QStringLiteral("эталон вне допуска");
        if (s.amendments > 0)
            marks << QStringLiteral("изменено %1").arg(s.amendments);
        return marks;
    }

    std::vector<TJournalRunSummary> runs_;
};

// "Изменить запись…": which field, its value now (read-only), the new one, why and who. It only
// collects; `submit` records (and says why not), and the dialog closes once it has.
class TJournalAmendDialog : public QDialog {
public:
    using TSubmit
        = std::function<bool(const QString &field, const QString &value, const QString &reason, const QString &who)>;

    TJournalAmendDialog(const TJournalArchiveLogic::TAmendmentForm &form, TSubmit submit, QWidget *parent)
        : QDialog(parent), form_(form), submit_(std::move(submit))
    {
        setObjectName(QStringLiteral("amendDialog"));
        setWindowTitle(QStringLiteral("Изменить запись"));
        field_ = new QComboBox(this);
        field_->setObjectName(QStringLiteral("amendField"));
        for (const auto &f : form_.fields)
            field_->addItem(f.first);
        old_ = new QLineEdit(this);
        old_->setObjectName(QStringLiteral("amendOldValue"));
        old_->setReadOnly(true);
        new_ = new QLineEdit(this);
        new_->setObjectName(QStringLiteral("amendNewValue"));
        verdict_ = new QComboBox(this);
        verdict_->setObjectName(QStringLiteral("amendVerdict"));
        verdict_->addItems({QStringLiteral("пригоден"), QStringLiteral("непригоден")});
        reason_ = new QLineEdit(this);
        reason_->setObjectName(QStringLiteral("amendReason"));
        who_ = new QLineEdit(form_.who, this);
        who_->setObjectName(QStringLiteral("amendWho"));
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->setObjectName(QStringLiteral("amendButtons"));
        buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Записать"));
        buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));

        auto *fields = new QFormLayout;
        fields->addRow(QStringLiteral("Поле"), field_);
        fields->addRow(QStringLiteral("Прежнее значение"), old_);
        fields->addRow(QStringLiteral("Новое значение"), new_);
        fields->addRow(QStringLiteral("Заключение"), verdict_);
        fields->addRow(QStringLiteral("Причина"), reason_);
        fields->addRow(QStringLiteral("Кто изменяет"), who_);
        auto *note = new QLabel(QStringLiteral("Запись поверки не правится: изменение записывается рядом с ней, "
                                               "с прежним и новым значением, автором, временем и причиной."),
            this);
        note->setWordWrap(true);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(note);
        layout->addLayout(fields);
        layout->addWidget(buttons);
        resize(520, sizeHint().height());

        connect(field_, &QComboBox::currentIndexChanged, this, [this, fields] { FieldChanged(fields); });
        connect(buttons, &QDialogButtonBox::accepted, this, [this] {
            const bool verdict = IsVerdict();
            if (submit_(field_->currentText(), verdict ? verdict_->currentText() : new_->text(), reason_->text(),
                    who_->text()))
                accept();
        });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        FieldChanged(fields);
    }

private:
    bool IsVerdict() const { return field_->currentText() == QStringLiteral("verdict"); }
    void FieldChanged(QFormLayout *fields)
    {
        const int at = field_->currentIndex();
        const QString value = at >= 0 && at < form_.fields.size() ? form_.fields[at].second : QString();
        old_->setText(value);
        // The conclusion is chosen, never typed: only the two words it may be.
        const bool verdict = IsVerdict();
        fields->setRowVisible(new_, !verdict);
        fields->setRowVisible(verdict_, verdict);
        new_->setText(value);
        if (verdict)
            verdict_->setCurrentIndex(value == QStringLiteral("пригоден") ? 1 : 0);
    }

    TJournalArchiveLogic::TAmendmentForm form_;
    TSubmit submit_;
    QComboBox *field_ = nullptr;
    QLineEdit *old_ = nullptr;
    QLineEdit *new_ = nullptr;
    QComboBox *verdict_ = nullptr;
    QLineEdit *reason_ = nullptr;
    QLineEdit *who_ = nullptr;
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
    notExported_ = new QCheckBox(QStringLiteral("не выгружено"), this);
    notExported_->setObjectName(QStringLiteral("notExportedFilter"));
    filters->addWidget(notExported_);

    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("runsTable"));
    table_->setModel(model_.get());
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // More than one row selected: "Выгрузить в «Аршин»…" takes just those.
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
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
    table_->setColumnWidth(TJournalRunsModel::cResult, 220);
    table_->setColumnWidth(TJournalRunsModel::cVerdict, 95);

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
    amend_ = new QPushButton(QStringLiteral("Изменить запись…"), this);
    amend_->setObjectName(QStringLiteral("amendButton"));
    arshin_ = new QPushButton(QStringLiteral("Выгрузить в «Аршин»…"), this);
    arshin_->setObjectName(QStringLiteral("arshinButton"));
    arshin_->setEnabled(false);
    arshinProtocols_ = new QCheckBox(QStringLiteral("с протоколами"), this);
    arshinProtocols_->setObjectName(QStringLiteral("arshinProtocols"));
    arshinProtocols_->setToolTip(QStringLiteral("Вложить в файл протокол каждой поверки (PDF)"));
    arshinProtocols_->setEnabled(false);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("stateLabel"));
    state_->setWordWrap(true);
    auto *actions = new QHBoxLayout;
    actions->addWidget(state_, 1);
    actions->addWidget(open_);
    actions->addWidget(export_);
    actions->addWidget(report_);
    actions->addWidget(amend_);
    actions->addWidget(arshin_);
    actions->addWidget(arshinProtocols_);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(splitter, 1);
    layout->addLayout(actions);
    // Wide enough that the last column, where a run stands with the Fund and its deadline, shows without
    // scrolling; never wider than the screen.
    QSize size(1320, 600);
    if (const QScreen *shown = screen())
        size = size.boundedTo(shown->availableGeometry().size());
    resize(size);

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
    connect(amend_, &QPushButton::clicked, this, &TJournalWindow::AmendClicked);
    connect(arshin_, &QPushButton::clicked, this, &TJournalWindow::ArshinClicked);
    connect(notExported_, &QCheckBox::toggled, this, [this](bool on) { logic_.SetNotExportedOnly(on); });

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

void TJournalWindow::AmendClicked()
{
    const auto form = logic_.AmendmentForm(SelectedRun());
    if (!form)
        return;
    const TJournalRunId run = form->run;
    auto *dialog = new TJournalAmendDialog(
        *form,
        [this, run](const QString &field, const QString &value, const QString &reason, const QString &who) {
            return logic_.Amend(run, field, value, reason, who);
        },
        this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void TJournalWindow::SetFundDeadline(TDeadline deadline)
{
    model_->deadline = std::move(deadline);
    logic_.Refresh();
}

void TJournalWindow::SetArshinHandler(TArshinHandler handler)
{
    arshinHandler_ = std::move(handler);
    arshin_->setEnabled(bool(arshinHandler_));
    arshinProtocols_->setEnabled(bool(arshinHandler_));
}

void TJournalWindow::ArshinClicked()
{
    // Rows in the list's order, whichever order they were selected in.
    std::set<int> selected;
    for (const QModelIndex &index : table_->selectionModel()->selectedRows())
        selected.insert(index.row());
    const bool onlySelected = selected.size() > 1;
    std::vector<TJournalRunId> runs;
    for (int row = 0; row < int(model_->Runs().size()); ++row) {
        const TJournalRunSummary &s = model_->Runs()[size_t(row)];
        if ((!onlySelected || selected.count(row)) && s.kind == TJournalRunKind::Verification
            && s.outcome == TJournalOutcome::Finished)
            runs.push_back(s.id);
    }
    if (runs.empty()) {
        ShowMessage(onlySelected ? QStringLiteral("Среди выделенных нет законченных поверок для выгрузки")
                                 : QStringLiteral("В списке нет законченных поверок для выгрузки"));
        return;
    }
    if (arshinHandler_)
        arshinHandler_(runs, arshinProtocols_->isChecked());
    logic_.Refresh();
}

void TJournalWindow::SelectRun(const TJournalRunId &run)
{
    for (int row = 0; row < model_->rowCount(); ++row)
        if (model_->At(row)->id == run) {
            // Selecting the row that is already current tells nobody: say it ourselves.
            if (table_->currentIndex().row() == row)
                CurrentChanged();
            else
                table_->selectRow(row);
            return;
        }
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

void TJournalWindow::SetActionsEnabled(bool open, bool exportCsv, bool report, bool amend)
{
    open_->setEnabled(open);
    export_->setEnabled(exportCsv);
    report_->setEnabled(report);
    amend_->setEnabled(amend);
}

void TJournalWindow::ShowError(const QString &text)
{
    TMessageService::Error(this, text);
}

void TJournalWindow::ShowMessage(const QString &text)
{
    TMessageService::Information(this, text);
}
