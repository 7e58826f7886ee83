#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Exit statuses: 0 done (inspect: the file loads and its sums hold), 1 the file is bad or cannot be written,
// 2 the command line is wrong.
enum ToolExit : int { ToolOk = 0, ToolFileBad = 1, ToolUsage = 2 };

int RunPack(const QStringList& arguments);
int RunInspect(const QStringList& arguments);
int RunUnpack(const QStringList& arguments);

// Decimal or 0x-prefixed hexadecimal, at most `max`.
std::optional<unsigned> ParseNumber(const QString& text, unsigned max);
// Whitespace- or comma-separated numbers, as --words takes them.
std::optional<std::vector<std::uint16_t>> ParseWordList(const QString& text, QString& error);

std::optional<std::vector<std::uint8_t>> ReadBinary(const QString& path, QString& error);
bool WriteBinary(const QString& path, const std::vector<std::uint8_t>& bytes, QString& error);

// The Windows ANSI code page bytes the file stores; nullopt when a character has no such byte.
std::optional<std::string> ToAnsi(const QString& text);
QString FromAnsi(const std::string& bytes);

// A deterministic image of `blocks` blocks for the demo firmware and for tests without a real image.
std::vector<std::uint8_t> DemoImage(int blocks);

void PrintError(const QString& message);
