#pragma once
// LibreOffice in headless mode, where it is installed: turns legacy .doc/.xls (and .rtf, .odt,
// .ods) templates into .docx/.xlsx once, and a finished report into PDF. The wait keeps the
// caller's event loop running (the window repaints while LibreOffice works).

#include <QString>

namespace TOfficeConverter {

// The LibreOffice program, or empty when it is not installed.
QString Executable();

// Converts `input` to `format` ("docx", "xlsx", "pdf") in `outputFolder` and returns the new
// file's path. Raises EReportError (LibreOffice missing, failing or taking too long).
QString Convert(const QString &input, const QString &format, const QString &outputFolder, int timeoutMs = 180000);

// What kind of file a template is, by its content.
enum class TKind { OfficeOpenXml, Convertible, Unknown };
TKind Classify(const QString &path);

// A template ready for the writers: the path itself for .docx/.xlsx, otherwise its converted copy
// (made once and kept while the template is unchanged). `format` is "docx" or "xlsx".
QString PrepareTemplate(const QString &path, const QString &format);

} // namespace TOfficeConverter
