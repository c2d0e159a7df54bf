#include "config/textdecoding.h"

#include <array>
#include <cstdint>

namespace KestText {

namespace {

// Bytes 0x80..0xFF of code page 1251.
constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402,
    0x0403,
    0x201A,
    0x0453,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x20AC,
    0x2030,
    0x0409,
    0x2039,
    0x040A,
    0x040C,
    0x040B,
    0x040F,
    0x0452,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0xFFFD,
    0x2122,
    0x0459,
    0x203A,
    0x045A,
    0x045C,
    0x045B,
    0x045F,
    0x00A0,
    0x040E,
    0x045E,
    0x0408,
    0x00A4,
    0x0490,
    0x00A6,
    0x00A7,
    0x0401,
    0x00A9,
    0x0404,
    0x00AB,
    0x00AC,
    0x00AD,
    0x00AE,
    0x0407,
    0x00B0,
    0x00B1,
    0x0406,
    0x0456,
    0x0491,
    0x00B5,
    0x00B6,
    0x00B7,
    0x0451,
    0x2116,
    0x0454,
    0x00BB,
    0x0458,
    0x0405,
    0x0455,
    0x0457,
    0x0410,
    0x0411,
    0x0412,
    0x0413,
    0x0414,
    0x0415,
    0x0416,
    0x0417,
    0x0418,
    0x0419,
    0x041A,
    0x041B,
    0x041C,
    0x041D,
    0x041E,
    0x041F,
    0x0420,
    0x0421,
    0x0422,
    0x0423,
    0x0424,
    0x0425,
    0x0426,
    0x0427,
    0x0428,
    0x0429,
    0x042A,
    0x042B,
    0x042C,
    0x042D,
    0x042E,
    0x042F,
    0x0430,
    0x0431,
    0x0432,
    0x0433,
    0x0434,
    0x0435,
    0x0436,
    0x0437,
    0x0438,
    0x0439,
    0x043A,
    0x043B,
    0x043C,
    0x043D,
    0x043E,
    0x043F,
    0x0440,
    0x0441,
    0x0442,
    0x0443,
    0x0444,
    0x0445,
    0x0446,
    0x0447,
    0x0448,
    0x0449,
    0x044A,
    0x044B,
    0x044C,
    0x044D,
    0x044E,
    0x044F,
};

bool HasUtf8Bom(QByteArrayView bytes)
{
    return bytes.size() >= 3 && uint8_t(bytes[0]) == 0xEF && uint8_t(bytes[1]) == 0xBB && uint8_t(bytes[2]) == 0xBF;
}

} // namespace

bool IsValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int extra;
        uint32_t cp;
        uint32_t minimum;
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
            minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
            minimum = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (n - i <= extra)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const uint8_t c = p[i + k];
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

QString DecodeWindows1251(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = uint8_t(c);
        out.append(b < 0x80 ? QChar(char16_t(b)) : QChar(kCp1251High[b - 0x80]));
    }
    return out;
}

QString DecodeTextFile(const QByteArray &bytes, TTextEncoding *detected)
{
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        if (detected)
            *detected = TTextEncoding::Utf16LE;
        const QByteArrayView units = QByteArrayView(bytes).sliced(2);
        QString out(units.size() / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i + 1 < units.size(); i += 2)
            out[i / 2] = QChar(char16_t(uint8_t(units[i]) | (uint8_t(units[i + 1]) << 8)));
        return out;
    }
    QByteArrayView rest(bytes);
    const bool bom = HasUtf8Bom(rest);
    if (bom)
        rest = rest.sliced(3);
    if (IsValidUtf8(rest)) {
        if (detected)
            *detected = bom ? TTextEncoding::Utf8WithBom : TTextEncoding::Utf8;
        return QString::fromUtf8(rest);
    }
    if (detected)
        *detected = TTextEncoding::Windows1251;
    // Line by line, so that a file which is UTF-8 but for one damaged or hand-edited line keeps
    // its other lines intact.
    QString out;
    out.reserve(rest.size());
    while (!rest.isEmpty()) {
        qsizetype end = rest.indexOf('\n');
        end = end < 0 ? rest.size() : end + 1;
        const QByteArrayView line = rest.first(end);
        out += IsValidUtf8(line) ? QString::fromUtf8(line) : DecodeWindows1251(line);
        rest = rest.sliced(end);
    }
    return out;
}

} // namespace KestText
