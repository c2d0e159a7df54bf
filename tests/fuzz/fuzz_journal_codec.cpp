// Arbitrary bytes as the columns of a journal: decoding never crashes, and whatever decodes encodes
// to a text that decodes to the same encoding again (what was read is what would be written).

#include "journal/journalcodec.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace KestJournalCodec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto values = DecodeValues(bytes)) {
        const QByteArray once = EncodeValues(*values);
        const auto again = DecodeValues(once);
        if (!again || EncodeValues(*again) != once)
            std::abort();
    }
    if (const auto errors = DecodeErrors(bytes)) {
        const auto again = DecodeErrors(EncodeErrors(*errors));
        if (!again || again->size() != errors->size())
            std::abort();
    }
    if (const auto analog = DecodeAnalog(bytes))
        if (EncodeAnalog(*analog) != bytes)
            std::abort();
    if (size >= 9) {
        qint64 mask = 0;
        std::memcpy(&mask, data, sizeof mask);
        const auto marks = DecodeMarks(mask, int(int8_t(data[8])) * 8);
        if (marks.size() > 1000)
            std::abort();
    }

    const QString text = QString::fromUtf8(bytes);
    if (const auto cells = DecodeCells(text))
        if (DecodeCells(EncodeCells(*cells)) != cells)
            std::abort();
    if (const auto header = DecodeRunHeader(text)) {
        const QString once = EncodeRunHeader(*header);
        const auto again = DecodeRunHeader(once);
        if (!again || EncodeRunHeader(*again) != once)
            std::abort();
        // A damaged header must still give tables a window can show.
        TJournalRun run;
        run.header = *header;
        TJournalPoint p;
        p.tab = header->tables.empty() ? 0 : header->tables.front().tab;
        p.row = int(size % 1200);
        p.cells = QStringList{QStringLiteral("1")};
        run.points.push_back(p);
        for (const TJournalShownTable &t : run.ShownTables())
            if (t.rows.size() > 100000)
                std::abort();
        if (run.ResumePosition() > int(header->planned.size()))
            std::abort();
    }
    if (const auto tuning = DecodeTuningHeader(text)) {
        const QString once = EncodeTuningHeader(*tuning);
        if (EncodeTuningHeader(*DecodeTuningHeader(once)) != once)
            std::abort();
    }
    if (const auto readback = DecodeReadback(text)) {
        const QString once = EncodeReadback(*readback);
        if (EncodeReadback(*DecodeReadback(once)) != once)
            std::abort();
    }
    // The laboratory's registers and a run's conclusion: whatever decodes comes back the same.
    if (const auto type = DecodeType(text)) {
        const QString once = EncodeType(*type);
        const auto again = DecodeType(once);
        if (!again || EncodeType(*again) != once)
            std::abort();
    }
    if (const auto standard = DecodeStandard(text)) {
        const QString once = EncodeStandard(*standard);
        const auto again = DecodeStandard(once);
        if (!again || EncodeStandard(*again) != once)
            std::abort();
    }
    if (const auto verdict = DecodeVerdict(text)) {
        const QString once = EncodeVerdict(*verdict);
        const auto again = DecodeVerdict(once);
        if (!again || EncodeVerdict(*again) != once)
            std::abort();
    }
    return 0;
}
