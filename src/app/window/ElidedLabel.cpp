#include "app/window/ElidedLabel.h"

#include <cmath>

namespace {

constexpr QChar Ellipsis(0x2026);

}  // namespace

TElidedLabel::TElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

void TElidedLabel::SetFullText(const QString& text) {
    full_ = text;
    Elide();
    updateGeometry();
}

QSize TElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    // Glyphs are placed at fractions of a pixel: the whole text needs the next pixel up.
    const int text = static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(full_)));
    return {text + 2 * margin() + margins.left() + margins.right(), QLabel::sizeHint().height()};
}

QSize TElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(Ellipsis), QLabel::minimumSizeHint().height()};
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void TElidedLabel::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    Elide();
}

// The middle goes, so that the start and the end of a name (its extension, its frame) stay. A
// label not shown has no room of its own yet: it holds the whole text until it is.
void TElidedLabel::Elide() {
    const QString shown = isVisible() ? fontMetrics().elidedText(full_, Qt::ElideMiddle, contentsRect().width() - 2 * margin())
                                      : full_;
    setToolTip(shown == full_ ? QString() : full_);
    if (shown != text()) setText(shown);
}
