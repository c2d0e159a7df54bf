#pragma once
// The verification protocol templates shipped with the program (a Word and an Excel one), built
// into it, and their copies in the reports folder.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace TReportTemplates {

// File names of the shipped templates.
QStringList Names();
// Where the shipped template of a format is read from when no template is set (a path Qt's files
// open: the copy built into the program).
QString ShippedPath(bool excel);
// The content of a shipped template (empty for an unknown name).
QByteArray Content(const QString &name);
// Copies every shipped template that `folder` lacks into it; never replaces a file. Failures are
// not reported (a missing copy only means the user picks another template).
void InstallInto(const QString &folder);

extern const char *const kWordTemplate; // "Шаблон протокола поверки.docx"
extern const char *const kExcelTemplate; // "Шаблон протокола поверки.xlsx"

} // namespace TReportTemplates
