#pragma once

#include <QString>
#include <optional>

// The DC's firmware version as its identification text names it, when the text is of the firmware's model:
// nothing when it is not. Each pair of blanks counts as one; the version is the last two characters of word 2
// of 3 words or of word 3 of 4 words, and empty for any other count.
std::optional<QString> FirmwareVersionOf(const QString& idText, const QString& modelId);
