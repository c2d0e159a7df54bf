#include "verification/report/wordreportmanager.h"

#include "verification/report/ooxmlpackage.h"
#include "verification/report/reporterror.h"
#include "verification/report/wordlayout.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

namespace {

constexpr const char *kWordUri = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char *kWordStrictUri = "http://purl.oclc.org/ooxml/wordprocessingml/main";
constexpr const char *kMarkupCompatibilityUri = "http://schemas.openxmlformats.org/markup-compatibility/2006";
constexpr const char *kDocumentType
    = "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
constexpr const char *kTemplateType
    = "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml";
const QString kWhat = QStringLiteral("Шаблон Word");
// The left and right margin of a table cell (twentieths of a point).
constexpr int kCellMargin = 57;

bool Is(pugi::xml_node node, const std::string &name)
{
    return node.type() == pugi::node_element && name == node.name();
}

bool EndsWith(const std::string &text, const char *tail)
{
    const size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// The next node in document order below `root`; `descend` false skips the children of `node`.
pugi::xml_node NextInOrder(pugi::xml_node node, pugi::xml_node root, bool descend)
{
    if (descend && node.first_child())
        return node.first_child();
    while (node && node != root) {
        if (node.next_sibling())
            return node.next_sibling();
        node = node.parent();
    }
    return pugi::xml_node();
}

pugi::xml_node NextElement(pugi::xml_node node)
{
    for (node = node.next_sibling(); node; node = node.next_sibling())
        if (node.type() == pugi::node_element)
            return node;
    return pugi::xml_node();
}

} // namespace

struct TWordReportManager::TImpl {
    TOoxmlPackage package;
    std::string mainPart;
    pugi::xml_node body;
    TXmlNames w;
    std::string fallback; // mc:Fallback: content a reader of the choice never shows
    std::string tableStyleId;
    // A paragraph style of the table cells' layout (no spacing, no indent), added to the template's
    // styles so that a long table does not repeat it in every cell; empty: written in each cell.
    std::string cellStyleId;
    // The names used in the text walk, resolved once.
    std::string p, r, t, tab, ptab, br, cr, noBreakHyphen, sym, del, moveFrom, pPr, rPr, txbxContent, tbl, sectPr,
        proofErr, lastRenderedPageBreak, smartTag, smartTagPr;
    // Where the last placeholder was found (a paragraph and an offset in its text, or a table put
    // in; a null node is the start of the document).
    pugi::xml_node cursorNode;
    int cursorOffset = 0;
    QString pendingCaption; // a caption whose placeholder the template does not have
    // Tables this writer put in: their cells are data, never searched for placeholders.
    std::set<pugi::xml_node> tables;
    // The font of text without one of its own (the template's default paragraph font).
    QString defaultFont = QStringLiteral("Times New Roman");
    double defaultPoints = 10;
    // Page headers and footers: their placeholders are filled everywhere they occur.
    std::vector<std::string> marginalParts;
    // Placeholders found in the template whose value was empty.
    QStringList unfilled;
    // The paragraphs ending the sections put round landscape tables (the one before, the one after).
    std::vector<std::pair<pugi::xml_node, pugi::xml_node>> landscapeBreaks;

    struct TSegment {
        pugi::xml_node text; // null for a tab, a break and the like: one character, never replaced
        int start = 0;
        QString value;
    };
    struct TParagraph {
        QString text;
        std::vector<TSegment> segments;
    };

