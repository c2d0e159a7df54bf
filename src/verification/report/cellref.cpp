#include "verification/report/cellref.h"

#include <QString>

#include <cctype>

namespace CellRef {

namespace {

constexpr int kMaxColumn = 16384;
constexpr int kMaxRow = 1048576;

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
// Characters of a name or a reference; bytes of non-ASCII letters count as name characters.
bool IsNameChar(char c)
{
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '$' || c == '\\'
        || static_cast<unsigned char>(c) >= 0x80;
}

struct TPart {
    bool hasColumn = false, hasRow = false;
    bool columnAbsolute = false, rowAbsolute = false;
    int column = 0, row = 0;
};

// [$]LETTERS[$]DIGITS, [$]LETTERS or [$]DIGITS at `i`; `end` past it.
bool ParsePart(const std::string &s, size_t i, TPart &part, size_t &end)
{
    size_t j = i;
    part = TPart();
    bool dollar = j < s.size() && s[j] == '$';
    if (dollar)
        ++j;
    size_t letters = j;
    while (letters < s.size() && IsLetter(s[letters]) && letters - j < 4)
        ++letters;
    if (letters > j && letters - j <= 3) {
        int column = 0;
        for (size_t k = j; k < letters; ++k)
            column = column * 26 + (std::toupper(static_cast<unsigned char>(s[k])) - 'A' + 1);
        if (column > kMaxColumn)
            return false;
        part.hasColumn = true;
        part.columnAbsolute = dollar;
        part.column = column;
        j = letters;
        dollar = j < s.size() && s[j] == '$';
        if (dollar)
            ++j;
    } else if (letters > j) {
        return false;
    }
    size_t digits = j;
    while (digits < s.size() && IsDigit(s[digits]) && digits - j < 8)
        ++digits;
    if (digits > j) {
        if (s[j] == '0')
            return false;
        const int row = std::stoi(s.substr(j, digits - j));
        if (row > kMaxRow)
            return false;
        part.hasRow = true;
        part.rowAbsolute = dollar;
        part.row = row;
        j = digits;
    } else if (dollar && part.hasColumn) {
        return false; // "A$" alone
    }
    if (!part.hasColumn && !part.hasRow)
        return false;
    end = j;
    return true;
}

std::string FormatPart(const TPart &part)
{
    std::string text;
    if (part.hasColumn)
        text += (part.columnAbsolute ? "$" : "") + ColumnName(part.column);
    if (part.hasRow)
        text += (part.rowAbsolute ? "$" : "") + std::to_string(part.row);
    return text;
}

// A cell, a cell range, a row range or a column range at `i`.
struct TArea {
    TPart first, last;
    bool range = false;
};
bool ParseArea(const std::string &s, size_t i, TArea &area, size_t &end)
{
    size_t j = 0;
    if (!ParsePart(s, i, area.first, j))
        return false;
    area.range = false;
    if (j < s.size() && s[j] == ':') {
        size_t k = 0;
        if (ParsePart(s, j + 1, area.last, k) && area.last.hasColumn == area.first.hasColumn
            && area.last.hasRow == area.first.hasRow) {
            area.range = true;
            j = k;
        }
    }
    // A single part must be a whole cell; ranges may be whole rows or columns.
    if (!area.range && !(area.first.hasColumn && area.first.hasRow))
        return false;
    if (j < s.size() && (IsNameChar(s[j]) || s[j] == '(' || s[j] == '!'))
        return false; // a function or a name that only starts like a reference
    end = j;
    return true;
}

// The area moved; false when deleted.
bool ShiftArea(TArea &area, const TRowShift &shift)
{
    if (!area.first.hasRow)
        return true; // whole columns: rows do not move them
    if (!area.range) {
        const auto row = shift.Row(area.first.row);
        if (!row)
            return false;
        area.first.row = *row;
        return true;
    }
    const bool swapped = area.first.row > area.last.row;
    const int low = swapped ? area.last.row : area.first.row, high = swapped ? area.first.row : area.last.row;
    const auto span = shift.Span(low, high);
    if (!span)
        return false;
    area.first.row = swapped ? span->second : span->first;
    area.last.row = swapped ? span->first : span->second;
    return true;
}

std::string FormatArea(const TArea &area)
{
    return area.range ? FormatPart(area.first) + ":" + FormatPart(area.last) : FormatPart(area.first);
}

bool SameSheet(const std::string &a, const std::string &b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

} // namespace

std::string ColumnName(int column)
{
    std::string name;
    while (column > 0) {
        const int rest = (column - 1) % 26;
        name.insert(name.begin(), char('A' + rest));
        column = (column - 1) / 26;
    }
    return name;
}

std::optional<std::pair<int, int>> Parse(const std::string &reference)
{
    TPart part;
    size_t end = 0;
    if (!ParsePart(reference, 0, part, end) || end != reference.size() || !part.hasColumn || !part.hasRow)
        return std::nullopt;
    return std::make_pair(part.column, part.row);
}

std::string Format(int column, int row)
{
    return ColumnName(column) + std::to_string(row);
}

std::optional<int> TRowShift::Row(int row) const
{
    if (delta >= 0)
        return row >= at ? row + delta : row;
    const int count = -delta;
    if (row < at)
        return row;
    if (row < at + count)
        return std::nullopt;
    return row - count;
}

std::optional<std::pair<int, int>> TRowShift::Span(int first, int last) const
{
    if (delta >= 0)
        return std::make_pair(first >= at ? first + delta : first, last >= at ? last + delta : last);
    const int count = -delta;
    const int newFirst = first < at ? first : (first < at + count ? at : first - count);
    const int newLast = last < at ? last : (last < at + count ? at - 1 : last - count);
    if (newLast < newFirst)
        return std::nullopt;
    return std::make_pair(newFirst, newLast);
}

std::optional<std::string> ShiftRange(const std::string &range, const TRowShift &shift)
{
    TArea area;
    size_t end = 0;
    if (!ParseArea(range, 0, area, end) || end != range.size())
        return range; // not a reference this code understands: left as it is
    if (!ShiftArea(area, shift))
        return std::nullopt;
    return FormatArea(area);
}

std::string ShiftRangeList(const std::string &ranges, const TRowShift &shift)
{
    std::string result;
    size_t i = 0;
    while (i < ranges.size()) {
        while (i < ranges.size() && ranges[i] == ' ')
            ++i;
        size_t j = i;
        while (j < ranges.size() && ranges[j] != ' ')
            ++j;
        if (j > i) {
            if (const auto moved = ShiftRange(ranges.substr(i, j - i), shift))
                result += (result.empty() ? "" : " ") + *moved;
        }
        i = j;
    }
    return result;
}

std::string ShiftFormula(
    const std::string &s, const std::string &sheetName, bool ownSheet, const TRowShift &shift, bool *changed)
{
    std::string out;
    out.reserve(s.size() + 8);
    bool any = false;
    bool external = false; // the next reference belongs to another workbook ("[1]Sheet!A1")
    size_t i = 0;
    const size_t n = s.size();

    // The area at `at` (after an optional qualifier), moved when it refers to the moving sheet:
    // its text and the position after it (npos when there is no area there).
    auto area = [&](size_t at, bool applies) -> std::pair<size_t, std::string> {
        TArea a;
        size_t end = 0;
        if (!ParseArea(s, at, a, end))
            return {std::string::npos, std::string()};
        std::string text = s.substr(at, end - at);
        if (applies && !external) {
            const std::string before = FormatArea(a);
            if (!ShiftArea(a, shift))
                text = "#REF!";
            else if (FormatArea(a) != before)
                text = FormatArea(a);
        }
        return {end, text};
    };

    while (i < n) {
        const char c = s[i];
        if (c == '"') {
            size_t j = i + 1;
            while (j < n) {
                if (s[j] == '"') {
                    if (j + 1 < n && s[j + 1] == '"') {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(j + 1, n);
            out += s.substr(i, j - i);
            i = j;
        } else if (c == '\'') {
            std::string name;
            size_t j = i + 1;
            while (j < n) {
                if (s[j] == '\'') {
                    if (j + 1 < n && s[j + 1] == '\'') {
                        name += '\'';
                        j += 2;
                        continue;
                    }
                    break;
                }
                name += s[j++];
            }
            if (j < n && j + 1 < n && s[j + 1] == '!') {
                out += s.substr(i, j + 2 - i);
                const auto [end, text] = area(j + 2, SameSheet(name, sheetName));
                any = any || (end != std::string::npos && text != s.substr(j + 2, end - j - 2));
                out += text;
                i = end == std::string::npos ? j + 2 : end;
                external = false;
            } else {
                j = std::min(j + 1, n);
                out += s.substr(i, j - i);
                i = j;
            }
        } else if (c == '[') {
            int depth = 0;
            size_t j = i;
            while (j < n) {
                if (s[j] == '[')
                    ++depth;
                else if (s[j] == ']' && --depth == 0)
                    break;
                ++j;
            }
            j = std::min(j + 1, n);
            out += s.substr(i, j - i);
            external = j < n && (IsNameChar(s[j]) || s[j] == '\'');
            i = j;
        } else if (IsNameChar(c)) {
            size_t j = i;
            while (j < n && IsNameChar(s[j]))
                ++j;
            if (j < n && s[j] == '!') {
                out += s.substr(i, j + 1 - i);
                const auto [end, text] = area(j + 1, SameSheet(s.substr(i, j - i), sheetName));
                any = any || (end != std::string::npos && text != s.substr(j + 1, end - j - 1));
                out += text;
                i = end == std::string::npos ? j + 1 : end;
                external = false;
            } else {
                const auto [end, text] = area(i, ownSheet);
                if (end == std::string::npos || end < j) {
                    out += s.substr(i, j - i); // a name, a number or a function
                    i = j;
                } else {
                    any = any || text != s.substr(i, end - i);
                    out += text;
                    i = end;
                }
                external = false;
            }
        } else {
            out += c;
            ++i;
        }
    }
    if (changed)
        *changed = any;
    return out;
}

} // namespace CellRef
