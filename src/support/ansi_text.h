#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

// The Windows ANSI code page (1252), the one code page of the DC's identification and of the firmware file's
// strings, so that texts compared with each other decode alike. Bytes it leaves undefined map to the control
// character of the same number.
char16_t AnsiToUnicode(std::uint8_t byte);
std::optional<std::uint8_t> UnicodeToAnsi(char32_t c);
QString FromAnsi(std::span<const std::uint8_t> bytes);