    void Open();
    void ResolveNames();
    TParagraph Collect(pugi::xml_node paragraph) const;
    std::optional<std::pair<pugi::xml_node, int>> Find(const QString &tag, pugi::xml_node from, int offset) const;
    void Replace(pugi::xml_node paragraph, int start, int length, const QString &value) const;
    bool IsBlankAndPlain(pugi::xml_node paragraph) const;
    std::vector<pugi::xml_node> ReplaceAll(const QString &tag, const QString &value, pugi::xml_node root = {});
    int ReplaceInMarginals(const QString &tag, const QString &value);
    void BuildTable(pugi::xml_node tbl, const TReportTable &table, const std::vector<QStringList> &lines,
        const std::vector<std::pair<int, int>> &group, double points, bool writeSize) const;
    pugi::xml_node PlaceTable(pugi::xml_node tbl, const TReportTable &table);
    pugi::xml_node SectionOf(pugi::xml_node top) const;
    TWordPageSpace PageSpace(pugi::xml_node section, bool canTurn) const;
    void JoinLandscapeSections();
    pugi::xml_node PlaceChart(pugi::xml_node after, const QByteArray &png, int textWidth);
    std::string AddPicture(const QByteArray &png);
    int pictures = 0;
    void ReadDefaultFont(pugi::xml_node styles);
    void AddCellStyle(const std::string &part, pugi::xml_node styles);
    pugi::xml_node InsertParagraph(pugi::xml_node parent, pugi::xml_node before, const QString &text) const;
    void RequireOpen() const
    {
        if (!body)
            throw EReportError(QStringLiteral("Документ Word не открыт"));
    }
};

void TWordReportManager::TImpl::ResolveNames()
{
    p = w.Name("p"), r = w.Name("r"), t = w.Name("t"), tab = w.Name("tab"), ptab = w.Name("ptab");
    br = w.Name("br"), cr = w.Name("cr"), noBreakHyphen = w.Name("noBreakHyphen"), sym = w.Name("sym");
    del = w.Name("del"), moveFrom = w.Name("moveFrom"), pPr = w.Name("pPr"), rPr = w.Name("rPr");
    txbxContent = w.Name("txbxContent"), tbl = w.Name("tbl"), sectPr = w.Name("sectPr");
    proofErr = w.Name("proofErr"), lastRenderedPageBreak = w.Name("lastRenderedPageBreak");
    smartTag = w.Name("smartTag"), smartTagPr = w.Name("smartTagPr");
}

void TWordReportManager::TImpl::Open()
{
    mainPart = package.MainPart();
    const std::string type = package.ContentType(mainPart);
    if (type == kTemplateType)
        package.SetContentTypeOverride(mainPart, kDocumentType); // the report is a document, not a template
    else if (type != kDocumentType)
        throw EReportError(QStringLiteral("Шаблон Word должен быть документом .docx или шаблоном .dotx "
                                          "(без макросов); этот файл содержит «%1»")
                               .arg(QString::fromStdString(type)));
    pugi::xml_node root = package.Xml(mainPart).document_element();
    w = TXmlNames(root, kWordUri, kWordStrictUri);
    if (!w.found)
        throw EReportError(QStringLiteral("Шаблон Word повреждён: основная часть не является документом Word"));
    ResolveNames();
    const TXmlNames mc(root, kMarkupCompatibilityUri);
    fallback = mc.found ? mc.Name("Fallback") : std::string("\x01");
    if (!Is(root, w.Name("document")) || !(body = root.child(w.Name("body").c_str())))
        throw EReportError(QStringLiteral("Шаблон Word повреждён: в документе нет текста"));

    cursorNode = pugi::xml_node();
    cursorOffset = 0;
    tables.clear();
    pendingCaption.clear();
    marginalParts.clear();
    unfilled.clear();
    landscapeBreaks.clear();
    defaultFont = QStringLiteral("Times New Roman");
    defaultPoints = 10;
    pictures = 0;
    cellStyleId.clear();
    // The table style of the template: "Table Grid" by its built-in name, or by its Russian one.
    for (const auto &[id, rel] : package.Relations(mainPart)) {
        if (!rel.external && (EndsWith(rel.type, "/header") || EndsWith(rel.type, "/footer"))
            && package.HasPart(rel.target))
            marginalParts.push_back(rel.target);
        if (rel.external || !EndsWith(rel.type, "/styles"))
            continue;
        pugi::xml_document *styles = package.XmlIfPresent(rel.target);
        if (!styles)
            continue;
        ReadDefaultFont(styles->document_element());
        if (TXmlNames(styles->document_element(), kWordUri, kWordStrictUri).Prefix() == w.Prefix())
            AddCellStyle(rel.target, styles->document_element());
        const std::string style = w.Name("style"), name = w.Name("name"), type = w.Name("type"), val = w.Name("val"),
                          styleId = w.Name("styleId");
        for (pugi::xml_node s : styles->document_element().children(style.c_str())) {
            if (std::strcmp(s.attribute(type.c_str()).value(), "table") != 0)
                continue;
            const QString styleName = QString::fromUtf8(s.child(name.c_str()).attribute(val.c_str()).value()).trimmed();
            if (styleName.compare(QStringLiteral("Table Grid"), Qt::CaseInsensitive) == 0
                || styleName.compare(QStringLiteral("Сетка таблицы"), Qt::CaseInsensitive) == 0) {
                tableStyleId = s.attribute(styleId.c_str()).value();
                break;
            }
        }
    }
    std::sort(marginalParts.begin(), marginalParts.end());
    marginalParts.erase(std::unique(marginalParts.begin(), marginalParts.end()), marginalParts.end());
}

void TWordReportManager::TImpl::AddCellStyle(const std::string &part, pugi::xml_node styles)
{
    const std::string style = w.Name("style"), styleId = w.Name("styleId"), val = w.Name("val");
    std::set<std::string> ids;
    for (pugi::xml_node s : styles.children(style.c_str()))
        ids.insert(s.attribute(styleId.c_str()).value());
    std::string id = "KestTableCell";
    for (int k = 2; ids.count(id); ++k)
        id = "KestTableCell" + std::to_string(k);
    pugi::xml_node added = styles.append_child(style.c_str());
    added.append_attribute(w.Name("type").c_str()) = "paragraph";
    added.append_attribute(w.Name("customStyle").c_str()) = "1";
    added.append_attribute(styleId.c_str()) = id.c_str();
    added.append_child(w.Name("name").c_str()).append_attribute(val.c_str()) = "Kest Table Cell";
    pugi::xml_node props = added.append_child(pPr.c_str());
    pugi::xml_node space = props.append_child(w.Name("spacing").c_str());
    space.append_attribute(w.Name("before").c_str()) = 0;
    space.append_attribute(w.Name("after").c_str()) = 0;
    space.append_attribute(w.Name("line").c_str()) = 240;
    space.append_attribute(w.Name("lineRule").c_str()) = "auto";
    pugi::xml_node indent = props.append_child(w.Name("ind").c_str());
    indent.append_attribute(w.Name("left").c_str()) = 0;
    indent.append_attribute(w.Name("right").c_str()) = 0;
    indent.append_attribute(w.Name("firstLine").c_str()) = 0;
    package.Touch(part);
    cellStyleId = id;
}

void TWordReportManager::TImpl::ReadDefaultFont(pugi::xml_node styles)
{
    pugi::xml_node props
        = styles.child(w.Name("docDefaults").c_str()).child(w.Name("rPrDefault").c_str()).child(rPr.c_str());
    const pugi::xml_node fonts = props.child(w.Name("rFonts").c_str());
    const QString family = QString::fromUtf8(fonts.attribute(w.Name("ascii").c_str()).value()).trimmed();
    if (!family.isEmpty())
        defaultFont = family;
    const double halfPoints = std::atof(props.child(w.Name("sz").c_str()).attribute(w.Name("val").c_str()).value());
    if (halfPoints >= 2)
        defaultPoints = halfPoints / 2;
}

TWordReportManager::TImpl::TParagraph TWordReportManager::TImpl::Collect(pugi::xml_node paragraph) const
{
    TParagraph result;
    pugi::xml_node node = paragraph.first_child();
    while (node) {
        bool descend = true;
        if (node.type() == pugi::node_element) {
            const char *name = node.name();
            if (p == name || del == name || moveFrom == name || pPr == name || rPr == name || txbxContent == name
                || fallback == name) {
                descend = false;
            } else if (t == name) {
                const QString value = QString::fromUtf8(XmlText(node).c_str());
                result.segments.push_back({node, int(result.text.size()), value});
                result.text += value;
                descend = false;
            } else if (tab == name || ptab == name || br == name || cr == name || noBreakHyphen == name
                || sym == name) {
                const QChar mark = noBreakHyphen == name ? QLatin1Char('-')
                    : (tab == name || ptab == name)      ? QLatin1Char('\t')
                                                         : QLatin1Char('\n');
                result.segments.push_back({pugi::xml_node(), int(result.text.size()), QString(mark)});
                result.text += mark;
                descend = false;
            }
        }
        node = NextInOrder(node, paragraph, descend);
    }
    return result;
}

std::optional<std::pair<pugi::xml_node, int>> TWordReportManager::TImpl::Find(
    const QString &tag, pugi::xml_node from, int offset) const
{
    pugi::xml_node node = from ? from : body.first_child();
    bool first = true;
    while (node) {
        bool descend = true;
        if (node.type() == pugi::node_element) {
            if (fallback == node.name() || (tbl == node.name() && tables.count(node))) {
                descend = false;
            } else if (p == node.name()) {
                const int at = Collect(node).text.indexOf(tag, first && node == from ? offset : 0, Qt::CaseInsensitive);
                if (at >= 0)
                    return std::make_pair(node, at);
            } else if (first && node == from) {
                descend = false; // a table put in at the cursor: carry on after it
            }
        }
        first = false;
        node = NextInOrder(node, body, descend);
    }
    return std::nullopt;
}

void TWordReportManager::TImpl::Replace(pugi::xml_node paragraph, int start, int length, const QString &value) const
{
    const TParagraph text = Collect(paragraph);
    const int end = start + length;
    bool placed = false;
    for (const TSegment &segment : text.segments) {
        const int segmentEnd = segment.start + int(segment.value.size());
        if (!segment.text || segmentEnd <= start || segment.start >= end)
            continue;
        const int from = std::max(start, segment.start) - segment.start;
        const int to = std::min(end, segmentEnd) - segment.start;
        // The value takes the formatting of the run the placeholder starts in.
        const QString updated = segment.value.left(from) + (placed ? QString() : value) + segment.value.mid(to);
        placed = true;
        pugi::xml_node node = segment.text;
        // A value of several lines (the standards, one a line) breaks where it says so: Word shows a
        // line feed inside a text as a blank.
        const QStringList lines = updated.split(QLatin1Char('\n'));
        SetXmlText(node, lines.front().toStdString());
        if (!node.attribute("xml:space"))
            node.append_attribute("xml:space") = "preserve";
        pugi::xml_node after = node;
        for (int k = 1; k < lines.size(); ++k) {
            after = node.parent().insert_child_after(br.c_str(), after);
            after = node.parent().insert_child_after(t.c_str(), after);
            after.append_attribute("xml:space") = "preserve";
            SetXmlText(after, lines[k].toStdString());
        }
    }
}

std::vector<pugi::xml_node> TWordReportManager::TImpl::ReplaceAll(
    const QString &tag, const QString &value, pugi::xml_node root)
{
    if (!root)
        root = body;
    std::vector<pugi::xml_node> touched;
    pugi::xml_node node = root.first_child();
    while (node) {
        bool descend = true;
        if (node.type() == pugi::node_element) {
            if (fallback == node.name() || (tbl == node.name() && tables.count(node))) {
                descend = false;
            } else if (p == node.name()) {
                int from = 0;
                for (int guard = 0; guard < 100000; ++guard) {
                    const int at = Collect(node).text.indexOf(tag, from, Qt::CaseInsensitive);
                    if (at < 0)
                        break;
                    Replace(node, at, int(tag.size()), value);
                    from = at + int(value.size());
                    if (touched.empty() || touched.back() != node)
                        touched.push_back(node);
                }
            }
        }
        node = NextInOrder(node, root, descend);
    }
    return touched;
}

int TWordReportManager::TImpl::ReplaceInMarginals(const QString &tag, const QString &value)
{
    int found = 0;
    const TXmlNames mainNames = w;
    for (const std::string &part : marginalParts) {
        pugi::xml_node root = package.Xml(part).document_element();
        // A header written by another program may bind the namespace to another prefix.
        w = TXmlNames(root, kWordUri, kWordStrictUri);
        if (!w.found) {
            w = mainNames;
            continue;
        }
        ResolveNames();
        const std::vector<pugi::xml_node> touched = ReplaceAll(tag, value, root);
        if (!touched.empty()) {
            package.Touch(part);
            found += int(touched.size());
        }
        w = mainNames;
        ResolveNames();
    }
    return found;
}

// A paragraph that holds nothing but (now empty) runs of text: removing it loses nothing.
bool TWordReportManager::TImpl::IsBlankAndPlain(pugi::xml_node paragraph) const
{
    if (!Collect(paragraph).text.trimmed().isEmpty())
        return false;
    pugi::xml_node node = paragraph.first_child();
    while (node) {
        bool descend = true;
        if (node.type() == pugi::node_element) {
            const char *name = node.name();
            if (pPr == name) {
                if (node.child(sectPr.c_str()))
                    return false; // the paragraph ends a section
                descend = false;
            } else if (rPr == name || smartTagPr == name) {
                descend = false;
            } else if (!(r == name || t == name || proofErr == name || lastRenderedPageBreak == name
                           || smartTag == name)) {
                return false;
            }
        }
        node = NextInOrder(node, paragraph, descend);
    }
    return true;
}

pugi::xml_node TWordReportManager::TImpl::InsertParagraph(
    pugi::xml_node parent, pugi::xml_node before, const QString &text) const
{
    pugi::xml_node paragraph = before ? parent.insert_child_before(p.c_str(), before) : parent.append_child(p.c_str());
    if (!text.isEmpty()) {
        pugi::xml_node textNode = paragraph.append_child(r.c_str()).append_child(t.c_str());
        textNode.append_attribute("xml:space") = "preserve";
        SetXmlText(textNode, text.toStdString());
    }
    return paragraph;
}

void TWordReportManager::TImpl::BuildTable(pugi::xml_node table, const TReportTable &source,
    const std::vector<QStringList> &lines, const std::vector<std::pair<int, int>> &group, double points,
    bool writeSize) const
{
    const std::string val = w.Name("val"), wAttr = w.Name("w"), typeAttr = w.Name("type"), tc = w.Name("tc"),
                      tr = w.Name("tr"), tcPr = w.Name("tcPr"), tcW = w.Name("tcW"), shd = w.Name("shd"),
                      spacing = w.Name("spacing"), ind = w.Name("ind"), rFonts = w.Name("rFonts"), sz = w.Name("sz"),
                      szCs = w.Name("szCs"), b = w.Name("b"), bCs = w.Name("bCs");
    const int columns = source.ColumnCount();
    int total = 0;
    for (const auto &column : group)
        total += column.second;
    pugi::xml_node properties = table.append_child(w.Name("tblPr").c_str());
    if (!tableStyleId.empty())
        properties.append_child(w.Name("tblStyle").c_str()).append_attribute(val.c_str()) = tableStyleId.c_str();
    pugi::xml_node width = properties.append_child(w.Name("tblW").c_str());
    width.append_attribute(wAttr.c_str()) = total;
    width.append_attribute(typeAttr.c_str()) = "dxa";
    if (tableStyleId.empty()) {
        pugi::xml_node borders = properties.append_child(w.Name("tblBorders").c_str());
        for (const char *side : {"top", "left", "bottom", "right", "insideH", "insideV"}) {
            pugi::xml_node border = borders.append_child(w.Name(side).c_str());
            border.append_attribute(val.c_str()) = "single";
            border.append_attribute(w.Name("sz").c_str()) = 4;
            border.append_attribute(w.Name("space").c_str()) = 0;
            border.append_attribute(w.Name("color").c_str()) = "auto";
        }
    }
    properties.append_child(w.Name("tblLayout").c_str()).append_attribute(typeAttr.c_str()) = "fixed";
    // The margins the widths were computed with, whatever the table style says.
    pugi::xml_node margins = properties.append_child(w.Name("tblCellMar").c_str());
    for (const char *side : {"left", "right"}) {
        pugi::xml_node margin = margins.append_child(w.Name(side).c_str());
        margin.append_attribute(wAttr.c_str()) = kCellMargin;
        margin.append_attribute(typeAttr.c_str()) = "dxa";
    }
    properties.append_child(w.Name("tblLook").c_str()).append_attribute(val.c_str()) = "04A0";
    pugi::xml_node grid = table.append_child(w.Name("tblGrid").c_str());
    for (const auto &column : group)
        grid.append_child(w.Name("gridCol").c_str()).append_attribute(wAttr.c_str()) = column.second;

    const std::string fontName = source.fontName.toStdString();
    const int halfPoints = writeSize ? int(std::lround(points * 2)) : 0;
    auto runProperties = [&](pugi::xml_node parent, bool bold) {
        if (fontName.empty() && halfPoints == 0 && !bold)
            return;
        pugi::xml_node props = parent.append_child(rPr.c_str());
        if (!fontName.empty()) {
            pugi::xml_node fonts = props.append_child(rFonts.c_str());
            for (const char *which : {"ascii", "hAnsi", "cs"})
                fonts.append_attribute(w.Name(which).c_str()) = fontName.c_str();
        }
        if (bold) {
            props.append_child(b.c_str());
            props.append_child(bCs.c_str());
        }
        if (halfPoints) {
            props.append_child(sz.c_str()).append_attribute(val.c_str()) = halfPoints;
            props.append_child(szCs.c_str()).append_attribute(val.c_str()) = halfPoints;
        }
    };

    // A cell's paragraph: no spacing, no indent, whatever the template's paragraphs have.
    pugi::xml_document layoutDoc;
    pugi::xml_node paragraphLayout = layoutDoc.append_child("layout");
    pugi::xml_node space = paragraphLayout.append_child(spacing.c_str());
    space.append_attribute(w.Name("before").c_str()) = 0;
    space.append_attribute(w.Name("after").c_str()) = 0;
    space.append_attribute(w.Name("line").c_str()) = 240;
    space.append_attribute(w.Name("lineRule").c_str()) = "auto";
    pugi::xml_node indent = paragraphLayout.append_child(ind.c_str());
    indent.append_attribute(w.Name("left").c_str()) = 0;
    indent.append_attribute(w.Name("right").c_str()) = 0;
    indent.append_attribute(w.Name("firstLine").c_str()) = 0;

    for (int row = 0; row < source.RowCount(); ++row) {
        pugi::xml_node rowNode = table.append_child(tr.c_str());
        // A row stays on one page; the header row repeats on every page of a long table.
        pugi::xml_node rowProps = rowNode.append_child(w.Name("trPr").c_str());
        rowProps.append_child(w.Name("cantSplit").c_str());
        if (row == 0)
            rowProps.append_child(w.Name("tblHeader").c_str());
        for (const auto &[c, cellWidthTwips] : group) {
            pugi::xml_node cell = rowNode.append_child(tc.c_str());
            pugi::xml_node cellProps = cell.append_child(tcPr.c_str());
            pugi::xml_node cellWidth = cellProps.append_child(tcW.c_str());
            cellWidth.append_attribute(wAttr.c_str()) = cellWidthTwips;
            cellWidth.append_attribute(typeAttr.c_str()) = "dxa";
            const bool marked = row > 0 && source.marks.IsSet(row, c);
            if (marked) {
                pugi::xml_node shading = cellProps.append_child(shd.c_str());
                shading.append_attribute(val.c_str()) = "clear";
                shading.append_attribute(w.Name("color").c_str()) = "auto";
                shading.append_attribute(w.Name("fill").c_str()) = kMarkFill;
            }
            // An output cell's parts are the lines of the cell, one paragraph with line breaks (the
            // document stays small for long tables); a marked cell's error (its last line) also prints
            // bold with a star, so that the mark survives a black-and-white printer.
            const QStringList &cellLines = lines[size_t(row) * size_t(columns) + size_t(c)];
            pugi::xml_node paragraph = cell.append_child(p.c_str());
            pugi::xml_node paraProps = paragraph.append_child(pPr.c_str());
            if (cellStyleId.empty()) {
                paraProps.append_copy(paragraphLayout.first_child());
                paraProps.append_copy(paragraphLayout.last_child());
                runProperties(paraProps, false);
            } else {
                paraProps.append_child(w.Name("pStyle").c_str()).append_attribute(val.c_str()) = cellStyleId.c_str();
            }
            pugi::xml_node run;
            for (qsizetype line = 0; line < cellLines.size(); ++line) {
                const bool bold = marked && line + 1 == cellLines.size();
                if (!run || bold) {
                    run = paragraph.append_child(r.c_str());
                    runProperties(run, bold);
                }
                if (line > 0)
                    run.append_child(br.c_str());
                const QString text = XmlSafe(cellLines[line]) + (bold ? QStringLiteral("*") : QString());
                if (text.isEmpty())
                    continue;
                pugi::xml_node textNode = run.append_child(t.c_str());
                // Blanks at the ends of a text are kept only when it says so; a value rarely has them, and
                // a long table is smaller without the attribute.
                if (text.front().isSpace() || text.back().isSpace())
                    textNode.append_attribute("xml:space") = "preserve";
                textNode.append_child(pugi::node_pcdata).set_value(text.toStdString().c_str());
            }
        }
    }
}

pugi::xml_node TWordReportManager::TImpl::SectionOf(pugi::xml_node top) const
{
    for (pugi::xml_node node = top.next_sibling(); node; node = node.next_sibling()) {
        if (Is(node, p)) {
            if (pugi::xml_node section = node.child(pPr.c_str()).child(sectPr.c_str()))
                return section;
        } else if (Is(node, sectPr)) {
            return node;
        }
    }
    return body.child(sectPr.c_str());
}

TWordPageSpace TWordReportManager::TImpl::PageSpace(pugi::xml_node section, bool canTurn) const
{
    auto number = [&](pugi::xml_node node, const char *name, double fallback) {
        const pugi::xml_attribute attribute = node.attribute(w.Name(name).c_str());
        return attribute ? std::atof(attribute.value()) : fallback;
    };
    const pugi::xml_node size = section.child(w.Name("pgSz").c_str());
    const pugi::xml_node margins = section.child(w.Name("pgMar").c_str());
    const double pageWidth = number(size, "w", 11906), pageHeight = number(size, "h", 16838);
    const double sides = number(margins, "left", 1440) + number(margins, "right", 1440) + number(margins, "gutter", 0);
    const bool turned
        = pageWidth > pageHeight || std::strcmp(size.attribute(w.Name("orient").c_str()).value(), "landscape") == 0;
    TWordPageSpace space;
    space.portrait = int(pageWidth - sides);
    space.landscape = canTurn && !turned ? int(pageHeight - sides) : space.portrait;
    space.cellMargins = 2 * kCellMargin;
    return space;
}

// The table `table` in place of the new element `first` (and after it, the groups it is split into,
// the notes under it, its chart); returns the last table written.
pugi::xml_node TWordReportManager::TImpl::PlaceTable(pugi::xml_node first, const TReportTable &table)
{
    pugi::xml_node parent = first.parent();
    const bool top = parent == body;
    const pugi::xml_node section = top ? SectionOf(first) : pugi::xml_node();
    const TWordPageSpace space = PageSpace(section, top && section);
    const QString family = table.fontName.isEmpty() ? defaultFont : table.fontName;
    const double points = table.fontSize > 0 ? table.fontSize : defaultPoints;
    const std::vector<QStringList> lines = WordCellLines(table);
    const TWordTableLayout layout = LayoutWordTable(table, lines, TFontMeasure(family), points, space);
    const bool writeSize = table.fontSize > 0 || std::abs(layout.fontPoints - points) > 1e-6;

    pugi::xml_node last = first;
    for (size_t g = 0; g < layout.groups.size(); ++g) {
        if (g > 0) {
            pugi::xml_node gap = InsertParagraph(parent, NextElement(last), QString());
            last = parent.insert_child_after(tbl.c_str(), gap);
        }
        tables.insert(last);
        BuildTable(last, table, lines, layout.groups[g], layout.fontPoints, writeSize);
    }
    const pugi::xml_node lastTable = last;
    pugi::xml_node after = last;
    auto note = [&](const QString &text) { after = InsertParagraph(parent, NextElement(after), text); };
    if (!table.permissible.isEmpty())
        note(QStringLiteral("Пределы допускаемой основной погрешности: ") + table.permissible);
    if (!table.marks.IsEmpty())
        note(QStringLiteral("* — погрешность превышает допускаемую"));

    after = PlaceChart(after, table.chartPng, layout.landscape ? space.landscape : space.portrait);

    if (layout.landscape && section) {
        // The table gets a section of its own with the page turned: the section before it ends
        // with the template's page, the table's one with the same page turned. Its caption goes
        // with it.
        pugi::xml_node start = first;
        pugi::xml_node previous = first.previous_sibling();
        while (previous && previous.type() != pugi::node_element)
            previous = previous.previous_sibling();
        if (Is(previous, p) && !previous.child(pPr.c_str()).child(sectPr.c_str())
            && !Collect(previous).text.trimmed().isEmpty())
            start = previous;
        pugi::xml_node before = parent.insert_child_before(p.c_str(), start);
        before.append_child(pPr.c_str()).append_copy(section);
        pugi::xml_node end = parent.insert_child_after(p.c_str(), after);
        pugi::xml_node turned = end.append_child(pPr.c_str()).append_copy(section);
        pugi::xml_node size = turned.child(w.Name("pgSz").c_str());
        if (!size)
            size = turned.prepend_child(w.Name("pgSz").c_str());
        auto attribute = [&](const char *name) {
            const std::string qualified = w.Name(name);
            pugi::xml_attribute a = size.attribute(qualified.c_str());
            return a ? a : size.append_attribute(qualified.c_str());
        };
        const std::string width = attribute("w").value(), height = attribute("h").value();
        attribute("w") = height.empty() ? "16838" : height.c_str();
        attribute("h") = width.empty() ? "11906" : width.c_str();
        attribute("orient") = "landscape";
        landscapeBreaks.emplace_back(before, end);
    }
    return lastTable;
}

// The picture part and its relationship from the document; returns the relationship's id.
std::string TWordReportManager::TImpl::AddPicture(const QByteArray &png)
{
    ++pictures;
    const std::string name = "word/media/kest_chart" + std::to_string(pictures) + ".png";
    package.PutBinary(name, png);
    const std::string relsName = TOoxmlPackage::RelsPartName(mainPart);
    pugi::xml_document *rels = package.XmlIfPresent(relsName);
    if (!rels) {
        rels = &package.CreateXml(relsName);
        rels->append_child("Relationships").append_attribute("xmlns")
            = "http://schemas.openxmlformats.org/package/2006/relationships";
    }
    package.Touch(relsName);
    std::set<std::string> ids;
    for (pugi::xml_node rel : rels->document_element().children("Relationship"))
        ids.insert(rel.attribute("Id").value());
    std::string id;
    for (int k = pictures; id.empty() || ids.count(id); ++k)
        id = "rIdKestChart" + std::to_string(k);
    pugi::xml_node rel = rels->document_element().append_child("Relationship");
    rel.append_attribute("Id") = id.c_str();
    rel.append_attribute("Type") = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
    rel.append_attribute("Target") = name.substr(name.find('/') + 1).c_str();
    // Pictures are found by their extension.
    pugi::xml_node types = package.Xml("[Content_Types].xml").document_element();
    bool registered = false;
    for (pugi::xml_node item : types.children("Default"))
        registered = registered || QString::fromUtf8(item.attribute("Extension").value()).toLower() == "png";
    if (!registered) {
        package.Touch("[Content_Types].xml");
        pugi::xml_node item = types.prepend_child("Default");
        item.append_attribute("Extension") = "png";
        item.append_attribute("ContentType") = "image/png";
    }
    return id;
}

// The tab's chart where the template has "#график" for this table (after the table, before the
// next table's placeholder): the picture in its place, or, with no chart, the placeholder gone.
pugi::xml_node TWordReportManager::TImpl::PlaceChart(pugi::xml_node after, const QByteArray &png, int textWidth)
{
    const QString tag = QStringLiteral("#график");
    pugi::xml_node paragraph;
    int at = -1;
    for (pugi::xml_node node = NextElement(after); node; node = NextElement(node)) {
        if (!Is(node, p))
            continue;
        const QString text = Collect(node).text;
        if ((at = text.indexOf(tag, 0, Qt::CaseInsensitive)) >= 0) {
            paragraph = node;
            break;
        }
        if (text.contains(QStringLiteral("#таблица"), Qt::CaseInsensitive))
            break;
    }
    if (!paragraph)
        return after;
    Replace(paragraph, at, int(tag.size()), QString());
    pugi::xml_node parent = paragraph.parent();
    if (png.size() < 24 || !png.startsWith("\x89PNG")) {
        if (IsBlankAndPlain(paragraph) && Is(NextElement(paragraph), p))
            parent.remove_child(paragraph);
        return after;
    }
    // The picture as wide as the text at most, never wider than it is at 150 dots an inch.
    auto big = [&](int offset) {
        return (quint32(quint8(png[offset])) << 24) | (quint32(quint8(png[offset + 1])) << 16)
            | (quint32(quint8(png[offset + 2])) << 8) | quint32(quint8(png[offset + 3]));
    };
    const double pixelsWide = std::max<quint32>(1, big(16)), pixelsHigh = std::max<quint32>(1, big(20));
    const double emuWide = std::min(double(textWidth) * 635, pixelsWide * 914400 / 150);
    const long long cx = std::llround(emuWide), cy = std::llround(emuWide * pixelsHigh / pixelsWide);
    const std::string id = AddPicture(png);
    const std::string number = std::to_string(pictures);
    const std::string xml
        = "<wp:inline xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
          "distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"><wp:extent cx=\""
        + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) + "\"/><wp:docPr id=\"" + std::to_string(9000 + pictures)
        + "\" name=\"График " + number
        + "\"/><a:graphic xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><a:graphicData "
          "uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic "
          "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:nvPicPr><pic:cNvPr id=\"0\" "
          "name=\"kest_chart"
        + number
        + ".png\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" r:embed=\""
        + id
        + "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext "
          "cx=\""
        + std::to_string(cx) + "\" cy=\"" + std::to_string(cy)
        + "\"/></a:xfrm><a:prstGeom "
          "prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline>";
    pugi::xml_document fragment;
    fragment.load_buffer(xml.data(), xml.size(), kXmlParseFlags, pugi::encoding_utf8);
    pugi::xml_node drawing = paragraph.append_child(r.c_str()).append_child(w.Name("drawing").c_str());
    drawing.append_copy(fragment.first_child());
    if (parent == after.parent())
        parent.insert_move_after(paragraph, after);
    return paragraph.parent() == after.parent() ? paragraph : after;
}

