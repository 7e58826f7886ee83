#include "wizard/front/skin_accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QLabel>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <algorithm>
#include <memory>
#include <vector>

#include "wizard/front/skin_widgets.h"

namespace {

constexpr char kDecoration[] = "kavDecoration";

// A container as a reader takes it in: its parts from top to bottom and left to right, decoration left out.
class SkinContainer : public QAccessibleWidget {
public:
    SkinContainer(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    int childCount() const override { return int(Parts().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> parts = Parts();
        return index >= 0 && index < parts.size() ? QAccessible::queryAccessibleInterface(parts[index])
                                                  : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr ? int(Parts().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
    }
    QString text(QAccessible::Text t) const override {
        // The page's caption is painted, and is what its text is about.
        if (const auto* frame = qobject_cast<const CaptionFrame*>(widget()); frame && t == QAccessible::Name)
            return frame->Caption();
        return QAccessibleWidget::text(t);
    }

private:
    QList<QWidget*> Parts() const {
        QList<QWidget*> parts;
        for (QObject* object : widget()->children())
            if (auto* part = qobject_cast<QWidget*>(object);
                part != nullptr && !part->isWindow() && !part->property(kDecoration).toBool())
                parts << part;
        std::stable_sort(parts.begin(), parts.end(), [](const QWidget* a, const QWidget* b) {
            return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x());
        });
        return parts;
    }
};

// A label's plain text as text: walked by character, word, sentence or line as it is laid out, selected. The
// empty lines that make room for a picture above the text are left out.
class LabelText : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelText(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    // A box's icon is a label too: a picture, and no text.
    QAccessible::Role role() const override {
        return Label()->pixmap().isNull() ? QAccessible::StaticText : QAccessible::Graphic;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TextInterface && role() == QAccessible::StaticText
                   ? static_cast<QAccessibleTextInterface*>(this)
                   : QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        // A description would read the whole text a second time.
        if (t == QAccessible::Description)
            return {};
        if (t == QAccessible::Name && Label()->accessibleName().isEmpty())
            return Shown();
        return QAccessibleWidget::text(t);
    }

    QString text(int start, int end) const override { return Shown().mid(start, end - start); }
    int characterCount() const override { return int(Shown().size()); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override {
        return Line(type, offset, 0, start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override {
        return Line(type, offset, -1, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override {
        return Line(type, offset, 1, start, end);
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && Label()->hasSelectedText()) {
            *start = Label()->selectionStart() - Lead();
            *end = *start + int(Label()->selectedText().size());
        }
    }
    int selectionCount() const override { return Label()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { Label()->setSelection(0, 0); }
    void setSelection(int, int start, int end) override {
        start = std::clamp(start, 0, characterCount());
        end = std::clamp(end, start, characterCount());
        Label()->setSelection(start + Lead(), end - start);
    }
    int cursorPosition() const override { return cursor_; }
    void setCursorPosition(int position) override { cursor_ = std::clamp(position, 0, characterCount()); }

    QRect characterRect(int offset) const override {
        const auto doc = Document();
        const QTextBlock block = doc->findBlock(offset + Lead());
        const QTextLine line = block.layout()->lineForTextPosition(offset + Lead() - block.position());
        if (!line.isValid())
            return {};
        const int position = offset + Lead() - block.position();
        const qreal x = line.cursorToX(position);
        const qreal right = line.cursorToX(position + 1);
        const QPointF origin = block.layout()->position() + TextRect().topLeft();
        const QRectF box(origin.x() + x, origin.y() + line.y(), qMax<qreal>(1, right - x), line.height());
        return QRect(Label()->mapToGlobal(box.topLeft().toPoint()), box.size().toSize());
    }
    int offsetAtPoint(const QPoint& point) const override {
        const auto doc = Document();
        const QPointF local = Label()->mapFromGlobal(point) - TextRect().topLeft();
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            const QTextLayout* layout = block.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                const QRectF box = line.rect().translated(layout->position());
                if (local.y() >= box.top() && local.y() < box.bottom()) {
                    const int at = block.position() + line.xToCursor(local.x()) - Lead();
                    return std::clamp(at, 0, characterCount());
                }
            }
        }
        return -1;
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

private:
    QLabel* Label() const { return static_cast<QLabel*>(widget()); }
    // What the label shows, as plain text.
    QString Plain() const {
        const QString text = Label()->text();
        const Qt::TextFormat format = Label()->textFormat();
        const bool rich = format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
        return rich ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
    }
    int Lead() const {
        const QString all = Plain();
        int lead = 0;
        while (lead < all.size() && all[lead].isSpace())
            ++lead;
        return lead;
    }
    QString Shown() const { return Plain().mid(Lead()).trimmed(); }
    QRect TextRect() const {
        const int margin = Label()->margin();
        return Label()->contentsRect().adjusted(margin, margin, -margin, -margin);
    }
    // The text laid out as the label lays it out, in label offsets.
    std::unique_ptr<QTextDocument> Document() const {
        auto doc = std::make_unique<QTextDocument>();
        doc->setDocumentMargin(0);
        doc->setDefaultFont(Label()->font());
        QTextOption option;
        option.setWrapMode(Label()->wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
        doc->setDefaultTextOption(option);
        doc->setPlainText(Plain());
        doc->setTextWidth(TextRect().width());
        doc->size();  // lays it out: until then the blocks have no lines
        return doc;
    }
    // The lines as shown, in the text's offsets: each with the line break that ends it.
    std::vector<std::pair<int, int>> Lines() const {
        const auto doc = Document();
        const int lead = Lead();
        const int count = characterCount();
        std::vector<std::pair<int, int>> lines;
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            const QTextLayout* layout = block.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                const bool last = i == layout->lineCount() - 1;
                const int from = block.position() + line.textStart() - lead;
                const int to = from + line.textLength() + (last ? 1 : 0);
                if (to > 0 && from < count)
                    lines.emplace_back(std::max(from, 0), std::min(to, count));
            }
        }
        return lines;
    }
    // The line at offset, or the one before or after it; other boundaries as Qt finds them.
    QString Line(QAccessible::TextBoundaryType type, int offset, int step, int* start, int* end) const {
        if (type != QAccessible::LineBoundary) {
            if (step < 0)
                return QAccessibleTextInterface::textBeforeOffset(offset, type, start, end);
            if (step > 0)
                return QAccessibleTextInterface::textAfterOffset(offset, type, start, end);
            return QAccessibleTextInterface::textAtOffset(offset, type, start, end);
        }
        *start = *end = -1;
        const auto lines = Lines();
        if (lines.empty())
            return {};
        qsizetype at = std::find_if(lines.begin(), lines.end(), [&](auto l) { return offset < l.second; }) -
                       lines.begin();
        at = std::min(at, qsizetype(lines.size()) - 1) + step;
        if (at < 0 || at >= qsizetype(lines.size()))
            return {};
        std::tie(*start, *end) = lines[std::size_t(at)];
        return text(*start, *end);
    }

    int cursor_ = 0;
};

QAccessibleInterface* SkinAccessible(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr)
        return nullptr;
    if (className == QLatin1String("WizardWindow"))
        return new SkinContainer(widget, QAccessible::Window);
    if (className == QLatin1String("CaptionFrame"))
        return new SkinContainer(widget, QAccessible::Grouping);
    if (className == QLatin1String("PageText"))
        return new LabelText(static_cast<QLabel*>(widget));
    // A box's text; asked for as the box makes it, before its text and format are set.
    if (className == QLatin1String("QLabel") && qobject_cast<QMessageBox*>(widget->window()))
        return new LabelText(static_cast<QLabel*>(widget));
    return nullptr;
}

}  // namespace

void InstallSkinAccessibility() {
    static const bool installed = (QAccessible::installFactory(SkinAccessible), true);
    Q_UNUSED(installed);
}

void MarkDecoration(QWidget* widget) {
    widget->setProperty(kDecoration, true);
}

void Announce(QObject* source, const QString& message) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (QAccessible::isActive() && !message.isEmpty()) {
        QAccessibleAnnouncementEvent event(source, message);
        QAccessible::updateAccessibility(&event);
    }
#else
    Q_UNUSED(source);
    Q_UNUSED(message);
#endif
}

void TellRowAdded(QAbstractItemView* view, int row) {
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    QAccessibleTableInterface* table = list != nullptr ? list->tableInterface() : nullptr;
    if (table == nullptr)
        return;
    for (int column = 0; column < table->columnCount(); ++column) {
        if (QAccessibleInterface* cell = table->cellAt(row, column)) {
            QAccessibleEvent event(cell, QAccessible::ObjectCreated);
            QAccessible::updateAccessibility(&event);
        }
    }
}
