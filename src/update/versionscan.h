#pragma once
// Reading the maker's page of programs: where this program's name is, which version is written
// after it, and whether that version is newer than ours. Plain functions on text, no network, so
// that the fuzz target links nothing else.

#include <QByteArray>
#include <QString>

// The version text written after `progName` on `page` (possibly empty), or false when the name
// does not occur on the page. The scan starts at the second character after the name (the one
// right after it is skipped, so "KestManager1.19" yields ".19"), stops before the page's last
// character, passes over anything that is neither a digit nor "." and then takes digits and "."
// up to the first other character.
bool FindPublishedVersion(const QString &page, const QString &progName, QString &version);

// A version text as a decimal number with "." as the separator, whatever the rest of the program
// uses: digits with at most one ".", at least one digit (".19" and "1." are numbers). False for
// anything else, and for values too large for a double.
bool VersionTextToNumber(const QString &text, double &value);

// Versions are compared as decimal numbers: only a published version more than 0.001 above the
// current one counts as newer (1.185 is newer than 1.18, 1.1805 and 1.181 are not).
bool IsNewerVersion(double published, double current);

enum class TVersionVerdict {
    NameMissing, // the program's name is not on the page
    NotANumber, // the text after the name is no version
    UpToDate, // the published version is not newer
    Newer, // the published version is newer: offer the update
};

// The whole reading of a page body (UTF-8) for `progName` at `currentVersion`; `published`
// receives the version text found after the name (empty when the name is missing).
TVersionVerdict JudgePage(
    const QByteArray &body, const QString &progName, const QString &currentVersion, QString *published = nullptr);
