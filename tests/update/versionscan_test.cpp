// Reading the version after the program's name on the maker's page, and comparing it with ours.

#include "update/versionscan.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionScan, VersionAfterTheName)
{
    struct Case {
        const char *page;
        bool found;
        const char *version;
    };
    const Case cases[] = {
        {"<td>KestManager 1.19</td>", true, "1.19"},
        {"KestManager 1.185 (2026)", true, "1.185"},
        // The character right after the name is skipped, whatever it is.
        {"KestManager1.19 x", true, ".19"},
        {"KestManager-2.5 x", true, "2.5"},
        // Anything before the first digit or "." is passed over.
        {"KestManager версия 1.19<br>", true, "1.19"},
        {"KestManager v. 1.19 x", true, "."},
        {"KestManager\n\t<b>1.2</b>", true, "1.2"},
        // The page's last character is never read.
        {"KestManager 1.19", true, "1.1"},
        {"KestManager 7", true, ""},
        {"KestManager ", true, ""},
        {"KestManager", true, ""},
        // Only the first occurrence counts.
        {"KestManager beta, KestManager 2.0 x", true, "2.0"},
        // Case matters.
        {"kestmanager 9.9 x", false, ""},
        {"KESTMANAGER 9.9 x", false, ""},
        {"", false, ""},
        {"Kest Manager 9.9 x", false, ""},
    };
    for (const Case &c : cases) {
        QString version = QStringLiteral("stale");
        EXPECT_EQ(FindPublishedVersion(QString::fromUtf8(c.page), QStringLiteral("KestManager"), version), c.found)
            << c.page;
        EXPECT_EQ(version, QString::fromUtf8(c.version)) << c.page;
    }
}

TEST(VersionScan, FirstOccurrenceEvenWithoutANumber)
{
    // A lone "." after the first mention is taken as its version; the second mention is never
    // looked at.
    QString version;
    ASSERT_TRUE(FindPublishedVersion(
        QStringLiteral("KestManager: скоро. KestManager 2.0 x"), QStringLiteral("KestManager"), version));
    EXPECT_EQ(version, QStringLiteral("."));
}

TEST(VersionScan, EmptyNameIsNeverFound)
{
    QString version;
    EXPECT_FALSE(FindPublishedVersion(QStringLiteral("1.19 x"), QString(), version));
}

TEST(VersionScan, VersionTextsAsNumbers)
{
    struct Case {
        const char *text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"1.18", true, 1.18}, {"1.180", true, 1.18}, {".19", true, 0.19}, {"1.", true, 1.0}, {"2", true, 2.0},
        {"0001.5", true, 1.5}, {"", false, 0}, {".", false, 0}, {"..", false, 0}, {"1.2.3", false, 0},
        {".1.19", false, 0}, {"1,18", false, 0}, {"-1.2", false, 0}, {"+1.2", false, 0}, {"1e3", false, 0},
        {" 1.2", false, 0}, {"1.2 ", false, 0}, {"inf", false, 0}, {"nan", false, 0},
        {"١.٢", false, 0}, // Arabic-Indic digits are not ASCII digits
    };
    for (const Case &c : cases) {
        double value = -7;
        EXPECT_EQ(VersionTextToNumber(QString::fromUtf8(c.text), value), c.ok) << c.text;
        EXPECT_DOUBLE_EQ(value, c.ok ? c.value : -7) << c.text;
    }
    // A number too large for a double is no version.
    double value = 0;
    EXPECT_FALSE(VersionTextToNumber(QString(400, u'9'), value));
    // Very long but finite texts still read.
    EXPECT_TRUE(VersionTextToNumber(QStringLiteral("1.") + QString(5000, u'1'), value));
    EXPECT_NEAR(value, 1.1111111, 1e-6);
}

TEST(VersionScan, NewerOnlyBeyondOneThousandth)
{
    struct Case {
        double published;
        double current;
        bool newer;
    };
    const Case cases[] = {
        {1.19, 1.18, true},
        {1.185, 1.18, true},
        {1.2, 1.18, true},
        {2.0, 1.18, true},
        {1.1805, 1.18, false},
        {1.181, 1.18, false},
        {1.18, 1.18, false},
        {1.17, 1.18, false},
        {0.19, 1.18, false},
        {1.1811, 1.18, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsNewerVersion(c.published, c.current), c.newer) << c.published;
}

TEST(VersionScan, JudgingWholePages)
{
    struct Case {
        QByteArray body;
        TVersionVerdict verdict;
        const char *published;
    };
    const Case cases[] = {
        {"<li>KestManager 1.19</li>", TVersionVerdict::Newer, "1.19"},
        {"<li>KestManager 1.185</li>", TVersionVerdict::Newer, "1.185"},
        {"<li>KestManager 1.1805</li>", TVersionVerdict::UpToDate, "1.1805"},
        {"<li>KestManager1.19</li>", TVersionVerdict::UpToDate, ".19"},
        {"<li>KestManager версия 1.19</li>", TVersionVerdict::Newer, "1.19"},
        {"<li>KestManager 1.180</li>", TVersionVerdict::UpToDate, "1.180"},
        {"<li>KestManager 1.1.9</li>", TVersionVerdict::NotANumber, "1.1.9"},
        {"<li>KestManager скоро</li>", TVersionVerdict::NotANumber, ""},
        {"<li>OtherProgram 9.9</li>", TVersionVerdict::NameMissing, ""},
        {"", TVersionVerdict::NameMissing, ""},
        // Cyrillic text around the name, a non-breaking blank or a letter right after it.
        {"Программа KestManager\xc2\xa0"
         "1.25 — новая",
            TVersionVerdict::Newer, "1.25"},
        {"KestManager\xd0\x99"
         "1.25 x",
            TVersionVerdict::Newer, "1.25"},
        // Broken UTF-8 does not stop the reading.
        {"\xff\xfe KestManager \xc3 1.3 x", TVersionVerdict::Newer, "1.3"},
    };
    for (const Case &c : cases) {
        QString published = QStringLiteral("stale");
        EXPECT_EQ(JudgePage(c.body, QStringLiteral("KestManager"), QStringLiteral("1.18"), &published), c.verdict)
            << c.body.constData();
        EXPECT_EQ(published, QString::fromUtf8(c.published)) << c.body.constData();
    }
    // A current version that is no number ends the check the same way.
    EXPECT_EQ(JudgePage("KestManager 1.19 x", QStringLiteral("KestManager"), QStringLiteral("1,18")),
        TVersionVerdict::NotANumber);
}

} // namespace
