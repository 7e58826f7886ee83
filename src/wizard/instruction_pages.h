#pragma once

#include <QString>

#include "support/text_database.h"

// The numbered instructions of a wizard page, lines separated by "\r\n". Page 1 is the connection page, page
// 2 the Deep Sleep page; any other page is empty.
QString InstructionPageText(int n);
// The same page in the language the texts are shown in: the English wording above in English, else the
// translation from the text database.
QString InstructionPageText(int n, const TextDatabase& texts);

// Whether the DC picture belongs on the page: shown on page 2, hidden on page 1; other pages leave it as it
// is.
enum class PictureOnPage { Hidden, Shown, Unchanged };
PictureOnPage InstructionPagePicture(int n);
