#include "verification/report/wordreportmanager.h"

#include "verification/report/ooxmlpackage.h"
#include "verification/report/reporterror.h"

#include <QStringList>

#include <algorithm>
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
    std::vector<pugi::xml_node> ReplaceAll(const QString &tag, const QString &value);
    void BuildTable(pugi::xml_node tbl, const TReportTable &table, const TReportMarks &marks) const;
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

    // The table style of the template: "Table Grid" by its built-in name, or by its Russian one.
    for (const auto &[id, rel] : package.Relations(mainPart)) {
        if (rel.external || !EndsWith(rel.type, "/styles"))
            continue;
        pugi::xml_document *styles = package.XmlIfPresent(rel.target);
        if (!styles)
            continue;
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
    cursorNode = pugi::xml_node();
    cursorOffset = 0;
    tables.clear();
    pendingCaption.clear();
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
        SetXmlText(node, updated.toStdString());
        if (!node.attribute("xml:space"))
            node.append_attribute("xml:space") = "preserve";
    }
}

std::vector<pugi::xml_node> TWordReportManager::TImpl::ReplaceAll(const QString &tag, const QString &value)
{
    std::vector<pugi::xml_node> touched;
    pugi::xml_node node = body.first_child();
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
        node = NextInOrder(node, body, descend);
    }
    return touched;
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

void TWordReportManager::TImpl::BuildTable(
    pugi::xml_node table, const TReportTable &source, const TReportMarks &marks) const
{
    const std::string val = w.Name("val"), wAttr = w.Name("w"), typeAttr = w.Name("type"), tc = w.Name("tc"),
                      tr = w.Name("tr"), tcPr = w.Name("tcPr"), tcW = w.Name("tcW"), shd = w.Name("shd"),
                      spacing = w.Name("spacing"), ind = w.Name("ind"), rFonts = w.Name("rFonts"), sz = w.Name("sz"),
                      szCs = w.Name("szCs");
    const int columns = source.ColumnCount();
    std::vector<int> widths(size_t(std::max(columns, 0)));
    int total = 0;
    for (int c = 0; c < columns; ++c) {
        // Column widths as the table sets them, in points, five more than the grid's pixels.
        widths[size_t(c)] = std::max(1, source.columns[c].width + 5) * 20;
        total += widths[size_t(c)];
    }

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
    if (tableStyleId.empty()) {
        pugi::xml_node margins = properties.append_child(w.Name("tblCellMar").c_str());
        for (const char *side : {"left", "right"}) {
            pugi::xml_node margin = margins.append_child(w.Name(side).c_str());
            margin.append_attribute(wAttr.c_str()) = 108;
            margin.append_attribute(typeAttr.c_str()) = "dxa";
        }
    }
    properties.append_child(w.Name("tblLook").c_str()).append_attribute(val.c_str()) = "04A0";
    pugi::xml_node grid = table.append_child(w.Name("tblGrid").c_str());
    for (int c = 0; c < columns; ++c)
        grid.append_child(w.Name("gridCol").c_str()).append_attribute(wAttr.c_str()) = widths[size_t(c)];

    const std::string fontName = source.fontName.toStdString();
    const int halfPoints = source.fontSize > 0 ? source.fontSize * 2 : 0;
    auto runProperties = [&](pugi::xml_node parent) {
        if (fontName.empty() && halfPoints == 0)
            return;
        pugi::xml_node props = parent.append_child(rPr.c_str());
        if (!fontName.empty()) {
            pugi::xml_node fonts = props.append_child(rFonts.c_str());
            for (const char *which : {"ascii", "hAnsi", "cs"})
                fonts.append_attribute(w.Name(which).c_str()) = fontName.c_str();
        }
        if (halfPoints) {
            props.append_child(sz.c_str()).append_attribute(val.c_str()) = halfPoints;
            props.append_child(szCs.c_str()).append_attribute(val.c_str()) = halfPoints;
        }
    };

    for (int row = 0; row < source.RowCount(); ++row) {
        pugi::xml_node rowNode = table.append_child(tr.c_str());
        // A row stays on one page; the header row repeats on every page of a long table.
        pugi::xml_node rowProps = rowNode.append_child(w.Name("trPr").c_str());
        rowProps.append_child(w.Name("cantSplit").c_str());
        if (row == 0)
            rowProps.append_child(w.Name("tblHeader").c_str());
        for (int c = 0; c < columns; ++c) {
            pugi::xml_node cell = rowNode.append_child(tc.c_str());
            pugi::xml_node cellProps = cell.append_child(tcPr.c_str());
            pugi::xml_node cellWidth = cellProps.append_child(tcW.c_str());
            cellWidth.append_attribute(wAttr.c_str()) = widths[size_t(c)];
            cellWidth.append_attribute(typeAttr.c_str()) = "dxa";
            if (marks.IsSet(row, c)) {
                pugi::xml_node shading = cellProps.append_child(shd.c_str());
                shading.append_attribute(val.c_str()) = "clear";
                shading.append_attribute(w.Name("color").c_str()) = "auto";
                shading.append_attribute(w.Name("fill").c_str()) = kMarkFill;
            }
            // An output cell's parts (separated by blanks) become the lines of the cell.
            const QString text = XmlSafe(source.Cell(row, c));
            const QStringList lines = row == 0 ? QStringList{text} : text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (qsizetype line = 0; line < std::max<qsizetype>(lines.size(), 1); ++line) {
                pugi::xml_node paragraph = cell.append_child(p.c_str());
                pugi::xml_node paraProps = paragraph.append_child(pPr.c_str());
                pugi::xml_node space = paraProps.append_child(spacing.c_str());
                space.append_attribute(w.Name("before").c_str()) = 0;
                space.append_attribute(w.Name("after").c_str()) = 0;
                space.append_attribute(w.Name("line").c_str()) = 240;
                space.append_attribute(w.Name("lineRule").c_str()) = "auto";
                pugi::xml_node indent = paraProps.append_child(ind.c_str());
                indent.append_attribute(w.Name("left").c_str()) = 0;
                indent.append_attribute(w.Name("right").c_str()) = 0;
                indent.append_attribute(w.Name("firstLine").c_str()) = 0;
                runProperties(paraProps);
                if (line >= lines.size())
                    continue;
                pugi::xml_node run = paragraph.append_child(r.c_str());
                runProperties(run);
                pugi::xml_node textNode = run.append_child(t.c_str());
                textNode.append_attribute("xml:space") = "preserve";
                textNode.append_child(pugi::node_pcdata).set_value(lines[line].toStdString().c_str());
            }
        }
    }
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
    if (replaceMode == kReplaceAll) {
        d_->ReplaceAll(tag, clean);
        return;
    }
    auto found = d_->Find(tag, d_->cursorNode, d_->cursorOffset);
    if (!found)
        found = d_->Find(tag, pugi::xml_node(), 0); // wrap round to the start
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
    d_->tables.insert(tableNode);
    d_->BuildTable(tableNode, table, redCells);
    d_->cursorNode = tableNode;
    d_->cursorOffset = 0;
}

void TWordReportManager::RemoveTableTagsFromReport()
{
    d_->RequireOpen();
    std::vector<pugi::xml_node> touched = d_->ReplaceAll(QStringLiteral("#таблица"), QString());
    for (pugi::xml_node node : d_->ReplaceAll(QStringLiteral("#заголовок"), QString()))
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
    d_->package.Touch(d_->mainPart);
    d_->body = pugi::xml_node();
    d_->package.Commit();
    Publish(path);
}
