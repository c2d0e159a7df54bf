#pragma once
// The settings file's text held as lines, so that a change touches one line and leaves everything
// else (comments, blank lines, sections the program does not know) exactly as it was.
//
// Lookup follows the Windows profile services: section and key names compare without regard to
// case, surrounding blanks of names and values are ignored, and when a section or a key occurs more
// than once the first occurrence wins.

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class TIniDocument {
public:
    TIniDocument() = default;

    // Parses text of any shape; lines that are neither a section header nor a key line are kept
    // and otherwise ignored.
    static TIniDocument Parse(const QString &text);

    // The document as text: every line followed by the line break the parsed text used ("\n" for
    // a new document).
    QString Serialize() const;

    // The value of `key` in the first section called `section`; nothing when either is absent.
    std::optional<QString> Value(const QString &section, const QString &key) const;

    bool HasSection(const QString &section) const;
    // Keys of the first section called `section`, each once, in file order.
    QStringList Keys(const QString &section) const;
    // Names of all sections, each once, in file order.
    QStringList Sections() const;

    // Whether a section or key name can be written and found again: not empty (blanks around a name
    // do not count), on one line, without "]" or "=", and not starting with ";" or "[". Anything
    // else would be read back as another name, as a comment or as the header of a new section.
    static bool IsStorableName(const QString &name);

    // Sets the value of the first matching key of the first matching section, adding the key at the
    // end of that section (or a new section at the end of the document) when absent. Line breaks in
    // the value would start a new line of the file, so they are stored as blanks. A section or key
    // name that is not storable changes nothing and gives false.
    bool SetValue(const QString &section, const QString &key, const QString &value);

    // Removes the first matching key; returns whether there was one.
    bool RemoveKey(const QString &section, const QString &key);
    // Removes every section called `section` with all its lines; returns whether there was one.
    bool RemoveSection(const QString &section);

    int LineCount() const { return int(lines_.size()); }

private:
    enum class TLineKind { Other, Section, Key };
    struct TLine {
        QString text; // the line as it stands in the file
        TLineKind kind = TLineKind::Other;
        QString name; // section name or key, trimmed
        QString value; // key value, trimmed
    };

    static TLine ParseLine(const QString &text);
    static TLine MakeKeyLine(const QString &key, const QString &value);
    // Index of the first header of `section`, or -1.
    int FindSection(const QString &section) const;
    // Index one past the last line belonging to the section whose header is at `header`.
    int SectionEnd(int header) const;
    int FindKey(int header, const QString &key) const;

    std::vector<TLine> lines_;
    QString lineBreak_ = QStringLiteral("\n");
};

// The list encoding of the settings file: items joined by commas; an item holding a comma or a
// double quote (or an empty item) goes in double quotes with inner quotes doubled.
namespace KestSettingsList {
// Splits at commas only; blanks do not split. Quotes are removed, each item is trimmed of blanks.
// Blank text gives no items.
QStringList Split(const QString &text);
QString Join(const QStringList &items);
} // namespace KestSettingsList
