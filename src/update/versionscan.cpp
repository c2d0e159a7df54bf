#include "update/versionscan.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

bool IsVersionChar(QChar c)
{
    return c == u'.' || (c >= u'0' && c <= u'9');
}

} // namespace

bool FindPublishedVersion(const QString &page, const QString &progName, QString &version)
{
    version.clear();
    // An empty name would "occur" at the start of every page.
    if (progName.isEmpty())
        return false;
    const qsizetype at = page.indexOf(progName, 0, Qt::CaseSensitive);
    if (at < 0)
        return false;
    const qsizetype end = page.size() - 1; // the page's last character is never part of the scan
    qsizetype i = at + progName.size() + 1;
    while (i < end && !IsVersionChar(page[i]))
        ++i;
    const qsizetype first = i;
    while (i < end && IsVersionChar(page[i]))
        ++i;
    if (i > first)
        version = page.mid(first, i - first);
    return true;
}

bool VersionTextToNumber(const QString &text, double &value)
{
    int digits = 0;
    int points = 0;
    for (QChar c : text) {
        if (c == u'.')
            ++points;
        else if (c >= u'0' && c <= u'9')
            ++digits;
        else
            return false;
    }
    if (digits == 0 || points > 1)
        return false;
    // Only ASCII is left; from_chars reads "." whatever the process locale says.
    const std::string ascii = text.toStdString();
    double v = 0;
    const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != ascii.data() + ascii.size() || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

bool IsNewerVersion(double published, double current)
{
    // The versions are decimal texts; a difference of exactly 0.001 in decimal may come out a hair
    // above 0.001 in binary (1.181 - 1.18), which must not count as newer.
    constexpr double kStep = 0.001;
    constexpr double kBinaryNoise = 1e-9;
    return published - current > kStep + kBinaryNoise;
}

TVersionVerdict JudgePage(
    const QByteArray &body, const QString &progName, const QString &currentVersion, QString *published)
{
    const QString page = QString::fromUtf8(body);
    QString version;
    if (!FindPublishedVersion(page, progName, version)) {
        if (published)
            published->clear();
        return TVersionVerdict::NameMissing;
    }
    if (published)
        *published = version;
    double ours = 0;
    double theirs = 0;
    if (!VersionTextToNumber(version, theirs) || !VersionTextToNumber(currentVersion, ours))
        return TVersionVerdict::NotANumber;
    return IsNewerVersion(theirs, ours) ? TVersionVerdict::Newer : TVersionVerdict::UpToDate;
}
