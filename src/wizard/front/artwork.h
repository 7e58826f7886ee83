#pragma once

#include <QIcon>
#include <QRectF>

class QPainter;

// The wizard's pictures, drawn at run time so that they stay sharp at any scale and need no image files.
namespace artwork {

// Deep-water banner for the left edge of the window; fills r.
void PaintSideBanner(QPainter& p, const QRectF& r);

// The wrist-worn DC showing its "PC" screen, the interface cable clipped on and running to a computer. The
// drawing keeps its proportions and is centred horizontally, top-aligned, in r.
void PaintDiveComputer(QPainter& p, const QRectF& r);

// A small DC glyph (round case on a strap) for the window icon and the title band.
void PaintDiveComputerGlyph(QPainter& p, const QRectF& r);

// Task-list icons by TaskIcon number (started, information, failure); a null icon for other numbers.
QIcon TaskIcon(int icon);
QIcon WindowIcon();

}  // namespace artwork
