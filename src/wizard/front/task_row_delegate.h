#pragma once

#include <QStyledItemDelegate>

class QTreeView;

// Draws the task list's rows: the icon centred in its column; the event over the status column too when the
// row has no status; while a transfer runs, a progress bar with its figure in the status column and the rate
// and time left at the right end of the event. Texts that still do not fit are cut with an ellipsis.
class TaskRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // On the status cell of a running transfer's row: its percentage (an int) and its rate and time left (a
    // text).
    static constexpr int kPercentRole = Qt::UserRole + 2;
    static constexpr int kRateRole = Qt::UserRole + 3;

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