// Two landscape tables with nothing between them share one turned section: no portrait page
// holding only blank lines between them.
void TWordReportManager::TImpl::JoinLandscapeSections()
{
    for (size_t k = 0; k + 1 < landscapeBreaks.size(); ++k) {
        const pugi::xml_node end = landscapeBreaks[k].second, next = landscapeBreaks[k + 1].first;
        pugi::xml_node node = NextElement(end);
        while (node && node != next && Is(node, p) && IsBlankAndPlain(node))
            node = NextElement(node);
        if (node != next)
            continue;
        for (pugi::xml_node paragraph : {end, next}) {
            paragraph.child(pPr.c_str()).remove_child(sectPr.c_str());
            if (paragraph.parent() && IsBlankAndPlain(paragraph) && Is(NextElement(paragraph), p))
                paragraph.parent().remove_child(paragraph);
        }
        landscapeBreaks[k + 1].first = pugi::xml_node();
    }
    landscapeBreaks.clear();
}

TWordReportManager::TWordReportManager() : TReportManager(QStringLiteral(".docx")), d_(std::make_unique<TImpl>()) { }

TWordReportManager::~TWordReportManager() = default;

void TWordReportManager::OpenDoc(const QString &path)
{
    d_->body = pugi::xml_node();
    d_->package.OpenFile(path, kWhat, ShownName(path));
    d_->Open();
}

