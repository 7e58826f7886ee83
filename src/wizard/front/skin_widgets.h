#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QString>
#include <QWidget>

class QPainter;

// The window's own title band: a style-sheet background with the window glyph and the caption painted on it.
class TitleBand : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ Text WRITE SetText)

public:
    explicit TitleBand(QWidget* parent = nullptr);
    QString Text() const { return text_; }
    void SetText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

// A framed box whose caption sits in a header line at its top; border and background come from the style
// sheet.
class CaptionFrame : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QColor captionColor READ CaptionColor WRITE SetCaptionColor)
    Q_PROPERTY(QColor ruleColor READ RuleColor WRITE SetRuleColor)

public:
    explicit CaptionFrame(QWidget* parent = nullptr);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    QColor CaptionColor() const { return captionColor_; }
    void SetCaptionColor(const QColor& color);
    QColor RuleColor() const { return ruleColor_; }
    void SetRuleColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    QColor captionColor_{0x0b, 0x3d, 0x80};
    QColor ruleColor_{0xc5, 0xd4, 0xe6};
};

// The page's text: a label that assistive technology reads as text (see skin_accessibility.h).
class PageText : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;
};

// A widget that shows one of the run-time drawings. The drawing may be confined to part of the widget.
class ArtworkView : public QWidget {
    Q_OBJECT

public:
    using Painter = void (*)(QPainter&, const QRectF&);
    ArtworkView(Painter painter, QWidget* parent = nullptr);
    QRect ArtRect() const { return artRect_.isNull() ? rect() : artRect_.intersected(rect()); }
    void SetArtRect(const QRect& rect);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Painter painter_;
    QRect artRect_;  // null: the whole widget
};

// The running transfer's bar as assistive technology sees it: its value, its step as the name and the rate
// and time left as the description. It lies over the bar the row paints and paints nothing itself.
class RowProgress : public QProgressBar {
    Q_OBJECT

public:
    explicit RowProgress(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override {}
};
