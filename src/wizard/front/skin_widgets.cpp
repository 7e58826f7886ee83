#include "wizard/front/skin_widgets.h"

#include <QPainter>
#include <QStyleOption>

#include "wizard/front/artwork.h"

namespace {

// Custom widgets only get their style-sheet background and border when they draw PE_Widget themselves.
void PaintStyledBackground(QWidget* widget, QPainter& p) {
    QStyleOption option;
    option.initFrom(widget);
    widget->style()->drawPrimitive(QStyle::PE_Widget, &option, &p, widget);
}

// The caption's header line: the children inside the frame start below it.
constexpr int kHeaderHeight = 16;

}  // namespace

TitleBand::TitleBand(QWidget* parent) : QWidget(parent) {}

void TitleBand::SetText(const QString& text) {
    text_ = text;
    update();
}

void TitleBand::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintStyledBackground(this, p);
    p.setRenderHint(QPainter::Antialiasing);

    // A glossy upper half gives the band its raised look.
    QLinearGradient gloss(0, 0, 0, height() / 2.0);
    gloss.setColorAt(0, QColor(255, 255, 255, 60));
    gloss.setColorAt(1, QColor(255, 255, 255, 8));
    p.fillRect(QRectF(0, 0, width(), height() / 2.0), gloss);

    const QRect inner = contentsRect();
    const int glyph = qMin(20, inner.height() - 4);
    artwork::PaintDiveComputerGlyph(
        p, QRectF(inner.left(), inner.top() + (inner.height() - glyph) / 2.0, glyph, glyph));

    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    const QRect textBox = inner.adjusted(glyph + 8, 0, 0, 0);
    p.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
               fontMetrics().elidedText(text_, Qt::ElideRight, textBox.width()));
}

CaptionFrame::CaptionFrame(QWidget* parent) : QFrame(parent) {}

void CaptionFrame::SetCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void CaptionFrame::SetCaptionColor(const QColor& color) {
    captionColor_ = color;
    update();
}

void CaptionFrame::SetRuleColor(const QColor& color) {
    ruleColor_ = color;
    update();
}

void CaptionFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    const int side = 10;
    p.setPen(ruleColor_);
    p.drawLine(side - 2, kHeaderHeight, width() - side + 1, kHeaderHeight);
    if (caption_.isEmpty()) {
        return;
    }
    p.setFont(font());
    p.setPen(captionColor_);
    const QRect box(side, 1, width() - 2 * side, kHeaderHeight - 1);
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter,
               fontMetrics().elidedText(caption_, Qt::ElideRight, box.width()));
}

RowProgress::RowProgress(QWidget* parent) : QProgressBar(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setRange(0, 100);
}

ArtworkView::ArtworkView(Painter painter, QWidget* parent) : QWidget(parent), painter_(painter) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ArtworkView::SetArtRect(const QRect& rect) {
    artRect_ = rect;
    update();
}

void ArtworkView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    painter_(p, ArtRect());
}
