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

// Walks the lines of a text (ending in CR LF, LF or CR) without copying them: a file of millions of
// short lines costs no more than its text.
class TLines {
public:
    explicit TLines(QStringView text) : text_(text) { }
    bool Next(QStringView &line)
    {
        const qsizetype n = text_.size();
        if (pos_ >= n)
            return false;
        qsizetype i = pos_;
        while (i < n && text_[i] != u'\r' && text_[i] != u'\n')
            ++i;
        line = text_.sliced(pos_, i - pos_);
        if (i + 1 < n && text_[i] == u'\r' && text_[i + 1] == u'\n')
            ++i;
        pos_ = i + 1;
        return true;
    }
    qsizetype Position() const { return std::min(pos_, text_.size()); }

private:
    QStringView text_;
    qsizetype pos_ = 0;
};

bool RestEmpty(const QStringList &fields)
{
    return std::all_of(fields.begin() + 1, fields.end(), [](const QString &f) { return f.isEmpty(); });
}

// A header field that names a column: its header ("Частота, Hz"), its name ("Частота") or its name
// with another unit ("Частота, Гц"), in any letter case.
bool NamesColumn(QStringView field, const QString &name, const QString &header)
{
    if (field.startsWith(QChar(0xFEFF)))
        field = field.sliced(1);
    field = field.trimmed();
    if (name.isEmpty() || field.isEmpty())
        return false;
    if (field.compare(header, Qt::CaseInsensitive) == 0 || field.compare(name, Qt::CaseInsensitive) == 0)
        return true;
    return field.size() > name.size() && field.startsWith(name, Qt::CaseInsensitive) && field[name.size()] == u',';
}

// Where the fields of the file's lines go.
class TColumnMap {
public:
    // By header when the header names at least one of the table's named columns; then a field
    // under an unknown header keeps its position if no named field went there.
    TColumnMap(const QStringList &header, const TStringGridWithData &grid)
    {
        const QStringList &names = grid.ColumnParamNames();
        const int cols = grid.ColCount();
        taken_.assign(size_t(cols), false);
        std::vector<bool> matched(size_t(cols), false);
        target_.assign(size_t(header.size()), -1);
        for (qsizetype j = 0; j < header.size(); ++j)
            for (int col = 0; col < cols; ++col)
                if (!taken_[size_t(col)] && NamesColumn(header[j], names.value(col), grid.Cells(col, 0))) {
                    target_[size_t(j)] = col;
                    taken_[size_t(col)] = matched[size_t(col)] = true;
                    byHeader_ = true;
                    break;
                }
        if (!byHeader_)
            return;
        for (qsizetype j = 0; j < header.size(); ++j)
            if (target_[size_t(j)] < 0 && (j >= cols || !taken_[size_t(j)])) {
                target_[size_t(j)] = int(j);
                if (j < cols)
                    taken_[size_t(j)] = true;
            }
        for (int col = 0; col < cols; ++col)
            if (matched[size_t(col)])
                found_ << names.value(col);
    }
    // The column of field j; -1: the field is not loaded.
    int Column(int j) const
    {
        if (!byHeader_)
            return j;
        if (j < int(target_.size()))
            return target_[size_t(j)];
        return j >= int(taken_.size()) || !taken_[size_t(j)] ? j : -1;
    }
    bool ByHeader() const { return byHeader_; }
    bool Found(const QString &name) const { return found_.contains(name); }

private:
    std::vector<int> target_;
    std::vector<bool> taken_;
    QStringList found_;
    bool byHeader_ = false;
};

} // namespace

QString TCsvLoadResult::Problem(const QString &filename) const
{
    if (!read)
        return error;
    if (!missingColumns.isEmpty())
        return QStringLiteral("В файле «%1» нет столбца %2: точки не загружены.")
            .arg(filename, missingColumns.join(QStringLiteral(", ")));
    return {};
}

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
            *error = QString::fromUtf8(e.what());
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
        throw ECsvFileError(e.what());
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
    QStringView text, TStringGridWithData &grid, TCsvLoadResult &result, const QStringList &required)
{
    TGridUpdate update(grid);
    grid.ReduceToHeader();
    TLines lines(text);
    QStringView line;
    if (!lines.Next(line)) {
        grid.SetSelectedRow(1);
        return;
    }
    const TColumnMap map(SplitFields(line, TStringGrid::kMaxColumns), grid);
    // A file read by position says nothing of its columns; one read by header must have them all.
    for (const QString &name : required)
        if (grid.ColumnOf(name) >= 0 && map.ByHeader() && !map.Found(name))
            result.missingColumns << QStringLiteral("«%1»").arg(name);
    while (lines.Next(line)) {
        if (line.isEmpty())
            continue;
        // Beyond the limit the lines are only counted.
        if (grid.RowCount() >= TStringGrid::kMaxRows || !grid.AppendDataRow()) {
            ++result.droppedRows;
            continue;
        }
        const int row = grid.RowCount() - 1;
        int more = 0;
        const QStringList fields = SplitFields(line, TStringGrid::kMaxColumns, &more);
        result.droppedColumns = std::max(result.droppedColumns, more);
        for (int j = 0; j < fields.size(); ++j) {
            const int col = map.Column(j);
            if (col < 0)
                continue;
            while (col >= grid.ColCount() && grid.AddBareColumn()) { }
            if (col >= grid.ColCount())
                break;
            QString text = fields[j];
            if (text.size() > kMaxCellLength) {
                text.truncate(kMaxCellLength);
                ++result.cutCells;
            }
            grid.SetCells(col, row, text);
        }
    }
    grid.SetSelectedRow(1);
}

