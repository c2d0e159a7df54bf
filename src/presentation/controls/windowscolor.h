#pragma once
// Colours are given as Windows colour numbers, 0x00BBGGRR: 255 is pure red, 16777215 white,
// 12639424 is RGB(192, 220, 192). This is the one place where they become Qt colours.

#include <QColor>

#include <cstdint>

constexpr std::uint32_t kWindowsRed = 255;
constexpr std::uint32_t kWindowsWhite = 16777215;

inline QColor ColorFromWindows(std::uint32_t value)
{
    return QColor(
        static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF), static_cast<int>((value >> 16) & 0xFF));
}