void TWordReportManager::OpenParts(const std::map<std::string, QByteArray> &parts)
{
    d_->body = pugi::xml_node();
    d_->package.OpenParts(parts, kWhat);
    d_->Open();
}

void TWordReportManager::OpenBytes(const QByteArray &bytes)
{
    d_->body = pugi::xml_node();
    d_->package.OpenBytes(bytes, kWhat);
    d_->Open();
}

std::string TWordReportManager::DocumentXml()
{
    d_->RequireOpen();
    d_->package.Touch(d_->mainPart);
    return d_->package.Serialise()[d_->mainPart];
}

void TWordReportManager::ReplaceTagWithValue(const QString &tag, const QString &value, int replaceMode)
{
    d_->RequireOpen();
    if (tag.isEmpty())
        return;
    const QString clean = CleanValue(value);
    // Page headers and footers hold no tables and no order: every occurrence there is filled.
    const bool inMargins = d_->ReplaceInMarginals(tag, clean) > 0;
    auto noteUnfilled = [&](bool found) {
        if (found && clean.trimmed().isEmpty() && !tag.startsWith(QLatin1Char('#')) && !d_->unfilled.contains(tag))
            d_->unfilled << tag;
    };
    if (replaceMode == kReplaceAll) {
        noteUnfilled(!d_->ReplaceAll(tag, clean).empty() || inMargins);
        return;
    }
    auto found = d_->Find(tag, d_->cursorNode, d_->cursorOffset);
    if (!found)
        found = d_->Find(tag, pugi::xml_node(), 0); // wrap round to the start
    noteUnfilled(found.has_value() || inMargins);
    if (!found) {
        if (tag.compare(QStringLiteral("#заголовок"), Qt::CaseInsensitive) == 0)
            d_->pendingCaption = clean;
        return;
    }
    d_->Replace(found->first, found->second, int(tag.size()), clean);
    d_->cursorNode = found->first;
    d_->cursorOffset = found->second + int(clean.size());
}

