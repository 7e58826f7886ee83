#pragma once

#include <QStyledItemDelegate>
#include <optional>
#include <utility>

class QTreeView;

// The value of a progress figure such as "12%" or "100%", clamped to 0..100; nothing for any other status
// text.
std::optional<int> ProgressPercent(const QString& status);

// A status as shown while a transfer runs, "45% · 3.7 kB/s · 0:21 left": the figure ("45%") and the rest
// ("3.7 kB/s · 0:21 left"); a plain status is all figure.
std::pair<QString, QString> SplitRateStatus(const QString& status);

// Draws the task list's rows: the icon centred in its column; the event over the status column too when the
// row has no status; while a transfer runs, a progress bar with its figure in the status column and the rate
// and time left at the right end of the event. Texts that still do not fit are cut with an ellipsis.
class TaskRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    TaskRowDelegate(int iconColumn, int eventColumn, int statusColumn, QTreeView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The text the cell shows in the view's font: the whole text when it fits its room, else a cut one.
    QString ShownText(const QModelIndex& index) const;

private:
    struct CellText {
        QRect room;     // where the text goes, in viewport coordinates
        QString shown;  // the text, cut to the room
        QRect tailRoom;
        QString tail;  // the rate beside the event
    };
    CellText Layout(const QModelIndex& index, const QRect& cell, const QFont& font) const;
    QRect Span(const QRect& cell, int firstColumn, int lastColumn) const;
    void PaintProgress(QPainter* painter, const QStyleOptionViewItem& option, int percent) const;

    int iconColumn_;
    int eventColumn_;
    int statusColumn_;
    QTreeView* view_;
};
