#include "verification/report/reportproducer.h"

#include "protocol/inputdata.h"
#include "protocol/parameters.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/report/excelreportmanager.h"
#include "verification/report/officeconverter.h"
#include "verification/report/reporterror.h"
#include "verification/report/reporttemplates.h"
#include "verification/report/wordreportmanager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int kReportColumnWidth = 40;

// The cursor and the menu items come back whatever happens while the report is produced.
class TBusyScope {
public:
    explicit TBusyScope(IReportView *view) : view_(view)
    {
        view_->SetBusy(true);
        view_->SetReportCommandsEnabled(false);
    }
    ~TBusyScope()
    {
        view_->SetReportCommandsEnabled(true);
        view_->SetBusy(false);
    }
    TBusyScope(const TBusyScope &) = delete;
    TBusyScope &operator=(const TBusyScope &) = delete;

private:
    IReportView *view_;
};

QSet<QString> RemovedNames(const QStringList &removedInputs)
{
    QSet<QString> names;
    for (const QString &item : removedInputs) {
        bool ok = false;
        const int number = item.trimmed().toInt(&ok);
        const QString name = ok ? TReportProducer::InputColumnName(number) : QString();
        if (!name.isEmpty())
            names.insert(name);
    }
    return names;
}

const QSet<QString> &KnownQuantities()
{
    static const QSet<QString> names = [] {
        QSet<QString> result;
        const TParameters parameters;
        for (int index = 1; index <= TParameters::kCount; ++index)
            if (const TParameter *parameter = parameters.GetParameterByIndex(index))
                result.insert(parameter->name);
        for (int number = TInputData::kAmperageIndex; number <= TInputData::kFrequencyIndex; ++number)
            result.insert(TReportProducer::InputColumnName(number));
        return result;
    }();
    return names;
}

} // namespace

TReportProducer::TReportProducer(TConfigController *settings, IReportView *view) : settings_(settings), view_(view) { }

QString TReportProducer::InputColumnName(int number)
{
    const TInputData input;
    const TParameter *parameter = input.GetParameterByIndex(number);
    return parameter ? parameter->name : QString();
}

TReportTable TReportProducer::ReportTable(const TReportTab &tab)
{
    const QSet<QString> removed = RemovedNames(tab.removedInputs);
    const TReportTable &source = tab.table;
    TReportTable result;
    result.title = source.title;
    result.fontName = source.fontName;
    result.fontSize = source.fontSize;
    result.permissible = source.permissible;
    result.chartPng = source.chartPng;
    QList<int> kept;
    for (int c = 0; c < source.ColumnCount(); ++c) {
        if (removed.contains(source.columns[c].name))
            continue;
        kept.append(c);
        TReportColumn column = source.columns[c];
        if (KnownQuantities().contains(column.name))
            column.width = kReportColumnWidth;
        result.columns.append(column);
    }
    result.rows.reserve(source.rows.size());
    for (int row = 1; row < source.RowCount(); ++row) {
        QStringList cells;
        cells.reserve(kept.size());
        for (const int c : kept)
            cells.append(source.Cell(row, c));
        result.rows.append(cells);
    }
    result.marks = ReportMarks(tab);
    return result;
}

TReportMarks TReportProducer::ReportMarks(const TReportTab &tab)
{
    // Every mark of the table, each moved left by the removed columns before it; marks of
    // removed columns have no cell in the report.
    const QSet<QString> removed = RemovedNames(tab.removedInputs);
    const TReportTable &source = tab.table;
    QList<int> target(source.ColumnCount(), -1);
    int next = 0;
    for (int c = 0; c < source.ColumnCount(); ++c)
        if (!removed.contains(source.columns[c].name))
            target[c] = next++;
    TReportMarks marks;
    for (const auto &[row, column] : source.marks.Cells())
        if (column < target.size() && target[column] >= 0 && row < source.RowCount())
            marks.Set(row, target[column]);
    return marks;
}

