#pragma once

#include <QStyledItemDelegate>
#include <optional>

// The value of a progress figure such as "12%" or "100%", clamped to 0..100; nothing for any other status
// text.
std::optional<int> ProgressPercent(const QString& status);

// Draws the task list's rows: the icon centred in its column, and a progress bar with its figure in the
// status column while the status is a percentage.
class TaskRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    TaskRowDelegate(int iconColumn, int statusColumn, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    void PaintProgress(QPainter* painter, const QStyleOptionViewItem& option, int percent) const;

    int iconColumn_;
    int statusColumn_;
};
