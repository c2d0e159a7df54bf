#include "verification/report/excelreportmanager.h"

#include "verification/report/cellref.h"
#include "verification/report/ooxmlpackage.h"
#include "verification/report/reporterror.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
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
    std::map<int, int> markedStyles;
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
    int MarkedStyle(int base);
    double FontSize(int style);
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
    markedStyles.clear();
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
    for (pugi::xml_node sheet : workbook.child(wb.Name("sheets").c_str()).children(sheetName.c_str())) {
        const auto rel = relations.find(sheet.attribute(rels.Name("id").c_str()).value());
        if (rel == relations.end() || rel->second.external || !EndsWith(rel->second.type, "/worksheet"))
            continue; // chart sheets and the like hold no cells
        TSheet entry;
        entry.name = sheet.attribute("name").value();
        entry.part = rel->second.target;
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
        if (moved.empty())
            sheet.root.remove_child(format);
        else
            SetAttribute(format, "sqref", moved);
        format = next;
    }
    if (pugi::xml_node validations = sheet.root.child(n.Name("dataValidations").c_str())) {
        for (pugi::xml_node item = validations.first_child(); item;) {
            pugi::xml_node next = item.next_sibling();
            if (item.attribute("sqref")) {
                const std::string moved = CellRef::ShiftRangeList(item.attribute("sqref").value(), shift);
                if (moved.empty())
                    validations.remove_child(item);
                else
                    SetAttribute(item, "sqref", moved);
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
                    for (pugi::xml_node cell : row.children(sheet.c.c_str()))
                        if (const auto ref = CellRef::Parse(cell.attribute("r").value()))
                            SetAttribute(cell, "r", CellRef::Format(ref->first, *moved));
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

int TExcelReportManager::TImpl::MarkedStyle(int base)
{
    const auto known = markedStyles.find(base);
    if (known != markedStyles.end())
        return known->second;
    pugi::xml_node root = Styles();
    const TXmlNames n(root, kSheetUri, kSheetStrictUri);
    if (markFill < 0) {
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
    SetAttribute(copy, "fillId", std::to_string(markFill));
    SetAttribute(copy, "applyFill", "1");
    const int created = CountChildren(formats, n.Name("xf")) - 1;
    SetAttribute(formats, "count", std::to_string(created + 1));
    markedStyles[base] = created;
    return created;
}

double TExcelReportManager::TImpl::FontSize(int style)
{
    if (stylesPart.empty() || !package.HasPart(stylesPart))
        return 11;
    pugi::xml_node root = package.Xml(stylesPart).document_element();
    const TXmlNames n(root, kSheetUri, kSheetStrictUri);
    const std::string xfName = n.Name("xf"), fontName = n.Name("font");
    int fontId = 0, index = 0;
    for (pugi::xml_node xf : root.child(n.Name("cellXfs").c_str()).children(xfName.c_str()))
        if (index++ == style) {
            fontId = xf.attribute("fontId").as_int();
            break;
        }
    index = 0;
    for (pugi::xml_node font : root.child(n.Name("fonts").c_str()).children(fontName.c_str()))
        if (index++ == fontId) {
            const double size = font.child(n.Name("sz").c_str()).attribute("val").as_double(11);
            return size > 1 && size < 400 ? size : 11;
        }
    return 11;
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

void TExcelReportManager::TImpl::Save()
{
    int sharedCount = 0;
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
    bool any = false;
    for (int s = 0; s < int(d_->sheets.size()); ++s) {
        const auto found = d_->Find(tag, caption ? -1 : s);
        if (!found)
            continue;
        TImpl::TSheet &sheet = d_->sheets[size_t(found->sheet)];
        QString text = d_->CellText(sheet, found->cell);
        d_->SetCellText(sheet, found->cell, text.replace(tag, clean, Qt::CaseInsensitive));
        sheet.changed = true;
        any = true;
        if (caption)
            break;
    }
    if (caption && !any)
        d_->pendingCaption = clean;
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
    // Spreadsheet programs do not size rows to wrapped text when they open a file: a row is given
    // the height of its most parts (an output cell's three, separated by runs of blanks).
    const double lineHeight = d_->FontSize(style) * 1.35;
    static const QRegularExpression kPartGap(QStringLiteral("\\s{2,}"));
    pugi::xml_node row = topRow;
    for (int i = 0; i < rows && row; ++i) {
        row.remove_attribute("spans"); // a hint only, and no longer true
        d_->tableRows.insert(row);
        int lines = i == 0 ? 2 : 1;
        for (int o = 0; o < columns; ++o)
            lines = std::max<int>(lines, int(table.Cell(i, o).trimmed().split(kPartGap).size()));
        const double height = lines * lineHeight + 2;
        if (height > row.attribute("ht").as_double(0)) {
            SetAttribute(row, "ht", QString::number(height, 'f', 1).toStdString());
            SetAttribute(row, "customHeight", "1");
        }
        for (int o = 0; o < columns; ++o) {
            pugi::xml_node cell = d_->CellAt(sheet, row, top + i, left + o);
            d_->SetCellText(sheet, cell, table.Cell(i, o));
            const int cellStyle = redCells.IsSet(i, o) ? d_->MarkedStyle(style) : style;
            if (cellStyle)
                SetAttribute(cell, "s", std::to_string(cellStyle));
            else
                cell.remove_attribute("s");
        }
        row = row.next_sibling(sheet.row.c_str());
    }
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
