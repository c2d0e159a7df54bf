#include "verification/report/excelreportmanager.h"

#include "verification/report/cellref.h"
#include "verification/report/ooxmlpackage.h"
#include "verification/report/reporterror.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

namespace {

constexpr const char *kSheetUri = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char *kSheetStrictUri = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr const char *kRelationsUri = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char *kRelationsStrictUri = "http://purl.oclc.org/ooxml/officeDocument/relationships";
constexpr const char *kDrawingUri = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
constexpr const char *kWorkbookType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
constexpr const char *kTemplateType = "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml";
constexpr const char *kStylesType = "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
constexpr const char *kStylesRelation = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";
constexpr int kMaxRow = 1048576;
const QString kWhat = QStringLiteral("Шаблон Excel");

bool EndsWith(const std::string &text, const char *tail)
{
    const size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

int IntAttribute(pugi::xml_node node, const char *name, int fallback = 0)
{
    const pugi::xml_attribute attribute = node.attribute(name);
    return attribute ? attribute.as_int(fallback) : fallback;
}

void SetAttribute(pugi::xml_node node, const char *name, const std::string &value)
{
    pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute)
        attribute = node.append_attribute(name);
    attribute.set_value(value.c_str());
}

int CountChildren(pugi::xml_node node, const std::string &name)
{
    int count = 0;
    for (pugi::xml_node child : node.children(name.c_str()))
        (void)child, ++count;
    return count;
}

const char *LocalName(const char *name)
{
    const char *colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

// The order in which a worksheet and a workbook must hold their parts.
const std::vector<const char *> kSheetOrder{"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData",
    "sheetCalcPr", "sheetProtection", "protectedRanges", "scenarios", "autoFilter", "sortState", "dataConsolidate",
    "customSheetViews", "mergeCells", "phoneticPr", "conditionalFormatting", "dataValidations", "hyperlinks",
    "printOptions", "pageMargins", "pageSetup", "headerFooter", "rowBreaks", "colBreaks", "customProperties",
    "cellWatches", "ignoredErrors", "smartTags", "drawing", "legacyDrawing", "legacyDrawingHF", "drawingHF", "picture",
    "oleObjects", "controls", "webPublishItems", "tableParts", "extLst"};
const std::vector<const char *> kWorkbookOrder{"fileVersion", "fileSharing", "workbookPr", "workbookProtection",
    "bookViews", "sheets", "functionGroups", "externalReferences", "definedNames", "calcPr", "oleSize",
    "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes", "webPublishing", "fileRecoveryPr",
    "webPublishObjects", "extLst"};

// The child `local` of `root`, made where the order puts it when there is none.
pugi::xml_node ChildInOrder(
    pugi::xml_node root, const TXmlNames &n, const char *local, const std::vector<const char *> &order)
{
    if (pugi::xml_node existing = root.child(n.Name(local).c_str()))
        return existing;
    const auto rank = [&order](const char *name) {
        for (size_t i = 0; i < order.size(); ++i)
            if (std::strcmp(order[i], name) == 0)
                return int(i);
        return -1;
    };
    const int mine = rank(local);
    for (pugi::xml_node child : root.children())
        if (child.type() == pugi::node_element && rank(LocalName(child.name())) > mine)
            return root.insert_child_before(n.Name(local).c_str(), child);
    return root.append_child(n.Name(local).c_str());
}

struct TCellFont {
    QString name = QStringLiteral("Calibri");
    double size = 11;
    bool bold = false;
};

// Text widths in pixels at 96 dpi, measured in a font by its metrics when a font database is at hand
// (the program's windows); a console program (kestctl) has none and estimates by character classes,
// generously, so that a column is never narrower than its text.
class TMeasure {
public:
    explicit TMeasure(const TCellFont &font) : size_(font.size), bold_(font.bold)
    {
        if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
            QFont qfont(font.name);
            qfont.setPointSizeF(font.size);
            qfont.setBold(font.bold);
            metrics_.emplace(qfont);
            scale_ = 96.0 / metrics_->fontDpi();
        }
    }
    // The sum of the characters' advances: shaping every cell's text costs more than the rest of the
    // table, and numbers and units are not kerned.
    double Width(const QString &text)
    {
        double width = 0;
        for (const QChar c : text) {
            auto known = advances_.find(c.unicode());
            if (known == advances_.end()) {
                const double advance = metrics_ ? metrics_->horizontalAdvance(c) * scale_
                                                : Em(c) * size_ * 96 / 72 * (bold_ ? 1.1 : 1.0);
                known = advances_.emplace(c.unicode(), advance).first;
            }
            width += known->second;
        }
        return width;
    }

private:
    static double Em(QChar c)
    {
        const ushort u = c.unicode();
        if (u == 0x2060 || u == 0x200B)
            return 0;
        if (c.isSpace() || QStringLiteral(".,:;'|!il()[]").contains(c))
            return 0.32;
        if (c.isDigit())
            return 0.58;
        if (QStringLiteral("mwMWшщжыюфШЩЖЫЮФМ%").contains(c))
            return 0.9;
        return c.isUpper() ? 0.72 : 0.6;
    }
    std::optional<QFontMetricsF> metrics_;
    std::unordered_map<char16_t, double> advances_;
    double size_ = 11, scale_ = 1;
    bool bold_ = false;
};

std::string QuotedSheet(const std::string &name)
{
    std::string quoted = "'";
    for (char c : name)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

struct TExcelReportManager::TImpl {
    struct TSheet {
        std::string name;
        std::string part;
        pugi::xml_node root;
        pugi::xml_node sheetData;
        TXmlNames n;
        std::string row, c, v, f, is, t, r, rPh;
        bool changed = false;
        bool hasFormulas = false;
        int localId = 0; // its position among the workbook's sheets, as names count it
        // The tables written on it (their first and last rows, their columns) and the widths given.
        struct TPlaced {
            pugi::xml_node header, last;
            int left = 1, right = 1;
            QStringList headers;
        };
        std::vector<TPlaced> placed;
        std::map<int, double> widths;
    };
    struct TFound {
        int sheet = -1;
        pugi::xml_node row, cell;
        int rowNumber = 0, column = 0;
    };

    TOoxmlPackage package;
    std::string workbookPart;
    pugi::xml_node workbook;
    TXmlNames wb;
    std::vector<TSheet> sheets;
    std::vector<QString> shared;
    std::string sharedPart;
    std::string stylesPart;
    bool workbookChanged = false, stylesChanged = false, formulasMoved = false, open = false;
    int markFill = -1;
    QString pendingCaption;
    // Rows this writer filled with a table: their cells are data, never searched for placeholders.
    std::set<pugi::xml_node> tableRows;

    void Open();
    void LoadSheet(TSheet &sheet);
    QString CellText(const TSheet &sheet, pugi::xml_node cell) const;
    void SetCellText(const TSheet &sheet, pugi::xml_node cell, const QString &text) const;
    std::optional<TFound> Find(const QString &tag, int onlySheet = -1) const;
    void Shift(int sheetIndex, const CellRef::TRowShift &shift);
    void ShiftParts(TSheet &sheet, const CellRef::TRowShift &shift);
    pugi::xml_node InsertRowsAfter(TSheet &sheet, pugi::xml_node after, int first, int count, pugi::xml_node model);
    pugi::xml_node CellAt(TSheet &sheet, pugi::xml_node row, int rowNumber, int column) const;
    int TableStyle(int base, bool marked);
    TCellFont FontById(int id);
    TCellFont CellFont(int style);
    void SetRichText(const TSheet &sheet, pugi::xml_node cell, const QString &plain, const QString &bold,
        const TCellFont &font) const;
    void SetColumnWidth(TSheet &sheet, int column, double width);
    void PrintSetup(TSheet &sheet);
    bool ReplaceInHeaders(TSheet &sheet, const QString &tag, const QString &value);
    QStringList Unfilled();
    std::map<int, int> tableStyles;
    std::map<int, TCellFont> fonts;
    std::vector<QString> tagsSeen;
    QStringList emptied; // placeholders the template holds whose value was empty: filled with nothing
    pugi::xml_node Styles();
    void DropMergesIn(TSheet &sheet, int firstRow, int lastRow, int firstColumn, int lastColumn);
    void Save();
    void RequireOpen() const
    {
        if (!open)
            throw EReportError(QStringLiteral("Документ Excel не открыт"));
    }
};

void TExcelReportManager::TImpl::Open()
{
    open = false;
    sheets.clear();
    shared.clear();
    tableStyles.clear();
    fonts.clear();
    tagsSeen.clear();
    emptied.clear();
    markFill = -1;
    pendingCaption.clear();
    tableRows.clear();
    workbookChanged = stylesChanged = formulasMoved = false;
    sharedPart.clear();
    stylesPart.clear();

    workbookPart = package.MainPart();
    const std::string type = package.ContentType(workbookPart);
    if (type == kTemplateType)
        package.SetContentTypeOverride(workbookPart, kWorkbookType); // the report is a workbook, not a template
    else if (type != kWorkbookType)
        throw EReportError(QStringLiteral("Шаблон Excel должен быть книгой .xlsx или шаблоном .xltx "
                                          "(без макросов); этот файл содержит «%1»")
                               .arg(QString::fromStdString(type)));
    workbook = package.Xml(workbookPart).document_element();
    wb = TXmlNames(workbook, kSheetUri, kSheetStrictUri);
    if (!wb.found || wb.Name("workbook") != workbook.name())
        throw EReportError(QStringLiteral("Шаблон Excel повреждён: основная часть не является книгой Excel"));
    const TXmlNames rels(workbook, kRelationsUri, kRelationsStrictUri);
    const auto relations = package.Relations(workbookPart);
    for (const auto &[id, rel] : relations) {
        if (rel.external)
            continue;
        if (EndsWith(rel.type, "/sharedStrings"))
            sharedPart = rel.target;
        else if (EndsWith(rel.type, "/styles"))
            stylesPart = rel.target;
    }
    const std::string sheetName = wb.Name("sheet");
    int localId = -1;
    for (pugi::xml_node sheet : workbook.child(wb.Name("sheets").c_str()).children(sheetName.c_str())) {
        ++localId;
        const auto rel = relations.find(sheet.attribute(rels.Name("id").c_str()).value());
        if (rel == relations.end() || rel->second.external || !EndsWith(rel->second.type, "/worksheet"))
            continue; // chart sheets and the like hold no cells
        TSheet entry;
        entry.name = sheet.attribute("name").value();
        entry.part = rel->second.target;
        entry.localId = localId;
        LoadSheet(entry);
        sheets.push_back(std::move(entry));
    }
    if (sheets.empty())
        throw EReportError(QStringLiteral("Шаблон Excel повреждён: в книге нет листов"));

    if (!sharedPart.empty()) {
        if (pugi::xml_document *sst = package.XmlIfPresent(sharedPart)) {
            const TXmlNames n(sst->document_element(), kSheetUri, kSheetStrictUri);
            const std::string si = n.Name("si"), t = n.Name("t"), r = n.Name("r"), rPh = n.Name("rPh");
            for (pugi::xml_node item : sst->document_element().children(si.c_str())) {
                std::string text;
                for (pugi::xml_node child : item.children()) {
                    if (t == child.name())
                        text += XmlText(child);
                    else if (r == child.name())
                        text += XmlText(child.child(t.c_str()));
                }
                shared.push_back(QString::fromUtf8(text.c_str()));
            }
        }
    }
    open = true;
}

void TExcelReportManager::TImpl::LoadSheet(TSheet &sheet)
{
    sheet.root = package.Xml(sheet.part).document_element();
    sheet.n = TXmlNames(sheet.root, kSheetUri, kSheetStrictUri);
    if (!sheet.n.found)
        throw EReportError(QStringLiteral("Шаблон Excel повреждён: лист «%1» не является листом Excel")
                               .arg(QString::fromStdString(sheet.name)));
    sheet.row = sheet.n.Name("row"), sheet.c = sheet.n.Name("c"), sheet.v = sheet.n.Name("v");
    sheet.f = sheet.n.Name("f"), sheet.is = sheet.n.Name("is"), sheet.t = sheet.n.Name("t");
    sheet.r = sheet.n.Name("r"), sheet.rPh = sheet.n.Name("rPh");
    sheet.sheetData = sheet.root.child(sheet.n.Name("sheetData").c_str());
    if (!sheet.sheetData)
        throw EReportError(
            QStringLiteral("Шаблон Excel повреждён: на листе «%1» нет ячеек").arg(QString::fromStdString(sheet.name)));
    // Rows and cells may leave their numbers implicit; every one gets it written out, so that
    // moving rows can rely on it.
    int lastRow = 0;
    for (pugi::xml_node row : sheet.sheetData.children(sheet.row.c_str())) {
        int number = IntAttribute(row, "r", 0);
        if (number <= lastRow || number > kMaxRow)
            number = lastRow + 1;
        if (number > kMaxRow)
            throw EReportError(QStringLiteral("Шаблон Excel повреждён: слишком много строк"));
        SetAttribute(row, "r", std::to_string(number));
        lastRow = number;
        int lastColumn = 0;
        for (pugi::xml_node cell : row.children(sheet.c.c_str())) {
            const auto ref = CellRef::Parse(cell.attribute("r").value());
            int column = ref ? ref->first : lastColumn + 1;
            if (column <= lastColumn)
                column = lastColumn + 1;
            if (!ref || ref->first != column || ref->second != number)
                SetAttribute(cell, "r", CellRef::Format(column, number));
            lastColumn = column;
            if (cell.child(sheet.f.c_str()))
                sheet.hasFormulas = true;
        }
    }
}

QString TExcelReportManager::TImpl::CellText(const TSheet &sheet, pugi::xml_node cell) const
{
    const char *type = cell.attribute("t").value();
    if (std::strcmp(type, "s") == 0) {
        const std::string index = XmlText(cell.child(sheet.v.c_str()));
        char *end = nullptr;
        const long i = std::strtol(index.c_str(), &end, 10);
        return (end && *end == 0 && i >= 0 && size_t(i) < shared.size()) ? shared[size_t(i)] : QString();
    }
    if (std::strcmp(type, "inlineStr") == 0) {
        std::string text;
        for (pugi::xml_node child : cell.child(sheet.is.c_str()).children()) {
            if (sheet.t == child.name())
                text += XmlText(child);
            else if (sheet.r == child.name())
                text += XmlText(child.child(sheet.t.c_str()));
        }
        return QString::fromUtf8(text.c_str());
    }
    if (std::strcmp(type, "str") == 0)
        return QString::fromUtf8(XmlText(cell.child(sheet.v.c_str())).c_str());
    return QString(); // numbers, truth values and errors hold no placeholder
}

void TExcelReportManager::TImpl::SetCellText(const TSheet &sheet, pugi::xml_node cell, const QString &text) const
{
    for (const std::string *name : {&sheet.f, &sheet.v, &sheet.is})
        while (pugi::xml_node child = cell.child(name->c_str()))
            cell.remove_child(child);
    cell.remove_attribute("vm");
    cell.remove_attribute("cm");
    SetAttribute(cell, "t", "inlineStr");
    pugi::xml_node t = cell.prepend_child(sheet.is.c_str()).append_child(sheet.t.c_str());
    t.append_attribute("xml:space") = "preserve";
    t.append_child(pugi::node_pcdata).set_value(XmlSafe(text).toStdString().c_str());
}

std::optional<TExcelReportManager::TImpl::TFound> TExcelReportManager::TImpl::Find(
    const QString &tag, int onlySheet) const
{
    for (int s = 0; s < int(sheets.size()); ++s) {
        if (onlySheet >= 0 && s != onlySheet)
            continue;
        const TSheet &sheet = sheets[size_t(s)];
        for (pugi::xml_node row : sheet.sheetData.children(sheet.row.c_str())) {
            if (tableRows.count(row))
                continue;
            for (pugi::xml_node cell : row.children(sheet.c.c_str()))
                if (CellText(sheet, cell).contains(tag, Qt::CaseInsensitive)) {
                    const auto ref = CellRef::Parse(cell.attribute("r").value());
                    return TFound{s, row, cell, IntAttribute(row, "r"), ref ? ref->first : 1};
                }
        }
    }
    return std::nullopt;
}

void TExcelReportManager::TImpl::ShiftParts(TSheet &sheet, const CellRef::TRowShift &shift)
{
    const TXmlNames &n = sheet.n;
    // Merged cells, validations, conditional formats, links, page breaks, the filter.
    if (pugi::xml_node merges = sheet.root.child(n.Name("mergeCells").c_str())) {
        for (pugi::xml_node merge = merges.first_child(); merge;) {
            pugi::xml_node next = merge.next_sibling();
            if (const auto moved = CellRef::ShiftRange(merge.attribute("ref").value(), shift))
                SetAttribute(merge, "ref", *moved);
            else
                merges.remove_child(merge);
            merge = next;
        }
        SetAttribute(merges, "count", std::to_string(CountChildren(merges, n.Name("mergeCell"))));
    }
    for (pugi::xml_node format = sheet.root.child(n.Name("conditionalFormatting").c_str()); format;) {
        pugi::xml_node next = format.next_sibling(n.Name("conditionalFormatting").c_str());
        const std::string moved = CellRef::ShiftRangeList(format.attribute("sqref").value(), shift);
        if (moved.empty()) {
            sheet.root.remove_child(format);
        } else {
            SetAttribute(format, "sqref", moved);
            const std::string ruleName = n.Name("cfRule"), formulaName = n.Name("formula");
            for (pugi::xml_node rule : format.children(ruleName.c_str()))
                for (pugi::xml_node formula : rule.children(formulaName.c_str()))
                    SetXmlText(formula, CellRef::ShiftFormula(XmlText(formula), sheet.name, true, shift));
        }
        format = next;
    }
    if (pugi::xml_node validations = sheet.root.child(n.Name("dataValidations").c_str())) {
        for (pugi::xml_node item = validations.first_child(); item;) {
            pugi::xml_node next = item.next_sibling();
            if (item.attribute("sqref")) {
                const std::string moved = CellRef::ShiftRangeList(item.attribute("sqref").value(), shift);
                if (moved.empty()) {
                    validations.remove_child(item);
                } else {
                    SetAttribute(item, "sqref", moved);
                    for (const char *name : {"formula1", "formula2"})
                        if (pugi::xml_node formula = item.child(n.Name(name).c_str()))
                            SetXmlText(formula, CellRef::ShiftFormula(XmlText(formula), sheet.name, true, shift));
                }
            }
            item = next;
        }
        SetAttribute(validations, "count", std::to_string(CountChildren(validations, n.Name("dataValidation"))));
    }
    if (pugi::xml_node links = sheet.root.child(n.Name("hyperlinks").c_str())) {
        for (pugi::xml_node link = links.first_child(); link;) {
            pugi::xml_node next = link.next_sibling();
            if (const auto moved = CellRef::ShiftRange(link.attribute("ref").value(), shift))
                SetAttribute(link, "ref", *moved);
            else
                links.remove_child(link);
            link = next;
        }
    }
    if (pugi::xml_node breaks = sheet.root.child(n.Name("rowBreaks").c_str())) {
        for (pugi::xml_node item = breaks.first_child(); item;) {
            pugi::xml_node next = item.next_sibling();
            if (const auto moved = shift.Row(IntAttribute(item, "id")))
                SetAttribute(item, "id", std::to_string(*moved));
            else
                breaks.remove_child(item);
            item = next;
        }
        const int count = CountChildren(breaks, n.Name("brk"));
        SetAttribute(breaks, "count", std::to_string(count));
        SetAttribute(breaks, "manualBreakCount", std::to_string(count));
    }
    if (pugi::xml_node filter = sheet.root.child(n.Name("autoFilter").c_str()))
        if (const auto moved = CellRef::ShiftRange(filter.attribute("ref").value(), shift))
            SetAttribute(filter, "ref", *moved);

    // Rules of later spreadsheet versions kept in the extension list (x14 conditional formats and
    // validations): their ranges (sqref) and formulas (f) name rows like the ones above.
    if (pugi::xml_node extensions = sheet.root.child(n.Name("extLst").c_str())) {
        std::vector<pugi::xml_node> gone;
        std::vector<pugi::xml_node> stack{extensions};
        while (!stack.empty()) {
            pugi::xml_node node = stack.back();
            stack.pop_back();
            for (pugi::xml_node child : node.children()) {
                if (child.type() != pugi::node_element)
                    continue;
                const char *local = LocalName(child.name());
                if (std::strcmp(local, "sqref") == 0) {
                    const std::string moved = CellRef::ShiftRangeList(XmlText(child), shift);
                    if (moved.empty())
                        gone.push_back(node); // the rule or validation this range belongs to
                    else
                        SetXmlText(child, moved);
                } else if (std::strcmp(local, "f") == 0) {
                    SetXmlText(child, CellRef::ShiftFormula(XmlText(child), sheet.name, true, shift));
                } else {
                    stack.push_back(child);
                }
            }
        }
        for (pugi::xml_node node : gone)
            node.parent().remove_child(node);
    }

    // Pictures, tables and notes anchored to rows of this sheet.
    for (const auto &[id, rel] : package.Relations(sheet.part)) {
        if (rel.external)
            continue;
        if (EndsWith(rel.type, "/drawing")) {
            pugi::xml_document *drawing = package.XmlIfPresent(rel.target);
            if (!drawing)
                continue;
            const TXmlNames x(drawing->document_element(), kDrawingUri);
            bool moved = false;
            for (pugi::xml_node anchor : drawing->document_element().children()) {
                for (const char *end : {"from", "to"}) {
                    pugi::xml_node row = anchor.child(x.Name(end).c_str()).child(x.Name("row").c_str());
                    if (!row)
                        continue;
                    const int zeroBased = std::atoi(XmlText(row).c_str());
                    const auto newRow = shift.Row(zeroBased + 1);
                    const int value = newRow ? *newRow - 1 : shift.at - 1;
                    if (value != zeroBased) {
                        SetXmlText(row, std::to_string(value));
                        moved = true;
                    }
                }
            }
            if (moved)
                package.Touch(rel.target);
        } else if (EndsWith(rel.type, "/table")) {
            pugi::xml_document *table = package.XmlIfPresent(rel.target);
            if (!table)
                continue;
            pugi::xml_node root = table->document_element();
            if (const auto moved = CellRef::ShiftRange(root.attribute("ref").value(), shift))
                SetAttribute(root, "ref", *moved);
            for (pugi::xml_node child : root.children())
                if (EndsWith(child.name(), "autoFilter"))
                    if (const auto moved = CellRef::ShiftRange(child.attribute("ref").value(), shift))
                        SetAttribute(child, "ref", *moved);
            package.Touch(rel.target);
        } else if (EndsWith(rel.type, "/comments")) {
            pugi::xml_document *comments = package.XmlIfPresent(rel.target);
            if (!comments)
                continue;
            for (pugi::xml_node list : comments->document_element().children())
                for (pugi::xml_node comment : list.children())
                    if (comment.attribute("ref"))
                        if (const auto moved = CellRef::ShiftRange(comment.attribute("ref").value(), shift))
                            SetAttribute(comment, "ref", *moved);
            package.Touch(rel.target);
        } else if (EndsWith(rel.type, "/vmlDrawing")) {
            // The notes' boxes: x:Row (zero-based) names the note's cell, x:Anchor the box's corners.
            pugi::xml_document *vml = nullptr;
            try {
                vml = package.XmlIfPresent(rel.target);
            } catch (const EReportError &) {
                continue; // drawn in a dialect that is not XML: the boxes stay, the notes' cells move
            }
            if (!vml)
                continue;
            const auto moveRow = [&shift](int zeroBased) {
                const auto moved = shift.Row(zeroBased + 1);
                return moved ? *moved - 1 : shift.at - 1;
            };
            bool moved = false;
            std::vector<pugi::xml_node> stack{vml->document_element()};
            while (!stack.empty()) {
                pugi::xml_node node = stack.back();
                stack.pop_back();
                for (pugi::xml_node child : node.children()) {
                    if (child.type() != pugi::node_element)
                        continue;
                    const char *local = LocalName(child.name());
                    if (std::strcmp(local, "Row") == 0) {
                        const int row = std::atoi(XmlText(child).c_str());
                        if (moveRow(row) != row) {
                            SetXmlText(child, std::to_string(moveRow(row)));
                            moved = true;
                        }
                    } else if (std::strcmp(local, "Anchor") == 0) {
                        QStringList corners = QString::fromStdString(XmlText(child)).split(',');
                        if (corners.size() != 8)
                            continue;
                        for (int i : {2, 6})
                            corners[i] = QString::number(moveRow(corners[i].trimmed().toInt()));
                        const std::string text = corners.join(QStringLiteral(", ")).toStdString();
                        if (text != XmlText(child)) {
                            SetXmlText(child, text);
                            moved = true;
                        }
                    } else {
                        stack.push_back(child);
                    }
                }
            }
            if (moved)
                package.Touch(rel.target);
        }
    }
}

void TExcelReportManager::TImpl::Shift(int sheetIndex, const CellRef::TRowShift &shift)
{
    TSheet &sheet = sheets[size_t(sheetIndex)];
    sheet.changed = true;
    for (pugi::xml_node row = sheet.sheetData.first_child(); row;) {
        pugi::xml_node next = row.next_sibling();
        if (sheet.row == row.name()) {
            const int number = IntAttribute(row, "r");
            if (number >= shift.at) {
                const auto moved = shift.Row(number);
                if (!moved) {
                    sheet.sheetData.remove_child(row);
                } else {
                    SetAttribute(row, "r", std::to_string(*moved));
                    for (pugi::xml_node cell : row.children(sheet.c.c_str())) {
                        if (const auto ref = CellRef::Parse(cell.attribute("r").value()))
                            SetAttribute(cell, "r", CellRef::Format(ref->first, *moved));
                        // The calculation chain names formula cells by address: a moved one outdates it.
                        if (sheet.hasFormulas && cell.child(sheet.f.c_str()))
                            formulasMoved = true;
                    }
                }
            }
        }
        row = next;
    }
    ShiftParts(sheet, shift);

    // Formulas: this sheet's own references, and references to it from every sheet and name.
    for (TSheet &other : sheets) {
        if (!other.hasFormulas)
            continue;
        const bool own = &other == &sheet;
        for (pugi::xml_node row : other.sheetData.children(other.row.c_str()))
            for (pugi::xml_node cell : row.children(other.c.c_str())) {
                pugi::xml_node formula = cell.child(other.f.c_str());
                if (!formula)
                    continue;
                bool changed = false;
                const std::string text = CellRef::ShiftFormula(XmlText(formula), sheet.name, own, shift, &changed);
                if (changed) {
                    SetXmlText(formula, text);
                    other.changed = true;
                    formulasMoved = true;
                }
                if (own && formula.attribute("ref"))
                    if (const auto moved = CellRef::ShiftRange(formula.attribute("ref").value(), shift))
                        SetAttribute(formula, "ref", *moved);
            }
    }
    for (pugi::xml_node name : workbook.child(wb.Name("definedNames").c_str()).children()) {
        bool changed = false;
        const std::string text = CellRef::ShiftFormula(XmlText(name), sheet.name, false, shift, &changed);
        if (changed) {
            SetXmlText(name, text);
            workbookChanged = true;
        }
    }
}

pugi::xml_node TExcelReportManager::TImpl::InsertRowsAfter(
    TSheet &sheet, pugi::xml_node after, int first, int count, pugi::xml_node model)
{
    pugi::xml_node last = after;
    for (int i = 0; i < count; ++i) {
        pugi::xml_node row = last ? sheet.sheetData.insert_child_after(sheet.row.c_str(), last)
                                  : sheet.sheetData.prepend_child(sheet.row.c_str());
        row.append_attribute("r") = first + i;
        // New rows look like the placeholder's row (its height, its row style).
        for (const char *attribute : {"ht", "customHeight", "s", "customFormat"})
            if (model && model.attribute(attribute))
                row.append_attribute(attribute) = model.attribute(attribute).value();
        last = row;
    }
    return last;
}

pugi::xml_node TExcelReportManager::TImpl::CellAt(TSheet &sheet, pugi::xml_node row, int rowNumber, int column) const
{
    // A table fills its new rows left to right: the cell goes after the last one.
    const pugi::xml_node lastCell = row.last_child();
    if (!lastCell || (sheet.c == lastCell.name() && [&] {
            const auto ref = CellRef::Parse(lastCell.attribute("r").value());
            return ref && ref->first < column;
        }())) {
        pugi::xml_node cell = row.append_child(sheet.c.c_str());
        cell.append_attribute("r") = CellRef::Format(column, rowNumber).c_str();
        return cell;
    }
    pugi::xml_node before;
    for (pugi::xml_node cell : row.children(sheet.c.c_str())) {
        const auto ref = CellRef::Parse(cell.attribute("r").value());
        if (!ref)
            continue;
        if (ref->first == column)
            return cell;
        if (ref->first > column) {
            before = cell;
            break;
        }
    }
    pugi::xml_node cell;
    if (before) {
        cell = row.insert_child_before(sheet.c.c_str(), before);
    } else {
        // After the last cell, before anything that is not a cell (extLst).
        pugi::xml_node tail;
        for (pugi::xml_node child : row.children())
            if (child.type() == pugi::node_element && sheet.c != child.name()) {
                tail = child;
                break;
            }
        cell = tail ? row.insert_child_before(sheet.c.c_str(), tail) : row.append_child(sheet.c.c_str());
    }
    cell.append_attribute("r") = CellRef::Format(column, rowNumber).c_str();
    return cell;
}

pugi::xml_node TExcelReportManager::TImpl::Styles()
{
    if (stylesPart.empty() || !package.HasPart(stylesPart)) {
        // A workbook without styles gets the smallest one a spreadsheet program accepts.
        stylesPart = "xl/styles.xml";
        pugi::xml_document &doc = package.CreateXml(stylesPart);
        doc.load_string(
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
            "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
            "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
            "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
            "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
            "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
            "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
            "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
            "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
            "</styleSheet>",
            kXmlParseFlags);
        package.SetContentTypeOverride(stylesPart, kStylesType);
        pugi::xml_document *rels = package.XmlIfPresent(TOoxmlPackage::RelsPartName(workbookPart));
        if (!rels)
            throw EReportError(QStringLiteral("Шаблон Excel повреждён: нет связей книги"));
        pugi::xml_node rel = rels->document_element().append_child("Relationship");
        rel.append_attribute("Id") = "rIdKestStyles";
        rel.append_attribute("Type") = kStylesRelation;
        const std::string folder = workbookPart.substr(0, workbookPart.rfind('/') + 1);
        rel.append_attribute("Target") = folder == "xl/" ? "styles.xml" : "/xl/styles.xml";
        package.Touch(TOoxmlPackage::RelsPartName(workbookPart));
    }
    stylesChanged = true;
    return package.Xml(stylesPart).document_element();
}

// A table cell's format: the placeholder's, wrapping its lines, shaded when marked.
int TExcelReportManager::TImpl::TableStyle(int base, bool marked)
{
    const int key = base * 2 + (marked ? 1 : 0);
    const auto known = tableStyles.find(key);
    if (known != tableStyles.end())
        return known->second;
    pugi::xml_node root = Styles();
    const TXmlNames n(root, kSheetUri, kSheetStrictUri);
    if (marked && markFill < 0) {
        pugi::xml_node fills = root.child(n.Name("fills").c_str());
        if (!fills) {
            pugi::xml_node after = root.child(n.Name("fonts").c_str());
            if (!after)
                after = root.child(n.Name("numFmts").c_str());
            fills = after ? root.insert_child_after(n.Name("fills").c_str(), after)
                          : root.prepend_child(n.Name("fills").c_str());
            fills.append_child(n.Name("fill").c_str())
                .append_child(n.Name("patternFill").c_str())
                .append_attribute("patternType")
                = "none";
            fills.append_child(n.Name("fill").c_str())
                .append_child(n.Name("patternFill").c_str())
                .append_attribute("patternType")
                = "gray125";
        }
        pugi::xml_node pattern = fills.append_child(n.Name("fill").c_str()).append_child(n.Name("patternFill").c_str());
        pattern.append_attribute("patternType") = "solid";
        pattern.append_child(n.Name("fgColor").c_str()).append_attribute("rgb") = kMarkFill;
        pattern.append_child(n.Name("bgColor").c_str()).append_attribute("indexed") = 64;
        markFill = CountChildren(fills, n.Name("fill")) - 1;
        SetAttribute(fills, "count", std::to_string(markFill + 1));
    }
    pugi::xml_node formats = root.child(n.Name("cellXfs").c_str());
    if (!formats) {
        pugi::xml_node after = root.child(n.Name("cellStyleXfs").c_str());
        if (!after)
            after = root.child(n.Name("borders").c_str());
        formats = after ? root.insert_child_after(n.Name("cellXfs").c_str(), after)
                        : root.append_child(n.Name("cellXfs").c_str());
    }
    pugi::xml_node model;
    int index = 0;
    const std::string xfName = n.Name("xf");
    for (pugi::xml_node xf : formats.children(xfName.c_str())) {
        if (index++ == base) {
            model = xf;
            break;
        }
    }
    pugi::xml_node copy;
    if (model) {
        copy = formats.append_copy(model);
    } else {
        copy = formats.append_child(n.Name("xf").c_str());
        for (const char *attribute : {"numFmtId", "fontId", "borderId", "xfId"})
            copy.append_attribute(attribute) = 0;
    }
    if (marked) {
        SetAttribute(copy, "fillId", std::to_string(markFill));
        SetAttribute(copy, "applyFill", "1");
    }
    pugi::xml_node alignment = copy.child(n.Name("alignment").c_str());
    if (!alignment)
        alignment = copy.prepend_child(n.Name("alignment").c_str());
    SetAttribute(alignment, "wrapText", "1");
    if (!alignment.attribute("vertical"))
        SetAttribute(alignment, "vertical", "top");
    SetAttribute(copy, "applyAlignment", "1");
    const int created = CountChildren(formats, n.Name("xf")) - 1;
    SetAttribute(formats, "count", std::to_string(created + 1));
    tableStyles[key] = created;
    return created;
}

TCellFont TExcelReportManager::TImpl::FontById(int id)
{
    TCellFont result;
    if (stylesPart.empty() || !package.HasPart(stylesPart))
        return result;
    pugi::xml_node root = package.Xml(stylesPart).document_element();
    const TXmlNames n(root, kSheetUri, kSheetStrictUri);
    const std::string fontName = n.Name("font");
    int index = 0;
    for (pugi::xml_node font : root.child(n.Name("fonts").c_str()).children(fontName.c_str()))
        if (index++ == id) {
            const double size = font.child(n.Name("sz").c_str()).attribute("val").as_double(11);
            result.size = size > 1 && size < 400 ? size : 11;
            const QString name = QString::fromUtf8(font.child(n.Name("name").c_str()).attribute("val").value());
            if (!name.isEmpty())
                result.name = name;
            if (pugi::xml_node bold = font.child(n.Name("b").c_str()))
                result.bold = bold.attribute("val").as_bool(true);
            break;
        }
    return result;
}

TCellFont TExcelReportManager::TImpl::CellFont(int style)
{
    const auto known = fonts.find(style);
    if (known != fonts.end())
        return known->second;
    int fontId = 0;
    if (!stylesPart.empty() && package.HasPart(stylesPart)) {
        pugi::xml_node root = package.Xml(stylesPart).document_element();
        const TXmlNames n(root, kSheetUri, kSheetStrictUri);
        const std::string xfName = n.Name("xf");
        int index = 0;
        for (pugi::xml_node xf : root.child(n.Name("cellXfs").c_str()).children(xfName.c_str()))
            if (index++ == style) {
                fontId = xf.attribute("fontId").as_int();
                break;
            }
    }
    return fonts[style] = FontById(fontId);
}

void TExcelReportManager::TImpl::SetRichText(
    const TSheet &sheet, pugi::xml_node cell, const QString &plain, const QString &bold, const TCellFont &font) const
{
    SetCellText(sheet, cell, QString());
    pugi::xml_node is = cell.child(sheet.is.c_str());
    is.remove_child(is.first_child());
    // A run's properties are all it has: the cell's font is repeated in them.
    for (const auto &[text, strong] : {std::pair<QString, bool>{plain, false}, {bold, true}}) {
        if (text.isEmpty())
            continue;
        pugi::xml_node run = is.append_child(sheet.r.c_str());
        pugi::xml_node properties = run.append_child(sheet.n.Name("rPr").c_str());
        properties.append_child(sheet.n.Name("rFont").c_str()).append_attribute("val")
            = font.name.toStdString().c_str();
        if (strong || font.bold)
            properties.append_child(sheet.n.Name("b").c_str());
        properties.append_child(sheet.n.Name("sz").c_str()).append_attribute("val") = font.size;
        pugi::xml_node t = run.append_child(sheet.t.c_str());
        t.append_attribute("xml:space") = "preserve";
        t.append_child(pugi::node_pcdata).set_value(XmlSafe(text).toStdString().c_str());
    }
}

void TExcelReportManager::TImpl::SetColumnWidth(TSheet &sheet, int column, double width)
{
    double &given = sheet.widths[column];
    if (given >= width)
        return; // an earlier table on the sheet needed more
    given = width;
    const std::string value = QString::number(width, 'f', 2).toStdString();
    pugi::xml_node cols = ChildInOrder(sheet.root, sheet.n, "cols", kSheetOrder);
    const std::string colName = sheet.n.Name("col");
    for (pugi::xml_node col : cols.children(colName.c_str())) {
        const int min = IntAttribute(col, "min", 1), max = IntAttribute(col, "max", min);
        if (min > column) {
            pugi::xml_node made = cols.insert_child_before(colName.c_str(), col);
            made.append_attribute("min") = column;
            made.append_attribute("max") = column;
            made.append_attribute("width") = value.c_str();
            made.append_attribute("customWidth") = 1;
            return;
        }
        if (max < column)
            continue;
        // A span of columns is cut around this one, the others keep what they had.
        if (min < column)
            SetAttribute(cols.insert_copy_before(col, col), "max", std::to_string(column - 1));
        if (max > column)
            SetAttribute(cols.insert_copy_after(col, col), "min", std::to_string(column + 1));
        SetAttribute(col, "min", std::to_string(column));
        SetAttribute(col, "max", std::to_string(column));
        // Never narrower than the template made it: its other rows (labels in merged cells) were laid
        // out for that width.
        if (col.attribute("width").as_double(0) < width)
            SetAttribute(col, "width", value);
        SetAttribute(col, "customWidth", "1");
        col.remove_attribute("hidden");
        return;
    }
    pugi::xml_node made = cols.append_child(colName.c_str());
    made.append_attribute("min") = column;
    made.append_attribute("max") = column;
    made.append_attribute("width") = value.c_str();
    made.append_attribute("customWidth") = 1;
}

void TExcelReportManager::TImpl::DropMergesIn(TSheet &sheet, int firstRow, int lastRow, int firstColumn, int lastColumn)
{
    pugi::xml_node merges = sheet.root.child(sheet.n.Name("mergeCells").c_str());
    if (!merges)
        return;
    for (pugi::xml_node merge = merges.first_child(); merge;) {
        pugi::xml_node next = merge.next_sibling();
        const std::string ref = merge.attribute("ref").value();
        const size_t colon = ref.find(':');
        const auto a = CellRef::Parse(ref.substr(0, colon));
        const auto b = colon == std::string::npos ? a : CellRef::Parse(ref.substr(colon + 1));
        if (a && b && a->first <= lastColumn && b->first >= firstColumn && a->second <= lastRow
            && b->second >= firstRow)
            merges.remove_child(merge); // the table's cells would vanish under it
        merge = next;
    }
    SetAttribute(merges, "count", std::to_string(CountChildren(merges, sheet.n.Name("mergeCell"))));
    if (!merges.first_child())
        sheet.root.remove_child(merges);
}

void TExcelReportManager::TImpl::PrintSetup(TSheet &sheet)
{
    int top = INT_MAX, bottom = 0, left = INT_MAX, right = 0, header = 0;
    // A sheet has one row repeated on its pages: only tables with the same header share it, another
    // table's header over a table would name its columns wrongly.
    bool sameHeaders = true;
    for (const TSheet::TPlaced &placed : sheet.placed) {
        sameHeaders
            = sameHeaders && placed.left == sheet.placed.front().left && placed.headers == sheet.placed.front().headers;
        if (!placed.header.parent() || !placed.last.parent())
            continue; // deleted with a placeholder's row
        const int first = IntAttribute(placed.header, "r"), last = IntAttribute(placed.last, "r");
        if (!header || first < header)
            header = first;
        top = std::min(top, first), bottom = std::max(bottom, last);
        left = std::min(left, placed.left), right = std::max(right, placed.right);
    }
    if (!header)
        return;

    // The print area (where the template sets one) takes in the tables' rows and columns; the
    // header row of the first table repeats on every page when the tables share it.
    pugi::xml_node names = workbook.child(wb.Name("definedNames").c_str());
    const auto findName = [&](const char *name) {
        for (pugi::xml_node item : names.children())
            if (std::strcmp(item.attribute("name").value(), name) == 0
                && IntAttribute(item, "localSheetId", -1) == sheet.localId)
                return item;
        return pugi::xml_node();
    };
    if (pugi::xml_node area = findName("_xlnm.Print_Area")) {
        static const QRegularExpression kRange(
            QStringLiteral("^(.*)!\\$?([A-Za-z]+)\\$?(\\d+):\\$?([A-Za-z]+)\\$?(\\d+)$"));
        const QStringList parts = QString::fromStdString(XmlText(area)).split(QLatin1Char(','));
        QStringList grown;
        for (const QString &part : parts) {
            const QRegularExpressionMatch m = kRange.match(part.trimmed());
            const auto a = m.hasMatch() ? CellRef::Parse((m.captured(2) + m.captured(3)).toStdString()) : std::nullopt;
            const auto b = m.hasMatch() ? CellRef::Parse((m.captured(4) + m.captured(5)).toStdString()) : std::nullopt;
            if (!a || !b || (parts.size() > 1 && (b->second < top || a->second > bottom))) {
                grown << part;
                continue;
            }
            const int c1 = std::min(a->first, left), r1 = std::min(a->second, top);
            const int c2 = std::max(b->first, right), r2 = std::max(b->second, bottom);
            grown << QStringLiteral("%1!$%2$%3:$%4$%5")
                         .arg(m.captured(1), QString::fromStdString(CellRef::ColumnName(c1)))
                         .arg(r1)
                         .arg(QString::fromStdString(CellRef::ColumnName(c2)))
                         .arg(r2);
        }
        const std::string text = grown.join(QLatin1Char(',')).toStdString();
        if (text != XmlText(area)) {
            SetXmlText(area, text);
            workbookChanged = true;
        }
    }
    if (sameHeaders && !findName("_xlnm.Print_Titles")) {
        if (!names)
            names = ChildInOrder(workbook, wb, "definedNames", kWorkbookOrder);
        pugi::xml_node titles = names.append_child(wb.Name("definedName").c_str());
        titles.append_attribute("name") = "_xlnm.Print_Titles";
        titles.append_attribute("localSheetId") = sheet.localId;
        SetXmlText(titles, QuotedSheet(sheet.name) + "!$" + std::to_string(header) + ":$" + std::to_string(header));
        workbookChanged = true;
    }

    // Fitted to the page's width, turned landscape when the printed columns are wider than a
    // portrait page holds.
    const TXmlNames &n = sheet.n;
    pugi::xml_node properties = ChildInOrder(sheet.root, n, "sheetPr", kSheetOrder);
    pugi::xml_node fit = properties.child(n.Name("pageSetUpPr").c_str());
    if (!fit)
        fit = properties.append_child(n.Name("pageSetUpPr").c_str());
    SetAttribute(fit, "fitToPage", "1");
    pugi::xml_node setup = ChildInOrder(sheet.root, n, "pageSetup", kSheetOrder);
    SetAttribute(setup, "fitToWidth", "1");
    SetAttribute(setup, "fitToHeight", "0");
    pugi::xml_node format = sheet.root.child(n.Name("sheetFormatPr").c_str());
    const double defaultWidth = format.attribute("defaultColWidth")
        ? format.attribute("defaultColWidth").as_double(8.43)
        : format.attribute("baseColWidth").as_double(8) + 0.71;
    const double digit = std::max(1.0, TMeasure(FontById(0)).Width(QStringLiteral("0")));
    double points = 0;
    const std::string colName = n.Name("col");
    // The tables' own columns as wide as their content needs decide; the rest of the page scales.
    for (int column = left; column <= right; ++column) {
        if (const auto content = sheet.widths.find(column); content != sheet.widths.end()) {
            points += (content->second * digit + 5) * 0.75;
            continue;
        }
        double width = defaultWidth;
        bool hidden = false;
        for (pugi::xml_node col : sheet.root.child(n.Name("cols").c_str()).children(colName.c_str()))
            if (IntAttribute(col, "min") <= column && column <= IntAttribute(col, "max")) {
                width = col.attribute("width").as_double(defaultWidth);
                hidden = col.attribute("hidden").as_bool();
                break;
            }
        if (!hidden)
            points += (width * digit + 5) * 0.75;
    }
    const double paper = IntAttribute(setup, "paperSize", 9) == 1 ? 612 : 595; // Letter, else A4
    pugi::xml_node margins = sheet.root.child(n.Name("pageMargins").c_str());
    const double printable
        = paper - 72 * (margins.attribute("left").as_double(0.7) + margins.attribute("right").as_double(0.7));
    if (points > printable)
        SetAttribute(setup, "orientation", "landscape");
}

void TExcelReportManager::TImpl::Save()
{
    int sharedCount = 0;
    for (TSheet &sheet : sheets)
        if (!sheet.placed.empty()) {
            PrintSetup(sheet);
            sheet.placed.clear();
        }
    for (TSheet &sheet : sheets) {
        int minRow = 0, maxRow = 0, minColumn = 0, maxColumn = 0;
        for (pugi::xml_node row : sheet.sheetData.children(sheet.row.c_str()))
            for (pugi::xml_node cell : row.children(sheet.c.c_str())) {
                if (std::strcmp(cell.attribute("t").value(), "s") == 0)
                    ++sharedCount;
                if (!sheet.changed)
                    continue;
                const auto ref = CellRef::Parse(cell.attribute("r").value());
                if (!ref)
                    continue;
                minColumn = minColumn ? std::min(minColumn, ref->first) : ref->first;
                maxColumn = std::max(maxColumn, ref->first);
                minRow = minRow ? std::min(minRow, ref->second) : ref->second;
                maxRow = std::max(maxRow, ref->second);
            }
        if (!sheet.changed)
            continue;
        if (pugi::xml_node dimension = sheet.root.child(sheet.n.Name("dimension").c_str()))
            SetAttribute(dimension, "ref",
                minRow ? CellRef::Format(minColumn, minRow)
                        + (minRow == maxRow && minColumn == maxColumn ? std::string()
                                                                      : ":" + CellRef::Format(maxColumn, maxRow))
                       : std::string("A1"));
        package.Touch(sheet.part);
    }
    if (!sharedPart.empty())
        if (pugi::xml_document *sst = package.XmlIfPresent(sharedPart))
            if (sst->document_element().attribute("count")) {
                SetAttribute(sst->document_element(), "count", std::to_string(sharedCount));
                package.Touch(sharedPart);
            }
    if (formulasMoved) {
        // The calculation order names cells that have moved; the spreadsheet program rebuilds it.
        for (const auto &[id, rel] : package.Relations(workbookPart)) {
            if (rel.external || !EndsWith(rel.type, "/calcChain"))
                continue;
            package.RemovePart(rel.target);
            package.SetContentTypeOverride(rel.target, std::string());
            pugi::xml_node rels = package.Xml(TOoxmlPackage::RelsPartName(workbookPart)).document_element();
            for (pugi::xml_node item : rels.children("Relationship"))
                if (id == item.attribute("Id").value()) {
                    rels.remove_child(item);
                    break;
                }
            package.Touch(TOoxmlPackage::RelsPartName(workbookPart));
        }
        pugi::xml_node calc = workbook.child(wb.Name("calcPr").c_str());
        if (!calc) {
            pugi::xml_node after = workbook.child(wb.Name("definedNames").c_str());
            if (!after)
                after = workbook.child(wb.Name("sheets").c_str());
            calc = workbook.insert_child_after(wb.Name("calcPr").c_str(), after);
        }
        SetAttribute(calc, "fullCalcOnLoad", "1");
        workbookChanged = true;
    }
    if (workbookChanged)
        package.Touch(workbookPart);
    if (stylesChanged)
        package.Touch(stylesPart);
}

TExcelReportManager::TExcelReportManager() : TReportManager(QStringLiteral(".xlsx")), d_(std::make_unique<TImpl>()) { }

TExcelReportManager::~TExcelReportManager() = default;

void TExcelReportManager::OpenDoc(const QString &path)
{
    d_->open = false;
    d_->package.OpenFile(path, kWhat, ShownName(path));
    d_->Open();
}

void TExcelReportManager::OpenParts(const std::map<std::string, QByteArray> &parts)
{
    d_->open = false;
    d_->package.OpenParts(parts, kWhat);
    d_->Open();
}

void TExcelReportManager::OpenBytes(const QByteArray &bytes)
{
    d_->open = false;
    d_->package.OpenBytes(bytes, kWhat);
    d_->Open();
}

std::map<std::string, std::string> TExcelReportManager::ChangedParts()
{
    d_->RequireOpen();
    d_->Save();
    return d_->package.Serialise();
}

void TExcelReportManager::ReplaceTagWithValue(const QString &tag, const QString &value, int /*replaceMode*/)
{
    d_->RequireOpen();
    if (tag.isEmpty())
        return;
    const QString clean = CleanValue(value);
    const bool caption = tag.compare(QStringLiteral("#заголовок"), Qt::CaseInsensitive) == 0;
    if (caption) {
        if (const auto found = d_->Find(tag)) {
            TImpl::TSheet &sheet = d_->sheets[size_t(found->sheet)];
            QString text = d_->CellText(sheet, found->cell);
            d_->SetCellText(sheet, found->cell, text.replace(tag, clean, Qt::CaseInsensitive));
            sheet.changed = true;
        } else {
            d_->pendingCaption = clean;
        }
        return;
    }
    // A header value goes into every cell that names it (the protocol number at the top and at the
    // signature), tables excepted.
    bool found = false;
    for (TImpl::TSheet &sheet : d_->sheets)
        for (pugi::xml_node row : sheet.sheetData.children(sheet.row.c_str())) {
            if (d_->tableRows.count(row))
                continue;
            for (pugi::xml_node cell : row.children(sheet.c.c_str())) {
                QString text = d_->CellText(sheet, cell);
                if (!text.contains(tag, Qt::CaseInsensitive))
                    continue;
                d_->SetCellText(sheet, cell, text.replace(tag, clean, Qt::CaseInsensitive));
                sheet.changed = true;
                found = true;
            }
        }
    if (std::find(d_->tagsSeen.begin(), d_->tagsSeen.end(), tag) == d_->tagsSeen.end())
        d_->tagsSeen.push_back(tag);
    for (TImpl::TSheet &sheet : d_->sheets)
        found = d_->ReplaceInHeaders(sheet, tag, clean) || found;
    // As in a Word report: a place the template keeps for a value nobody entered is named, not left blank unseen.
    if (found && clean.trimmed().isEmpty() && !tag.startsWith(QLatin1Char('#')) && !d_->emptied.contains(tag))
        d_->emptied << tag;
}

QStringList TExcelReportManager::UnfilledPlaceholders()
{
    return d_->Unfilled();
}

// Page headers and footers: every occurrence, the value's ampersands doubled so that they print
// rather than start a code (&P, &N, &D keep working).
bool TExcelReportManager::TImpl::ReplaceInHeaders(TSheet &sheet, const QString &tag, const QString &value)
{
    bool found = false;
    pugi::xml_node headers = sheet.root.child(sheet.n.Name("headerFooter").c_str());
    QString escaped = value;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
    for (pugi::xml_node text : headers.children()) {
        if (text.type() != pugi::node_element)
            continue;
        QString content = QString::fromStdString(XmlText(text));
        if (!content.contains(tag, Qt::CaseInsensitive))
            continue;
        SetXmlText(text, XmlSafe(content.replace(tag, escaped, Qt::CaseInsensitive)).toStdString());
        sheet.changed = true;
        found = true;
    }
    return found;
}

// Cells and page headers are filled; notes and drawn text (text boxes, shapes, charts' titles) are
// not: a placeholder there stays as the template wrote it and is named to the user, as is one filled
// with an empty value.
QStringList TExcelReportManager::TImpl::Unfilled()
{
    QString text;
    for (const TSheet &sheet : sheets)
        for (const auto &[id, rel] : package.Relations(sheet.part)) {
            if (rel.external || !(EndsWith(rel.type, "/comments") || EndsWith(rel.type, "/drawing")))
                continue;
            pugi::xml_document *part = package.XmlIfPresent(rel.target);
            if (!part)
                continue;
            std::vector<pugi::xml_node> stack{part->document_element()};
            while (!stack.empty()) {
                pugi::xml_node node = stack.back();
                stack.pop_back();
                for (pugi::xml_node child : node.children()) {
                    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
                        text += QString::fromUtf8(child.value());
                    else if (child.type() == pugi::node_element)
                        stack.push_back(child);
                }
            }
        }
    QStringList left = emptied;
    for (const QString &tag : tagsSeen)
        if (text.contains(tag, Qt::CaseInsensitive) && !left.contains(tag))
            left << tag;
    return left;
}

void TExcelReportManager::AddTable(const TReportTable &table, const TReportMarks &redCells)
{
    d_->RequireOpen();
    const int rows = table.RowCount(), columns = table.ColumnCount();
    auto found = d_->Find(QStringLiteral("#таблица"));
    int sheetIndex = 0, top = 0, left = 1, style = 0;
    pugi::xml_node topRow;
    if (found) {
        sheetIndex = found->sheet;
        top = found->rowNumber;
        left = found->column;
        style = IntAttribute(found->cell, "s");
        topRow = found->row;
        TImpl::TSheet &sheet = d_->sheets[size_t(sheetIndex)];
        if (top + rows - 1 + (d_->pendingCaption.isEmpty() ? 0 : 1) > kMaxRow)
            throw EReportError(QStringLiteral("Таблица «%1» не помещается на лист Excel").arg(table.title));
        if (!d_->pendingCaption.isEmpty()) {
            // The template has no caption placeholder for this table: a row above it holds one.
            d_->Shift(sheetIndex, CellRef::TRowShift{top, 1});
            pugi::xml_node captionRow
                = d_->InsertRowsAfter(sheet, topRow.previous_sibling(sheet.row.c_str()), top, 1, pugi::xml_node());
            d_->SetCellText(sheet, d_->CellAt(sheet, captionRow, top, left), d_->pendingCaption);
            ++top;
        }
        d_->SetCellText(sheet, found->cell, QString());
        if (rows > 1)
            d_->Shift(sheetIndex, CellRef::TRowShift{top + 1, rows - 1});
        d_->InsertRowsAfter(sheet, topRow, top + 1, rows - 1, topRow);
    } else {
        // A template without the placeholder still gets the table: below everything on the first
        // sheet, with its caption.
        TImpl::TSheet &sheet = d_->sheets[0];
        pugi::xml_node last;
        for (pugi::xml_node row : sheet.sheetData.children(sheet.row.c_str()))
            last = row;
        top = (last ? IntAttribute(last, "r") + 1 : 0) + 1;
        if (top + rows > kMaxRow)
            throw EReportError(QStringLiteral("Таблица «%1» не помещается на лист Excel").arg(table.title));
        if (!d_->pendingCaption.isEmpty()) {
            last = d_->InsertRowsAfter(sheet, last, top, 1, pugi::xml_node());
            d_->SetCellText(sheet, d_->CellAt(sheet, last, top, left), d_->pendingCaption);
            ++top;
        }
        topRow = d_->InsertRowsAfter(sheet, last, top, 1, pugi::xml_node());
        d_->InsertRowsAfter(sheet, topRow, top + 1, rows - 1, pugi::xml_node());
    }
    d_->pendingCaption.clear();

    TImpl::TSheet &sheet = d_->sheets[size_t(sheetIndex)];
    sheet.changed = true;
    d_->DropMergesIn(sheet, top, top + rows - 1, left, left + columns - 1);
    // Spreadsheet programs do not size rows to wrapped text when they open a file: a row is given the
    // height of its most lines (an output cell's three), and a column the width of its widest line.
    const TCellFont font = d_->CellFont(style);
    TCellFont boldFont = font;
    boldFont.bold = true;
    TMeasure measure(font), boldMeasure(boldFont);
    const double lineHeight = font.size * 1.3;
    std::vector<double> widths(size_t(columns), 0.0);
    pugi::xml_node row = topRow, lastRow = topRow;
    for (int i = 0; i < rows && row; ++i) {
        row.remove_attribute("spans"); // a hint only, and no longer true
        d_->tableRows.insert(row);
        int lines = 1;
        for (int o = 0; o < columns; ++o) {
            const QStringList cellLines = table.CellLines(i, o);
            const bool marked = redCells.IsSet(i, o);
            lines = std::max<int>(lines, int(cellLines.size()));
            pugi::xml_node cell = d_->CellAt(sheet, row, top + i, left + o);
            if (marked) {
                // Shading vanishes on a black-and-white printout: the error is bold and starred too.
                const QString error = cellLines.last() + QLatin1Char('*');
                d_->SetRichText(sheet, cell,
                    cellLines.mid(0, cellLines.size() - 1).join(QLatin1Char('\n'))
                        + (cellLines.size() > 1 ? QStringLiteral("\n") : QString()),
                    error, font);
                widths[size_t(o)] = std::max(widths[size_t(o)], boldMeasure.Width(error));
            } else {
                d_->SetCellText(sheet, cell, cellLines.join(QLatin1Char('\n')));
            }
            for (const QString &line : cellLines)
                widths[size_t(o)] = std::max(widths[size_t(o)], measure.Width(line));
            SetAttribute(cell, "s", std::to_string(d_->TableStyle(style, marked)));
        }
        const double height = lines * lineHeight + 3;
        if (height > row.attribute("ht").as_double(0)) {
            SetAttribute(row, "ht", QString::number(height, 'f', 1).toStdString());
            SetAttribute(row, "customHeight", "1");
        }
        lastRow = row;
        row = row.next_sibling(sheet.row.c_str());
    }
    // Excel's column width counts the widths of the default font's digit, with a few pixels of margin.
    const double digit = std::max(1.0, TMeasure(d_->FontById(0)).Width(QStringLiteral("0")));
    for (int o = 0; o < columns; ++o)
        d_->SetColumnWidth(sheet, left + o, std::ceil((widths[size_t(o)] + 10) / digit * 100) / 100);

    // Under the table: its permissible error and what a star means.
    QStringList notes;
    if (!table.permissible.isEmpty())
        notes << QStringLiteral("Пределы допускаемой основной погрешности: ") + table.permissible;
    if (!redCells.IsEmpty())
        notes << QStringLiteral("* — погрешность превышает допускаемую");
    if (!notes.isEmpty()) {
        const int below = top + rows;
        d_->Shift(sheetIndex, CellRef::TRowShift{below, int(notes.size())});
        pugi::xml_node noteRow = lastRow;
        for (int k = 0; k < notes.size(); ++k) {
            noteRow = d_->InsertRowsAfter(sheet, noteRow, below + k, 1, pugi::xml_node());
            d_->tableRows.insert(noteRow);
            pugi::xml_node cell = d_->CellAt(sheet, noteRow, below + k, left);
            d_->SetCellText(sheet, cell, notes[k]);
        }
    }
    QStringList headers;
    for (int o = 0; o < columns; ++o)
        headers << table.Cell(0, o);
    sheet.placed.push_back({topRow, lastRow, left, left + columns - 1, headers});
}

void TExcelReportManager::RemoveTableTagsFromReport()
{
    d_->RequireOpen();
    for (const QString &tag : {QStringLiteral("#заголовок"), QStringLiteral("#таблица")}) {
        while (const auto found = d_->Find(tag)) {
            TImpl::TSheet &sheet = d_->sheets[size_t(found->sheet)];
            sheet.sheetData.remove_child(found->row);
            d_->Shift(found->sheet, CellRef::TRowShift{found->rowNumber, -1});
        }
    }
}

void TExcelReportManager::SaveAndCloseDoc(const QString &path)
{
    d_->RequireOpen();
    d_->Save();
    d_->open = false;
    d_->package.Commit();
    Publish(path);
}
