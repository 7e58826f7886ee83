#pragma once

class QAbstractItemView;
class QObject;
class QString;
class QWidget;

// What assistive technology (AT-SPI, UI Automation) is told about the skinned window, where Qt's defaults
// would tell it wrong: the window is a frame, the pictures are left out, and the page text and a box's text
// are text to walk line by line and select, not one name. Installed once, before the first window shows.
void InstallSkinAccessibility();

// Left out of what assistive technology sees: a widget that only decorates.
void MarkDecoration(QWidget* widget);

// A screen reader says the message at once, politely, where the platform's Qt can ask for it (Qt 6.8 on).
void Announce(QObject* source, const QString& message);

// The cells of the view's row are there: a client that follows the view reads the new row.
void TellRowAdded(QAbstractItemView* view, int row);
