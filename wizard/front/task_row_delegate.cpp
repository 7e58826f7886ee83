#include "wizard/front/task_row_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

std::optional<int> ProgressPercent(const QString& status) {
    const QString text = status.trimmed();
    if (!text.endsWith(QLatin1Char('%'))) {
        return std::nullopt;
    }
    const QString number = text.chopped(1).trimmed();
    if (number.isEmpty() || number.size() > 6) {
        return std::nullopt;
    }
    for (const QChar c : number) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return std::nullopt;
        }
    }
    return qMin(number.toInt(), 100);
}

TaskRowDelegate::TaskRowDelegate(int iconColumn, int statusColumn, QObject* parent)
    : QStyledItemDelegate(parent), iconColumn_(iconColumn), statusColumn_(statusColumn) {}

QSize TaskRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), 22));
    return size;
}

void TaskRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();

    if (index.column() == iconColumn_) {
        // The style would put the icon at the top-left of the cell; it belongs in the middle of its narrow
        // column.
        const QIcon icon = opt.icon;
        opt.icon = QIcon();
        opt.features &= ~QStyleOptionViewItem::HasDecoration;
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        icon.paint(painter,
                   QStyle::alignedRect(opt.direction, Qt::AlignCenter, opt.decorationSize, opt.rect));
        return;
    }
    if (index.column() == statusColumn_) {
        if (const std::optional<int> percent = ProgressPercent(opt.text)) {
            const QString figure = opt.text.trimmed();
            opt.text.clear();
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
            opt.text = figure;
            PaintProgress(painter, opt, *percent);
            return;
        }
    }
    QStyledItemDelegate::paint(painter, option, index);
}

void TaskRowDelegate::PaintProgress(QPainter* painter, const QStyleOptionViewItem& option,
                                    int percent) const {
    const QRectF track = QRectF(option.rect).adjusted(4.5, 3.5, -4.5, -3.5);
    if (track.width() <= 2 || track.height() <= 2) {
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    QPainterPath outline;
    outline.addRoundedRect(track, 3, 3);
    QLinearGradient trough(track.topLeft(), track.bottomLeft());
    trough.setColorAt(0, QColor(0xe3, 0xe9, 0xf1));
    trough.setColorAt(1, QColor(0xf7, 0xf9, 0xfc));
    painter->fillPath(outline, trough);

    const QRectF chunk(track.left(), track.top(), track.width() * percent / 100.0, track.height());
    QLinearGradient fill(chunk.topLeft(), chunk.bottomLeft());
    fill.setColorAt(0, QColor(0x72, 0xd0, 0x7e));
    fill.setColorAt(0.5, QColor(0x3a, 0xa8, 0x4f));
    fill.setColorAt(1, QColor(0x2a, 0x8c, 0x3e));
    painter->save();
    painter->setClipRect(chunk);
    painter->fillPath(outline, fill);
    painter->restore();

    painter->setPen(QPen(QColor(0x8a, 0xa2, 0xbd), 1.0));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(outline);

    // The figure reads in white over the filled part and dark over the rest.
    painter->setFont(option.font);
    painter->save();
    painter->setClipRect(chunk);
    painter->setPen(Qt::white);
    painter->drawText(track, Qt::AlignCenter, option.text);
    painter->restore();
    painter->save();
    painter->setClipRect(
        QRectF(chunk.right(), track.top(), track.right() - chunk.right() + 1, track.height()));
    painter->setPen(QColor(0x1d, 0x2b, 0x3a));
    painter->drawText(track, Qt::AlignCenter, option.text);
    painter->restore();

    painter->restore();
}
