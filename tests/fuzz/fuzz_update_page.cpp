// The update check's reading of the maker's page: any bytes as the page body, for this program's
// name. Whatever the page, the scan must not crash, must yield only digits and ".", and a
// verdict of "newer" must rest on a number that really is newer.

#include "update/versionscan.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString name = QStringLiteral("KestManager");

    QString published;
    const TVersionVerdict verdict = JudgePage(body, name, QStringLiteral("1.18"), &published);
    for (QChar c : published) {
        if (c != u'.' && (c < u'0' || c > u'9'))
            std::abort();
    }
    double value = 0;
    const bool number = VersionTextToNumber(published, value);
    switch (verdict) {
    case TVersionVerdict::NameMissing:
        if (!published.isEmpty() || QString::fromUtf8(body).contains(name))
            std::abort();
        break;
    case TVersionVerdict::NotANumber:
        if (number)
            std::abort();
        break;
    case TVersionVerdict::UpToDate:
        if (!number || value > 1.181 + 1e-6)
            std::abort();
        break;
    case TVersionVerdict::Newer:
        if (!number || value <= 1.181)
            std::abort();
        break;
    }

    // The bytes as a version text of their own.
    if (VersionTextToNumber(QString::fromLatin1(body), value) && !(value >= 0))
        std::abort();
    return 0;
}
