#pragma once

#include <QString>

// The numbered instructions of a wizard page, lines separated by "\r\n". Page 1 is the connection page, page
// 2 the Deep Sleep page; any other page is empty.
QString InstructionPageText(int n);

// Whether the DC picture belongs on the page: shown on page 2, hidden on page 1; other pages leave it as it
// is.
enum class PictureOnPage { Hidden, Shown, Unchanged };
PictureOnPage InstructionPagePicture(int n);