void TWordReportManager::AddTable(const TReportTable &table, const TReportMarks &redCells)
{
    d_->RequireOpen();
    const QString tag = QStringLiteral("#таблица");
    auto found = d_->Find(tag, d_->cursorNode, d_->cursorOffset);
    if (!found)
        found = d_->Find(tag, pugi::xml_node(), 0);
    pugi::xml_node tableNode;
    if (found) {
        pugi::xml_node paragraph = found->first;
        pugi::xml_node parent = paragraph.parent();
        d_->Replace(paragraph, found->second, int(tag.size()), QString());
        if (!d_->pendingCaption.isEmpty())
            d_->InsertParagraph(parent, paragraph, d_->pendingCaption);
        if (d_->IsBlankAndPlain(paragraph)) {
            // The table takes the placeholder's paragraph; an empty paragraph stays only where a
            // table may not end its container or would run into a following one.
            tableNode = parent.insert_child_before(d_->tbl.c_str(), paragraph);
            if (Is(NextElement(paragraph), d_->p))
                parent.remove_child(paragraph);
        } else {
            tableNode = parent.insert_child_after(d_->tbl.c_str(), paragraph);
            if (!Is(NextElement(tableNode), d_->p))
                d_->InsertParagraph(parent, NextElement(tableNode), QString());
        }
    } else {
        // A template without the placeholder still gets the table: at the end, with its caption.
        pugi::xml_node end = d_->body.last_child();
        while (end && end.type() != pugi::node_element)
            end = end.previous_sibling();
        pugi::xml_node before = Is(end, d_->sectPr) ? end : pugi::xml_node();
        d_->InsertParagraph(d_->body, before, d_->pendingCaption);
        tableNode
            = before ? d_->body.insert_child_before(d_->tbl.c_str(), before) : d_->body.append_child(d_->tbl.c_str());
        d_->InsertParagraph(d_->body, before, QString());
    }
    d_->pendingCaption.clear();
    TReportTable marked = table;
    marked.marks = redCells;
    d_->cursorNode = d_->PlaceTable(tableNode, marked);
    d_->cursorOffset = 0;
}

