#include "reporttesthelpers.h"

#include <QDir>
#include <QFile>

#include <zip.h>

#include <cstdlib>
#include <cstring>

namespace ReportTest {

bool WriteZip(const QString &path, const TParts &parts)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const auto &[name, content] : parts) {
        void *copy = std::malloc(size_t(content.size()) + 1);
        std::memcpy(copy, content.constData(), size_t(content.size()));
        zip_source_t *source = zip_source_buffer(archive, copy, zip_uint64_t(content.size()), 1);
        if (!source || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source)
                zip_source_free(source);
            else
                std::free(copy);
            zip_discard(archive);
            return false;
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        return false;
    }
    return true;
}

TParts WordParts(const QString &bodyXml, bool tableGrid)
{
    TParts parts;
    parts["[Content_Types].xml"] =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>
<Override PartName="/word/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"/>
</Types>)";
    parts["_rels/.rels"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
    parts["word/_rels/document.xml.rels"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";
    parts["word/styles.xml"]
        = QByteArray(
              R"(<?xml version="1.0" encoding="UTF-8"?><w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">
<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/></w:style>)")
        + (tableGrid ? R"(<w:style w:type="table" w:styleId="a3"><w:name w:val="Сетка таблицы"/></w:style>)" : "")
        + "</w:styles>";
    parts["word/document.xml"]
        = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)"
        + bodyXml.toUtf8() + R"(<w:sectPr><w:pgSz w:w="11906" w:h="16838"/></w:sectPr></w:body></w:document>)";
    return parts;
}

TParts ExcelParts(const QList<TSheetXml> &sheets, const QString &definedNames)
{
    TParts parts;
    QByteArray types
        = R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)";
    QByteArray rels
        = R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rIdS" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)";
    QByteArray list;
    for (int i = 0; i < sheets.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        types += R"(<Override PartName="/xl/worksheets/sheet)" + n
            + R"(.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)";
        rels += R"(<Relationship Id="rId)" + n
            + R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet)"
            + n + R"(.xml"/>)";
        list += "<sheet name=\"" + sheets[i].name.toUtf8() + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        parts["xl/worksheets/sheet" + n.toStdString() + ".xml"]
            = R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><dimension ref="A1"/><sheetData>)"
            + sheets[i].rows.toUtf8() + "</sheetData>" + sheets[i].tail.toUtf8() + "</worksheet>";
    }
    parts["[Content_Types].xml"] = types + "</Types>";
    parts["xl/_rels/workbook.xml.rels"] = rels + "</Relationships>";
    parts["_rels/.rels"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
    parts["xl/workbook.xml"]
        = R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)"
        + list + "</sheets>"
        + (definedNames.isEmpty() ? QByteArray() : "<definedNames>" + definedNames.toUtf8() + "</definedNames>")
        + "</workbook>";
    parts["xl/styles.xml"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<fonts count="1"><font><sz val="11"/><name val="Arial"/></font></fonts>
<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>
<borders count="2"><border/><border><left style="thin"/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="0" fontId="0" fillId="0" borderId="1" xfId="0" applyBorder="1"/></cellXfs>
</styleSheet>)";
    return parts;
}

TReportTable SampleTable(const QString &title, int rows)
{
    TReportTable table;
    table.title = title;
    table.fontName = QStringLiteral("Liberation Sans");
    table.fontSize = 8;
    const QStringList inputs{"Ток", "Напр.", "Угол", "Частота"};
    const QStringList inputUnits{"A", "V", "°", "Hz"};
    for (int i = 0; i < inputs.size(); ++i)
        table.columns.append({inputs[i], inputs[i] + ", " + inputUnits[i], 64});
    const QStringList outputs{"Ua", "Ia", "P", "Q", "F"};
    const QStringList outputUnits{"V", "A", "W", "var", "Hz"};
    for (int i = 0; i < outputs.size(); ++i)
        table.columns.append({outputs[i], outputs[i] + ", " + outputUnits[i], 170});
    for (int r = 1; r <= rows; ++r) {
        QStringList cells{QString::number(r) + ",5", "220", QString::number(r % 360), "50"};
        for (int o = 0; o < outputs.size(); ++o)
            cells << QStringLiteral("%1,%2       %1,%3       0,0%4%").arg(100 + r).arg(o).arg(o + 1).arg(r % 10);
        table.rows.append(cells);
    }
    return table;
}

QStringList FilesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    return names;
}

} // namespace ReportTest
