#pragma once
// JPEG pictures of the controls through libjpeg, called directly. Plain C++ (no Qt) so that the
// decoder can be fuzzed on its own.
//
// libjpeg's default error handling prints and ends the process; here every error jumps back and
// turns into a false result, and warnings (a truncated or damaged stream that libjpeg would
// patch over with grey) count as failures too. Nothing is ever printed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TJpegImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // 3 bytes per pixel, rows top to bottom, no padding
};

// The largest side accepted from a file: far beyond any control picture, small enough that a
// forged header cannot make the decoder allocate gigabytes.
constexpr int kMaxJpegSide = 2048;

// Decodes a JPEG (baseline or progressive, colour or grey) to RGB. On failure returns false,
// leaves `out` empty and, when `error` is given, puts a short reason there.
bool DecodeJpeg(const std::uint8_t *data, std::size_t size, TJpegImage &out, std::string *error = nullptr);

// Encodes RGB pixels as a JPEG of the given quality (1–100) without chroma subsampling, which
// keeps the edges of very small pictures clean.
bool EncodeJpeg(const TJpegImage &image, int quality, std::vector<std::uint8_t> &out, std::string *error = nullptr);
