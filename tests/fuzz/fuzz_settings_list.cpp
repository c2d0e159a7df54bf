// Arbitrary text as a stored list: splitting never crashes, and joining the items and splitting
// again gives the same items.

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
    const QStringList items = KestSettingsList::Split(text);
    if (KestSettingsList::Split(KestSettingsList::Join(items)) != items)
        std::abort();
    return 0;
}