bool TCsvManager::IsTableLine(QStringView line)
{
    if (line == kTable)
        return true;
    if (!line.startsWith(kTable) && !line.startsWith(QStringLiteral("\"Table\"")))
        return false;
    int more = 0;
    const QStringList fields = SplitFields(line, TStringGrid::kMaxColumns, &more);
    return more == 0 && !fields.isEmpty() && fields[0] == kTable && RestEmpty(fields);
}

std::unique_ptr<TStringGridWithData> TCsvManager::TableLike(const TStringGridWithData *layout)
{
    auto table = std::make_unique<TStringGridWithData>();
    if (!layout)
        return table;
    const TInputData names;
    for (int col = 0; col < layout->InputColumnCount(); ++col) {
        const QString name = layout->ColumnParamNames().value(col);
        if (name == names.Ia.name)
            table->AddColumnI();
        else if (name == names.Ua.name)
            table->AddColumnU();
        else if (name == names.Angle.name)
            table->AddColumnAngle();
        else if (name == names.Freq.name)
            table->AddColumnFreq();
    }
    return table;
}

std::vector<std::unique_ptr<TStringGridWithData>> TCsvManager::ParseScenario(
    QStringView text, TCsvLoadResult &result, const TStringGridWithData *layout, const QStringList &required)
{
    std::vector<std::unique_ptr<TStringGridWithData>> tables;
    TLines lines(text);
    QStringView line;
    bool atTable = false;
    while (!atTable && lines.Next(line))
        atTable = IsTableLine(line);
    while (atTable) {
        atTable = false;
        QStringView titleLine;
        const bool hasTitle = lines.Next(titleLine);
        const qsizetype first = lines.Position();
        qsizetype next = first;
        while (hasTitle) {
            const qsizetype before = lines.Position();
            if (!lines.Next(line)) {
                next = text.size();
                break;
            }
            if (IsTableLine(line)) {
                next = before;
                atTable = true;
                break;
            }
        }
        if (int(tables.size()) >= kMaxTables) {
            ++result.droppedTables;
            continue;
        }
        // A spreadsheet saves the title as a row of its own: quoted, with empty fields after it.
        QString title = titleLine.toString();
        int more = 0;
        const QStringList fields = SplitFields(titleLine, TStringGrid::kMaxColumns, &more);
        if (fields.size() > 1 && more == 0 && RestEmpty(fields))
            title = fields[0];
        auto table = TableLike(layout);
        table->Title = title.left(kMaxCellLength);
        const qsizetype missingBefore = result.missingColumns.size();
        FillGrid(text.sliced(first, next - first), *table, result, required);
        for (qsizetype k = missingBefore; k < result.missingColumns.size(); ++k)
            result.missingColumns[k] = QStringLiteral("%1 (таблица «%2»)").arg(result.missingColumns[k], table->Title);
        tables.push_back(std::move(table));
    }
    result.tables = int(tables.size());
    return tables;
}

TCsvLoadResult TCsvManager::CsvToGrid(
    const QString &filename, TStringGridWithData &grid, const QStringList &required) const
{
    TCsvLoadResult result;
    bool ok = false;
    const QByteArray bytes = ReadFile(filename, result.error, ok);
    if (!ok)
        return result;
    result.read = true;
    FillGrid(DecodeText(bytes), grid, result, required);
    result.tables = 1;
    return result;
}

std::vector<std::unique_ptr<TStringGridWithData>> TCsvManager::CsvToGrids(const QString &filename,
    TCsvLoadResult *result, const TStringGridWithData *layout, const QStringList &required) const
{
    TCsvLoadResult local;
    TCsvLoadResult &r = result ? *result : local;
    r = TCsvLoadResult();
    bool ok = false;
    const QByteArray bytes = ReadFile(filename, r.error, ok);
    if (!ok)
        throw ECsvFileError(r.error.toStdString());
    r.read = true;
    return ParseScenario(DecodeText(bytes), r, layout, required);
}
