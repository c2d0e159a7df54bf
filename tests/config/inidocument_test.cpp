// The INI text model, the list encoding and the decoding of old files, without touching the disk.

#include "config/inidocument.h"
#include "config/textdecoding.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

std::string S(const std::optional<QString> &v)
{
    return v ? v->toStdString() : std::string("<absent>");
}

TEST(IniDocument, LookupFollowsTheProfileRules)
{
    const TIniDocument doc = TIniDocument::Parse(QStringLiteral("; comment = not a key\n"
                                                                "[Launch]\n"
                                                                "  UpdateTag =  0  \n"
                                                                "ConfigIndex=3\n"
                                                                "ConfigIndex=5\n"
                                                                "garbage line without equals\n"
                                                                "=value without key\n"
                                                                "[ launch ]\n"
                                                                "ConfigIndex=7\n"
                                                                "Only=in second\n"
                                                                "[Параметры]\n"
                                                                "Ключ=значение\n"
                                                                "Empty=\n"
                                                                "[Port1]\r\n"
                                                                "Port=/dev/ttyUSB0"));

    struct Case {
        const char *section, *key, *expected;
    } cases[] = {
        {"Launch", "UpdateTag", "0"}, // blanks around key and value ignored
        {"LAUNCH", "updatetag", "0"}, // case-insensitive
        {"Launch", "ConfigIndex", "3"}, // first of duplicate keys wins
        {"launch", "Only", "<absent>"}, // only the first of duplicate sections is read
        {"параметры", "КЛЮЧ", "значение"}, // case folding of Cyrillic names
        {"Параметры", "Empty", ""},
        {"Port1", "Port", "/dev/ttyUSB0"}, // last line without a line break
        {"Launch", "; comment", "<absent>"},
        {"Launch", "garbage line without equals", "<absent>"},
        {"Missing", "Key", "<absent>"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(S(doc.Value(QString::fromUtf8(c.section), QString::fromUtf8(c.key))), c.expected)
            << c.section << "/" << c.key;

    EXPECT_EQ(doc.Sections(), (QStringList{"Launch", "Параметры", "Port1"}));
    EXPECT_EQ(doc.Keys(QStringLiteral("launch")), (QStringList{"UpdateTag", "ConfigIndex"}));
}

TEST(IniDocument, ChangesTouchOnlyTheirLine)
{
    const QString text = QStringLiteral("; written by hand\n"
                                        "[Launch]\n"
                                        "MainWindowCoordX=10\n"
                                        "\n"
                                        "; next section\n"
                                        "[Other]\n"
                                        "Kept = as it was \n");
    TIniDocument doc = TIniDocument::Parse(text);
    EXPECT_EQ(doc.Serialize(), text) << "parsing and writing back changes nothing";

    doc.SetValue(QStringLiteral("launch"), QStringLiteral("mainwindowcoordx"), QStringLiteral("20"));
    doc.SetValue(QStringLiteral("Launch"), QStringLiteral("MainWindowCoordY"), QStringLiteral("30"));
    doc.SetValue(QStringLiteral("New"), QStringLiteral("Key"), QStringLiteral("v"));
    EXPECT_EQ(doc.Serialize(),
        QStringLiteral("; written by hand\n"
                       "[Launch]\n"
                       "MainWindowCoordX=20\n" // the key keeps the file's spelling
                       "MainWindowCoordY=30\n" // added after the section's last key, before the blank line
                       "\n"
                       "; next section\n"
                       "[Other]\n"
                       "Kept = as it was \n"
                       "[New]\n"
                       "Key=v\n"));

    // Setting an equal value leaves the line's own spacing alone.
    doc.SetValue(QStringLiteral("Other"), QStringLiteral("Kept"), QStringLiteral("as it was"));
    EXPECT_TRUE(doc.Serialize().contains(QStringLiteral("Kept = as it was \n")));

    EXPECT_TRUE(doc.RemoveKey(QStringLiteral("Launch"), QStringLiteral("MainWindowCoordY")));
    EXPECT_FALSE(doc.RemoveKey(QStringLiteral("Launch"), QStringLiteral("MainWindowCoordY")));
    EXPECT_TRUE(doc.RemoveSection(QStringLiteral("other")));
    EXPECT_FALSE(doc.HasSection(QStringLiteral("Other")));
    EXPECT_EQ(S(doc.Value(QStringLiteral("New"), QStringLiteral("Key"))), "v");
}

TEST(IniDocument, WindowsLineBreaksAreKept)
{
    TIniDocument doc = TIniDocument::Parse(QStringLiteral("[A]\r\nx=1\r\n"));
    doc.SetValue(QStringLiteral("A"), QStringLiteral("y"), QStringLiteral("2"));
    EXPECT_EQ(doc.Serialize(), QStringLiteral("[A]\r\nx=1\r\ny=2\r\n"));
}

TEST(IniDocument, ValueWithLineBreaksCannotInjectLines)
{
    TIniDocument doc;
    doc.SetValue(QStringLiteral("Report"), QStringLiteral("Name"), QStringLiteral("a\n[Launch]\r\nUpdateTag=0"));
    const TIniDocument reread = TIniDocument::Parse(doc.Serialize());
    EXPECT_EQ(reread.LineCount(), 2);
    EXPECT_FALSE(reread.HasSection(QStringLiteral("Launch")));
    EXPECT_EQ(S(reread.Value(QStringLiteral("Report"), QStringLiteral("Name"))), "a [Launch]  UpdateTag=0");
}

TEST(SettingsList, Split)
{
    struct Case {
        const char *text;
        QStringList items;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a", {"a"}},
        {" 1 , 2 ,3 ", {"1", "2", "3"}}, // blanks around items trimmed
        {"Первый тест,b", {"Первый тест", "b"}}, // an inner blank does not split
        {"a,,b,", {"a", "", "b", ""}},
        {"\"x,y\",z", {"x,y", "z"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {" \" padded \" , q", {"padded", "q"}},
        {"\"unterminated, still one", {"unterminated, still one"}},
        {"\"a\"tail,b", {"atail", "b"}},
        {"-1,0", {"-1", "0"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KestSettingsList::Split(QString::fromUtf8(c.text)), c.items) << c.text;
}

TEST(SettingsList, JoinQuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(KestSettingsList::Join({"4", "22", "23"}), QStringLiteral("4,22,23"));
    EXPECT_EQ(KestSettingsList::Join({}), QString());
    const QStringList tricky = {"Ток, фаза \"А\"", "", "plain name", "\"", ","};
    const QString text = KestSettingsList::Join(tricky);
    EXPECT_EQ(text, QStringLiteral("\"Ток, фаза \"\"А\"\"\",\"\",plain name,\"\"\"\",\",\""));
    EXPECT_EQ(KestSettingsList::Split(text), tricky);
    EXPECT_EQ(KestSettingsList::Split(KestSettingsList::Join({""})), QStringList{""});
}

TEST(TextDecoding, Utf8Validity)
{
    struct Case {
        QByteArray bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii", true},
        {"\xD0\x9F\xD1\x80\xD0\xB8", true}, // "При"
        {"\xE2\x82\xAC", true}, // euro sign
        {"\xF0\x9F\x98\x80", true}, // four bytes
        {"\xC0\xAF", false}, // overlong '/'
        {"\xED\xA0\x80", false}, // surrogate
        {"\xF4\x90\x80\x80", false}, // beyond U+10FFFF
        {"\xD0", false}, // truncated
        {"\xCF\xF0\xE8", false}, // "При" in 1251
        {"\x80", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KestText::IsValidUtf8(c.bytes), c.valid) << c.bytes.toHex().toStdString();
}

TEST(TextDecoding, FileFallsBackToWindows1251)
{
    KestText::TTextEncoding enc{};
    // "[Отчёт]" in code page 1251, with the ё (0xB8) and a byte outside the letters (0xB9, №).
    const QByteArray cp1251("[\xCE\xF2\xF7\xB8\xF2] \xB9");
    EXPECT_EQ(KestText::DecodeTextFile(cp1251, &enc), QStringLiteral("[Отчёт] №"));
    EXPECT_EQ(enc, KestText::TTextEncoding::Windows1251);

    EXPECT_EQ(KestText::DecodeTextFile(QByteArray("\xEF\xBB\xBFk=\xD1\x8F"), &enc), QStringLiteral("k=я"));
    EXPECT_EQ(enc, KestText::TTextEncoding::Utf8WithBom);

    EXPECT_EQ(KestText::DecodeTextFile(QByteArray("k=\xD1\x8F"), &enc), QStringLiteral("k=я"));
    EXPECT_EQ(enc, KestText::TTextEncoding::Utf8);

    EXPECT_EQ(
        KestText::DecodeTextFile(QByteArray("\xFF\xFE[\x00\x4F\x04]\x00\x0A\x00", 10), &enc), QStringLiteral("[я]\n"));
    EXPECT_EQ(enc, KestText::TTextEncoding::Utf16LE);

    // A UTF-8 file with one line in 1251 keeps its UTF-8 lines.
    EXPECT_EQ(KestText::DecodeTextFile(QByteArray("a=\xD1\x8F\nb=\xFF\n"), &enc), QStringLiteral("a=я\nb=я\n"));
    EXPECT_EQ(enc, KestText::TTextEncoding::Windows1251);

    // Every byte decodes to exactly one character.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(KestText::DecodeWindows1251(all).size(), 256);
    EXPECT_EQ(KestText::DecodeWindows1251(QByteArray("\x98")), QString(QChar(0xFFFD)));
}

} // namespace
