#include "verification/csvmanager.h"

#include "config/inifile.h"
#include "config/textdecoding.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>

namespace {

const QString kTable = QStringLiteral("Table");

// A line break inside a cell or title would start a new line of the file.
QString OneLine(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

void AppendLine(QString &out, const QString &line)
{
    out += line;
    out += QStringLiteral("\r\n");
}

void AppendTable(QString &out, const TStringGridWithData &grid, int colCount)
{
    const int cols = std::clamp(colCount, 0, grid.ColCount());
    for (int row = 0; row < grid.RowCount(); ++row) {
        QStringList fields;
        bool empty = true;
        for (int col = 0; col < cols; ++col) {
            fields << OneLine(grid.Cells(col, row));
            empty = empty && fields.back().isEmpty();
        }
        // The blank row a new table starts with is not a point.
        if (row > 0 && empty && !grid.isFirstRowFilled)
            continue;
        AppendLine(out, fields.join(u';'));
    }
}

QByteArray WithBom(const QString &text)
{
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString DecodeUtf16(QByteArrayView bytes, bool littleEndian)
{
    QString out(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = uint8_t(bytes[i]);
        const auto b = uint8_t(bytes[i + 1]);
        out[i / 2] = QChar(char16_t(littleEndian ? a | (b << 8) : (a << 8) | b));
    }
    return out;
}

} // namespace

QString TCsvLoadResult::Message() const
{
    QStringList parts;
    if (!read && !error.isEmpty())
        parts << error;
    if (droppedTables > 0)
        parts << QStringLiteral("Загружены первые %1 таблиц; не загружено таблиц: %2.")
                     .arg(TCsvManager::kMaxTables)
                     .arg(droppedTables);
    if (droppedRows > 0)
        parts << QStringLiteral("Загружены первые %1 строк таблицы; не загружено строк: %2.")
                     .arg(TStringGrid::kMaxDataRows)
                     .arg(droppedRows);
    if (droppedColumns > 0)
        parts << QStringLiteral("Загружен %1 столбец; не загружено столбцов: %2.")
                     .arg(TStringGrid::kMaxColumns)
                     .arg(droppedColumns);
    if (cutCells > 0)
        parts << QStringLiteral("Текст длиннее %1 символов обрезан в ячейках: %2.")
                     .arg(TCsvManager::kMaxCellLength)
                     .arg(cutCells);
    return parts.join(u' ');
}

QString TCsvManager::CorrectFileName(const QString &filename)
{
    const qsizetype slash = filename.lastIndexOf(u'/');
    const QStringView name = QStringView(filename).sliced(slash + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0 && name.sliced(dot) == QLatin1String(".csv"))
        return filename;
    return filename + QStringLiteral(".csv");
}

// ---- writing ----

QByteArray TCsvManager::TableText(const TStringGridWithData &grid, int colCount)
{
    QString text;
    AppendTable(text, grid, colCount);
    return WithBom(text);
}

QByteArray TCsvManager::ScenarioText(const std::vector<const TStringGridWithData *> &grids, int colCount)
{
    QString text;
    for (const TStringGridWithData *grid : grids) {
        if (!grid)
            continue;
        AppendLine(text, kTable);
        AppendLine(text, OneLine(grid->Title));
        const int own = grid->InputColumnCount();
        AppendTable(text, *grid, own > 0 ? std::min(colCount, own) : colCount);
    }
    return WithBom(text);
}

bool TCsvManager::GridColumnsToCsv(
    const TStringGridWithData &grid, int colCount, const QString &filename, QString *error) const
{
    try {
        TIniFile::WriteFileAtomically(CorrectFileName(filename), TableText(grid, colCount));
        return true;
    } catch (const std::exception &e) {
        if (error)
            *error = QStringLiteral("Не удалось записать файл «%1»: %2")
                         .arg(CorrectFileName(filename), QString::fromUtf8(e.what()));
        return false;
    }
}

bool TCsvManager::GridsToCsv(
    const std::vector<const TStringGridWithData *> &grids, int colCount, const QString &filename) const
{
    const QString name = CorrectFileName(filename);
    try {
        TIniFile::WriteFileAtomically(name, ScenarioText(grids, colCount));
    } catch (const std::exception &e) {
        throw ECsvFileError(
            QStringLiteral("Не удалось записать файл «%1»: %2").arg(name, QString::fromUtf8(e.what())).toStdString());
    }
    return true;
}

// ---- reading ----

QByteArray TCsvManager::ReadFile(const QString &filename, QString &error, bool &ok)
{
    ok = false;
    const QFileInfo info(filename);
    // Devices and pipes could be read for ever.
    if (!info.exists()) {
        error = QStringLiteral("Файл «%1» не найден.").arg(filename);
        return {};
    }
    if (!info.isFile()) {
        error = QStringLiteral("«%1» не является файлом.").arg(filename);
        return {};
    }
    QFile file(filename);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Не удалось открыть файл «%1»: %2").arg(filename, file.errorString());
        return {};
    }
    if (file.size() > kMaxFileSize) {
        error = QStringLiteral("Файл «%1» слишком большой для таблицы точек.").arg(filename);
        return {};
    }
    QByteArray bytes = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Не удалось прочитать файл «%1»: %2").arg(filename, file.errorString());
        return {};
    }
    if (bytes.size() > kMaxFileSize) {
        error = QStringLiteral("Файл «%1» слишком большой для таблицы точек.").arg(filename);
        return {};
    }
    ok = true;
    return bytes;
}

