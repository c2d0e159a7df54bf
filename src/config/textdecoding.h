#pragma once
// Turning the bytes of a text file into text. The program writes UTF-8; files copied from older
// Windows installations are in the Windows Cyrillic code page (1251), which we recognise by the
// bytes not being valid UTF-8.

#include <QByteArray>
#include <QString>

namespace KestText {

enum class TTextEncoding { Utf8, Utf8WithBom, Utf16LE, Windows1251 };

// True when the bytes form valid UTF-8 (an empty array is valid).
bool IsValidUtf8(QByteArrayView bytes);

// Decodes one byte string of code page 1251. Every byte maps to a character; the one unassigned
// byte (0x98) becomes U+FFFD.
QString DecodeWindows1251(QByteArrayView bytes);

// Decodes a whole file: a UTF-8 byte-order mark is skipped; valid UTF-8 is read as such; a UTF-16
// little-endian mark (Notepad's "Unicode", which the profile services also read) means UTF-16. Otherwise
// each line that is not valid UTF-8 is read as code page 1251 (`detected` then says Windows1251).
QString DecodeTextFile(const QByteArray &bytes, TTextEncoding *detected = nullptr);

} // namespace KestText