void TWordReportManager::RemoveTableTagsFromReport()
{
    d_->RequireOpen();
    std::vector<pugi::xml_node> touched = d_->ReplaceAll(QStringLiteral("#таблица"), QString());
    for (const QString &tag : {QStringLiteral("#заголовок"), QStringLiteral("#график")})
        for (pugi::xml_node node : d_->ReplaceAll(tag, QString()))
            touched.push_back(node);
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    // Paragraphs that held only a placeholder go too, so unused pairs leave no blank lines.
    for (pugi::xml_node paragraph : touched) {
        if (paragraph.parent() && d_->IsBlankAndPlain(paragraph) && Is(NextElement(paragraph), d_->p))
            paragraph.parent().remove_child(paragraph);
    }
    d_->cursorNode = pugi::xml_node();
    d_->cursorOffset = 0;
}

void TWordReportManager::SaveAndCloseDoc(const QString &path)
{
    d_->RequireOpen();
    d_->JoinLandscapeSections();
    d_->package.Touch(d_->mainPart);
    d_->body = pugi::xml_node();
    d_->package.Commit();
    Publish(path);
}

QStringList TWordReportManager::UnfilledPlaceholders() const
{
    return d_->unfilled;
}

QString TWordReportManager::UnfilledMessage(const QStringList &placeholders)
{
    return placeholders.isEmpty()
        ? QString()
        : QStringLiteral("Не заполнены поля шаблона: ") + placeholders.join(QStringLiteral(", "));
}