QString TCsvManager::DecodeText(const QByteArray &bytes)
{
    const auto b = [&](qsizetype i) { return uint8_t(bytes[i]); };
    if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE)
        return DecodeUtf16(QByteArrayView(bytes).sliced(2), true);
    if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF)
        return DecodeUtf16(QByteArrayView(bytes).sliced(2), false);
    if (!(bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) && bytes.contains('\0')) {
        // No text of ours has zero bytes; UTF-16 of digits and Latin letters has one in every pair,
        // on the side of the high byte.
        qsizetype even = 0, odd = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (bytes[i] == '\0')
                ++((i % 2) ? odd : even);
        if (std::max(even, odd) * 4 >= bytes.size() / 2)
            return DecodeUtf16(bytes, odd >= even);
    }
    return KestText::DecodeTextFile(bytes);
}

QStringList TCsvManager::SplitLines(const QString &text)
{
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QStringList TCsvManager::SplitFields(QStringView line, int maxFields, int *moreFields)
{
    QStringList fields;
    int more = 0;
    const qsizetype n = line.size();
    qsizetype i = 0;
    if (n == 0) {
        if (moreFields)
            *moreFields = 0;
        return fields;
    }
    while (true) {
        const bool keep = fields.size() < maxFields;
        QString field;
        if (line[i] == u'"') {
            ++i;
            while (i < n) {
                if (line[i] == u'"') {
                    if (i + 1 < n && line[i + 1] == u'"') {
                        if (keep)
                            field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (keep)
                    field += line[i];
                ++i;
            }
        }
        // Unquoted text, or what follows a closing quote, up to the delimiter.
        const qsizetype from = i;
        while (i < n && line[i] != u';')
            ++i;
        if (keep) {
            field += line.sliced(from, i - from);
            fields << field;
        } else {
            ++more;
        }
        if (i >= n)
            break;
        ++i; // the delimiter
        if (i >= n) { // a delimiter at the end leaves one empty field
            if (fields.size() < maxFields)
                fields << QString();
            else
                ++more;
            break;
        }
    }
    if (moreFields)
        *moreFields = more;
    return fields;
}

void TCsvManager::FillGrid(
    const QStringList &lines, qsizetype begin, qsizetype end, TStringGridWithData &grid, TCsvLoadResult &result)
{
    TGridUpdate update(grid);
    grid.ReduceToHeader();
    end = std::min(end, lines.size());
    // The first line is the file's header: columns are matched by position.
    for (qsizetype k = begin + 1; k < end; ++k) {
        const QString &line = lines[k];
        if (line.isEmpty())
            continue;
        if (grid.RowCount() >= TStringGrid::kMaxRows || !grid.AppendDataRow()) {
            ++result.droppedRows;
            continue;
        }
        const int row = grid.RowCount() - 1;
        int more = 0;
        const QStringList fields = SplitFields(line, TStringGrid::kMaxColumns, &more);
        result.droppedColumns = std::max(result.droppedColumns, more);
        for (int j = 0; j < fields.size(); ++j) {
            while (j >= grid.ColCount() && grid.AddBareColumn()) { }
            if (j >= grid.ColCount())
                break;
            QString text = fields[j];
            if (text.size() > kMaxCellLength) {
                text.truncate(kMaxCellLength);
                ++result.cutCells;
            }
            grid.SetCells(j, row, text);
        }
    }
    grid.SetSelectedRow(1);
}

std::vector<std::unique_ptr<TStringGridWithData>> TCsvManager::ParseScenario(
    const QStringList &lines, TCsvLoadResult &result)
{
    std::vector<std::unique_ptr<TStringGridWithData>> tables;
    const qsizetype n = lines.size();
    qsizetype i = lines.indexOf(kTable);
    while (i >= 0 && i < n) {
        const QString title = i + 1 < n ? lines[i + 1] : QString();
        const qsizetype first = std::min(i + 2, n);
        qsizetype next = lines.indexOf(kTable, first);
        if (next < 0)
            next = n;
        if (int(tables.size()) < kMaxTables) {
            auto table = std::make_unique<TStringGridWithData>();
            table->Title = title.left(kMaxCellLength);
            FillGrid(lines, first, next, *table, result);
            tables.push_back(std::move(table));
        } else {
            ++result.droppedTables;
        }
        i = next;
    }
    result.tables = int(tables.size());
    return tables;
}

TCsvLoadResult TCsvManager::CsvToGrid(const QString &filename, TStringGridWithData &grid) const
{
    TCsvLoadResult result;
    bool ok = false;
    const QByteArray bytes = ReadFile(filename, result.error, ok);
    if (!ok)
        return result;
    result.read = true;
    const QStringList lines = SplitLines(DecodeText(bytes));
    FillGrid(lines, 0, lines.size(), grid, result);
    result.tables = 1;
    return result;
}

std::vector<std::unique_ptr<TStringGridWithData>> TCsvManager::CsvToGrids(
    const QString &filename, TCsvLoadResult *result) const
{
    TCsvLoadResult local;
    TCsvLoadResult &r = result ? *result : local;
    r = TCsvLoadResult();
    bool ok = false;
    const QByteArray bytes = ReadFile(filename, r.error, ok);
    if (!ok)
        throw ECsvFileError(r.error.toStdString());
    r.read = true;
    return ParseScenario(SplitLines(DecodeText(bytes)), r);
}