void TReportProducer::FillReportHeader(const TReportData &data, TReportManager &manager)
{
    const int one = TReportManager::kReplaceOne;
    manager.ReplaceTagWithValue(QStringLiteral("ProtocolNum"), data.ProtocolNum, one);
    manager.ReplaceTagWithValue(QStringLiteral("DeviceName"), data.DeviceName, one);
    manager.ReplaceTagWithValue(QStringLiteral("DeviceNum"), data.DeviceNum, one);
    manager.ReplaceTagWithValue(QStringLiteral("DeviceName"), data.DeviceName, one);
    manager.ReplaceTagWithValue(QStringLiteral("DeviceNum"), data.DeviceNum, one);
    manager.ReplaceTagWithValue(QStringLiteral("Date"), data.Date, one);
    manager.ReplaceTagWithValue(QStringLiteral("FactoryNum"), data.FactoryNum, one);
    manager.ReplaceTagWithValue(QStringLiteral("Conditions"), data.Conditions, one);
    manager.ReplaceTagWithValue(QStringLiteral("EquipmentName"), data.EquipmentName, one);
    manager.ReplaceTagWithValue(QStringLiteral("PoverkaDoc"), data.PoverkaDoc, one);
    manager.ReplaceTagWithValue(QStringLiteral("Inspection"), data.Inspection, one);
    manager.ReplaceTagWithValue(QStringLiteral("ElectricityStrength"), data.ElectricityStrength, one);
    manager.ReplaceTagWithValue(QStringLiteral("Pulsation"), data.Pulsation, one);
    manager.ReplaceTagWithValue(QStringLiteral("Conclusion"), data.Conclusion, one);
    manager.ReplaceTagWithValue(QStringLiteral("Verifier"), data.Verifier, one);
    manager.ReplaceTagWithValue(QStringLiteral("KU1"), data.KU1, one);
    manager.ReplaceTagWithValue(QStringLiteral("KU2"), data.KU2, one);
    manager.ReplaceTagWithValue(QStringLiteral("KI1"), data.KI1, one);
    manager.ReplaceTagWithValue(QStringLiteral("KI2"), data.KI2, one);
    manager.ReplaceTagWithValue(QStringLiteral("LabName"), data.LabName, one);
    manager.ReplaceTagWithValue(QStringLiteral("LabAccreditation"), data.LabAccreditation, one);
    manager.ReplaceTagWithValue(QStringLiteral("DeviceOwner"), data.DeviceOwner, one);
    manager.ReplaceTagWithValue(QStringLiteral("DeviceType"), data.DeviceType, one);
    manager.ReplaceTagWithValue(QStringLiteral("RegistryNum"), data.RegistryNum, one);
    manager.ReplaceTagWithValue(QStringLiteral("PoverkaMethod"), data.PoverkaMethod, one);
    manager.ReplaceTagWithValue(QStringLiteral("Checker"), data.Checker, one);
}

const QStringList &TReportProducer::LabFieldNames()
{
    static const QStringList names{"TypeNumber", "Modification", "Owner", "ManufactureYear", "VerificationKind",
        "Procedure", "Temperature", "Humidity", "Pressure", "Standards", "Verdict", "ValidUntil", "Amendments"};
    return names;
}

TReportData TReportProducer::WithLabFields(TReportData data, QList<QPair<QString, QString>> &labFields)
{
    // Every name is filled, empty where the run has no record of it: a template that names the records
    // never shows their placeholders raw (a run journalled before the records, a lab that keeps none).
    for (const QString &name : LabFieldNames()) {
        const bool given
            = std::any_of(labFields.begin(), labFields.end(), [&](const auto &field) { return field.first == name; });
        if (!given)
            labFields.append({name, QString()});
    }
    auto value = [&](const char *key) {
        for (const auto &[k, v] : labFields)
            if (k == QLatin1String(key))
                return v;
        return QString();
    };
    if (data.Conditions.trimmed().isEmpty()) {
        QStringList parts;
        for (const auto &[key, caption] : {std::pair{"Temperature", "температура"},
                 {"Humidity", "относительная влажность"}, {"Pressure", "атмосферное давление"}})
            if (!value(key).isEmpty())
                parts << QStringLiteral("%1 %2").arg(QString::fromUtf8(caption), value(key));
        data.Conditions = parts.join(QStringLiteral(", "));
    }
    if (data.EquipmentName.trimmed().isEmpty())
        data.EquipmentName = value("Standards");
    if (data.Conclusion.trimmed().isEmpty() && !value("Verdict").isEmpty()) {
        data.Conclusion = value("Verdict");
        if (!value("ValidUntil").isEmpty())
            data.Conclusion += QStringLiteral(", результаты поверки действительны до ") + value("ValidUntil");
    }
    // The records' names for what the header may already hold: a lab that keeps no register still has
    // its header's register number, method and owner in a template that uses the records' names.
    for (auto &[key, v] : labFields) {
        if (!v.isEmpty())
            continue;
        if (key == QLatin1String("TypeNumber"))
            v = data.RegistryNum;
        else if (key == QLatin1String("Procedure"))
            v = data.PoverkaMethod;
        else if (key == QLatin1String("Owner"))
            v = data.DeviceOwner;
    }
    return data;
}

void TReportProducer::AddTablesToReport(const QList<TReportTab> &tabs, TReportManager &manager)
{
    // The caption's number is the tab's position: tabs without data leave gaps.
    for (int k = 0; k < tabs.size(); ++k) {
        if (!tabs[k].hasData)
            continue;
        const TReportTable table = ReportTable(tabs[k]);
        manager.AddTableAndHeader(table, table.title, table.marks, k + 1);
    }
}

QString TReportProducer::PermissibleText(double percent)
{
    if (!(percent > 0))
        return QString();
    return QStringLiteral("±") + QString::number(percent, 'g', 6).replace(QLatin1Char('.'), QLatin1Char(','))
        + QStringLiteral(" %");
}

