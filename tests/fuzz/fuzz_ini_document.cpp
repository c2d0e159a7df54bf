// Arbitrary bytes as a settings file: decoding, parsing, lookups and a change must never crash, and
// a value set must read back while every other key keeps its value.

#include "config/inidocument.h"
#include "config/textdecoding.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = KestText::DecodeTextFile(bytes);
    TIniDocument doc = TIniDocument::Parse(text);

    const QStringList sections = doc.Sections();
    for (const QString &section : sections) {
        for (const QString &key : doc.Keys(section))
            if (!doc.Value(section, key))
                std::abort(); // a listed key must be readable
    }

    // Serialising and parsing again gives the same values.
    const TIniDocument again = TIniDocument::Parse(doc.Serialize());
    if (again.Sections() != sections)
        std::abort();

    // A change with a hostile value: it reads back (line breaks as blanks, blanks trimmed) and
    // leaves the other keys of the file as they were.
    const QString value = text.left(64);
    doc.SetValue(QStringLiteral("Launch"), QStringLiteral("UpdateTag"), value);
    const TIniDocument changed = TIniDocument::Parse(doc.Serialize());
    QString expected = value;
    expected.replace(u'\r', u' ').replace(u'\n', u' ');
    expected = expected.trimmed();
    const auto readBack = changed.Value(QStringLiteral("launch"), QStringLiteral("updatetag"));
    if (!readBack || readBack->trimmed() != expected)
        std::abort();
    for (const QString &section : sections) {
        for (const QString &key : again.Keys(section)) {
            if (section.compare(QStringLiteral("Launch"), Qt::CaseInsensitive) == 0
                && key.compare(QStringLiteral("UpdateTag"), Qt::CaseInsensitive) == 0)
                continue;
            if (changed.Value(section, key) != again.Value(section, key))
                std::abort();
        }
    }
    return 0;
}
