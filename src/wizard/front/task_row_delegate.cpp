#include "wizard/front/task_row_delegate.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QTreeView>

namespace {

// The painted colours, 0xRRGGBB; tests/contrast.py holds the texts among them to 4.5:1 against what they lie
// on.
constexpr QRgb kTailText = 0x4d5d6e;   // the rate, on a row of either colour
constexpr QRgb kTroughTop = 0xe3e9f1;  // the bar's empty part
constexpr QRgb kTroughBottom = 0xf7f9fc;
constexpr QRgb kFillTop = 0x2e8540;  // its filled part
constexpr QRgb kFillMiddle = 0x237a3a;
constexpr QRgb kFillBottom = 0x1c6a31;
constexpr QRgb kFigureOnFill = 0xffffff;  // the percentage over the filled part
constexpr QRgb kFigureOnTrough = 0x1d2b3a;

// The rate beside a running transfer's event is a side note: a point smaller.
QFont TailFont(QFont font) {
    if (font.pointSizeF() > 1.0)
        font.setPointSizeF(font.pointSizeF() - 1.0);
    else if (font.pixelSize() > 1)
        font.setPixelSize(font.pixelSize() - 1);
    return font;
}

}  // namespace

TaskRowDelegate::TaskRowDelegate(int iconColumn, int eventColumn, int statusColumn, QTreeView* view)
    : QStyledItemDelegate(view),
      iconColumn_(iconColumn),
      eventColumn_(eventColumn),
      statusColumn_(statusColumn),
      view_(view) {}

QSize TaskRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), 22));
    return size;
}

QRect TaskRowDelegate::Span(const QRect& cell, int firstColumn, int lastColumn) const {
    const QHeaderView* header = view_->header();
    const int left = header->sectionViewportPosition(firstColumn);
    const int right = header->sectionViewportPosition(lastColumn) + header->sectionSize(lastColumn) - 1;
    return QRect(QPoint(left, cell.top()), QPoint(right, cell.bottom()));
}

TaskRowDelegate::CellText TaskRowDelegate::Layout(const QModelIndex& index, const QRect& cell,
                                                  const QFont& font) const {
    const QFontMetrics metrics(font);
    const int margin = view_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view_) + 1;
    const QModelIndex statusCell = index.siblingAtColumn(statusColumn_);
    const QString status = statusCell.data().toString();
    const QString tail = statusCell.data(kRateRole).toString();
    CellText text;
    QRect room = cell;
    QString full = index.data().toString();
    if (index.column() == eventColumn_ || (index.column() == statusColumn_ && status.isEmpty())) {
        // A row without a status gives its event the status column's room too.
        room = Span(cell, eventColumn_, status.isEmpty() ? statusColumn_ : eventColumn_);
        full = index.siblingAtColumn(eventColumn_).data().toString();
        if (!tail.isEmpty()) {
            const int tailWidth = QFontMetrics(TailFont(font)).horizontalAdvance(tail) + 2 * margin;
            text.tailRoom = room.adjusted(room.width() - tailWidth + margin, 0, -margin, 0);
            text.tail = tail;
            room.setRight(room.right() - tailWidth);
        }
    }
    text.room = room.adjusted(margin, 0, -margin, 0);
    text.shown = metrics.elidedText(full, Qt::ElideRight, text.room.width());
    return text;
}

QString TaskRowDelegate::ShownText(const QModelIndex& index) const {
    return Layout(index, view_->visualRect(index), view_->font()).shown;
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
    // The background as the style draws it; the text is ours, as Layout places it.
    const QString text = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    if (const QVariant percent = index.data(kPercentRole);
        index.column() == statusColumn_ && percent.isValid()) {
        opt.text = text;
        PaintProgress(painter, opt, qBound(0, percent.toInt(), 100));
        return;
    }
    const CellText layout = Layout(index, opt.rect, opt.font);
    painter->save();
    // An event that runs on over the empty status cell is drawn by both cells, each within its own bounds.
    painter->setClipRect(opt.rect);
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(QPalette::Text));
    painter->drawText(layout.room, Qt::AlignLeft | Qt::AlignVCenter, layout.shown);
    if (!layout.tail.isEmpty()) {
        painter->setFont(TailFont(opt.font));
        painter->setPen(QColor(kTailText));
        painter->drawText(layout.tailRoom, Qt::AlignRight | Qt::AlignVCenter, layout.tail);
    }
    painter->restore();
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
    trough.setColorAt(0, QColor(kTroughTop));
    trough.setColorAt(1, QColor(kTroughBottom));
    painter->fillPath(outline, trough);

    const QRectF chunk(track.left(), track.top(), track.width() * percent / 100.0, track.height());
    QLinearGradient fill(chunk.topLeft(), chunk.bottomLeft());
    fill.setColorAt(0, QColor(kFillTop));
    fill.setColorAt(0.5, QColor(kFillMiddle));
    fill.setColorAt(1, QColor(kFillBottom));
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
    painter->setPen(QColor(kFigureOnFill));
    painter->drawText(track, Qt::AlignCenter, option.text);
    painter->restore();
    painter->save();
    painter->setClipRect(
        QRectF(chunk.right(), track.top(), track.right() - chunk.right() + 1, track.height()));
    painter->setPen(QColor(kFigureOnTrough));
    painter->drawText(track, Qt::AlignCenter, option.text);
    painter->restore();

    painter->restore();
}