QString TReportProducer::PdfUnavailableReason()
{
    return TOfficeConverter::Executable().isEmpty()
        ? QStringLiteral("Для PDF нужен LibreOffice: установите пакет libreoffice-writer-nogui")
        : QString();
}

QString TReportProducer::Produce(const TReportRequest &request, const QList<TReportTab> &tabs)
{
    TBusyScope busy(view_);
    try {
        const bool excel = request.format == TReportFormat::Excel;
        std::unique_ptr<TReportManager> manager;
        if (excel)
            manager = std::make_unique<TExcelReportManager>();
        else
            manager = std::make_unique<TWordReportManager>();
        TAvtopoverkaReportConfig config(settings_);
        QList<QPair<QString, QString>> labFields = request.labFields;
        const TReportData data
            = WithLabFields(request.headerData ? *request.headerData : config.ReadReportData(), labFields);
        const QString target = config.ReportsFolder() + QStringLiteral("/Отчёт");

        QString templatePath = request.templatePath;
        if (templatePath.isEmpty())
            templatePath = excel ? config.ReadExcelTemplatePath() : config.ReadWordTemplatePath();
        // Until the user picks one (a new installation, the command line) the shipped template serves.
        if (templatePath.isEmpty())
            templatePath = TReportTemplates::ShippedPath(excel);
        if (request.format == TReportFormat::Pdf && !PdfUnavailableReason().isEmpty()) {
            view_->ShowError(PdfUnavailableReason());
            return QString();
        }
        templatePath
            = TOfficeConverter::PrepareTemplate(templatePath, excel ? QStringLiteral("xlsx") : QStringLiteral("docx"));

        // A PDF asked for by name is made from a Word report that is not kept.
        std::unique_ptr<QTemporaryDir> scratch;
        const bool pdf = request.format == TReportFormat::Pdf;
        if (!request.outputPath.isEmpty()) {
            if (pdf) {
                scratch = std::make_unique<QTemporaryDir>(
                    QFileInfo(request.outputPath).absolutePath() + QStringLiteral("/.report-XXXXXX"));
                if (!scratch->isValid())
                    throw EReportError(
                        QStringLiteral("Не удалось создать временную папку рядом с «%1»").arg(request.outputPath));
                manager->SetExactTarget(
                    scratch->filePath(QFileInfo(request.outputPath).completeBaseName() + manager->extension));
            } else {
                manager->SetExactTarget(request.outputPath);
            }
        }

        const QString copy = manager->CopyTemplate(templatePath, target);
        manager->OpenDoc(copy);
        FillReportHeader(data, *manager);
        for (const auto &[key, value] : labFields)
            manager->ReplaceTagWithValue(key, value, TReportManager::kReplaceOne);
        AddTablesToReport(tabs, *manager);
        // Leftover placeholders always go, also when all ten tabs exist.
        manager->RemoveTableTagsFromReport();
        // Placeholders the report could not fill are told once, after it is written, never left unsaid.
        QStringList unfilled;
        if (auto *word = dynamic_cast<TWordReportManager *>(manager.get()))
            unfilled = word->UnfilledPlaceholders();
        else if (auto *sheet = dynamic_cast<TExcelReportManager *>(manager.get()))
            unfilled = sheet->UnfilledPlaceholders();
        // Empty by right: a run without amendments, an unfit device's validity.
        unfilled.removeAll(QStringLiteral("Amendments"));
        unfilled.removeAll(QStringLiteral("ValidUntil"));
        manager->SaveAndCloseDoc(copy);
        QString result = manager->ReportPath();

        if (pdf) {
            const QFileInfo report(result);
            QTemporaryDir work(report.absolutePath() + QStringLiteral("/.pdf-XXXXXX"));
            if (!work.isValid())
                throw EReportError(
                    QStringLiteral("Не удалось создать временную папку в «%1»").arg(report.absolutePath()));
            const QString converted = TOfficeConverter::Convert(result, QStringLiteral("pdf"), work.path());
            if (!request.outputPath.isEmpty()) {
                if (std::rename(
                        QFile::encodeName(converted).constData(), QFile::encodeName(request.outputPath).constData())
                    != 0)
                    throw EReportError(QStringLiteral("Не удалось сохранить «%1»").arg(request.outputPath));
                QFile::remove(result);
                result = request.outputPath;
            } else {
                result = TReportManager::PublishNumbered(converted,
                    report.absolutePath() + QLatin1Char('/') + report.completeBaseName(), QStringLiteral(".pdf"));
            }
        }
        if (!unfilled.isEmpty())
            view_->ShowMessage(TWordReportManager::UnfilledMessage(unfilled));
        if (request.openWhenDone)
            view_->OpenDocument(result);
        return result;
    } catch (const EReportError &error) {
        view_->ShowError(error.Message());
    } catch (const std::exception &error) {
        view_->ShowError(QStringLiteral("Не удалось создать отчёт: ") + QString::fromLocal8Bit(error.what()));
    }
    return QString();
}
