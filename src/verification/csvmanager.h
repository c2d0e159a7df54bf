#pragma once
// Test points of one verification table, or of all tables of a window (a scenario), as ".csv"
// files. Only the input columns are saved, never results.
//
// Written: UTF-8 with a byte-order mark, every line (the last one too) ending in CR LF, fields
// joined by ";" as they stand, without quoting. A scenario is, per table, a line "Table", a line
// with the table's title and the table's lines. Files are replaced atomically: a failed save leaves
// the previous file as it was.
//
// Read: UTF-8 or UTF-16 (by the byte-order mark, or UTF-16 without one recognised by its zero
// bytes), UTF-8 without a mark, and Windows-1251 from older installations; lines end in CR LF, LF
// or CR; fields are split at ";" with double quotes around a field removed (a doubled quote inside
// stands for one). A "Table" line may come quoted and with empty fields after it, as a spreadsheet
// saves it. Columns are matched by their header with the table's named columns ("Частота" or
// "Частота, Hz"), so that a file may leave out or reorder columns; a file whose header names none of
// them is read by position. Fields beyond the last column add columns. At most 1000 rows and 21
// columns per table, 100 tables per scenario and 1000 characters per cell are taken; what was left
// out is counted in the result, and the lines beyond are only counted, never kept.

#include "verification/stringgridwithdata.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class ECsvFileError : public EKestError {
public:
    using EKestError::EKestError;
};

struct TCsvLoadResult {
    bool read = false; // the file was read (even if it held nothing usable)
    QString error; // why it was not
    int tables = 0; // tables filled
    int droppedRows = 0; // data rows beyond 1000, summed over the tables
    int droppedColumns = 0; // most fields of one line beyond column 21
    int droppedTables = 0; // "Table" blocks beyond 100
    int cutCells = 0; // cells cut to 1000 characters
    // Columns asked for that the file's header does not have, as "«Частота»" (with the table's
    // title for a scenario); the file is not to be used then.
    QStringList missingColumns;

    // The file was read and holds every column asked for.
    bool Usable() const { return read && missingColumns.isEmpty(); }
    // Why the file cannot be used; empty when it can.
    QString Problem(const QString &filename) const;

    // What was left out, for the user; empty when everything was loaded.
    QString Message() const;
};

class TCsvManager {
public:
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
    static constexpr int kMaxTables = 100;
    static constexpr int kMaxCellLength = 1000;

    // ".csv" is appended unless the part of the file name from its first "." is exactly ".csv"
    // (so "a.CSV" and "a.b.csv" get it too). Only the file name counts, not the folders above it.
    static QString CorrectFileName(const QString &filename);

    // Writes the first `colCount` columns of every row (header first). True on success; false,
    // with the reason in `error` when given, on any failure.
    bool GridColumnsToCsv(
        const TStringGridWithData &grid, int colCount, const QString &filename, QString *error = nullptr) const;
    // Writes every table as a scenario block with `colCount` columns (never more than a table's
    // own input columns, so that no result is saved as a point). Raises ECsvFileError on failure.
    bool GridsToCsv(const std::vector<const TStringGridWithData *> &grids, int colCount, const QString &filename) const;

    // Fills the table from a single-table file. Never raises: a file that cannot be read leaves
    // the table as it was and says so in the result. `required` names columns of the table the
    // file's header must have (when the file is read by header).
    TCsvLoadResult CsvToGrid(
        const QString &filename, TStringGridWithData &grid, const QStringList &required = {}) const;
    // One new table per "Table" block, in file order, each with the input columns of `layout` when
    // given (so that its columns are read by header). Raises ECsvFileError when the file cannot be
    // read.
    std::vector<std::unique_ptr<TStringGridWithData>> CsvToGrids(const QString &filename,
        TCsvLoadResult *result = nullptr, const TStringGridWithData *layout = nullptr,
        const QStringList &required = {}) const;

    // A new table with the input columns of `layout` (names and headers), no data.
    static std::unique_ptr<TStringGridWithData> TableLike(const TStringGridWithData *layout);

    // The pieces, for the readers above and their fuzz test.
    static QByteArray TableText(const TStringGridWithData &grid, int colCount);
    static QByteArray ScenarioText(const std::vector<const TStringGridWithData *> &grids, int colCount);
    static QString DecodeText(const QByteArray &bytes);
    static QStringList SplitLines(const QString &text);
    // The line that starts a scenario block: "Table", also quoted and followed by empty fields.
    static bool IsTableLine(QStringView line);
    // Up to `maxFields` fields of a line; how many more it has goes to `moreFields`.
    static QStringList SplitFields(QStringView line, int maxFields, int *moreFields = nullptr);
    // Fills `grid` from the lines of `text`, the first of them the header line.
    static void FillGrid(
        QStringView text, TStringGridWithData &grid, TCsvLoadResult &result, const QStringList &required = {});
    static std::vector<std::unique_ptr<TStringGridWithData>> ParseScenario(QStringView text, TCsvLoadResult &result,
        const TStringGridWithData *layout = nullptr, const QStringList &required = {});

private:
    static QByteArray ReadFile(const QString &filename, QString &error, bool &ok);
};
