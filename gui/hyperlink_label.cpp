#include "gui/hyperlink_label.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace zrq406 {

HyperlinkLabel::HyperlinkLabel(QWidget* parent)
    : QLabel(parent), m_opener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Link));
    setPalette(colours);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
}

QUrl HyperlinkLabel::url() const {
    const QUrl address(text().trimmed(), QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return address;
}

bool HyperlinkLabel::activate() {
    const QUrl address = url();
    if (address.isEmpty())
        return false;
    Q_EMIT activated(address);
    return m_opener && m_opener(address);
}

void HyperlinkLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        activate();
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        activate();
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void HyperlinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect =
        fontMetrics().boundingRect(contentsRect(), static_cast<int>(alignment()), text()).adjusted(-2, 0, 2, 0);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void HyperlinkLabel::changeEvent(QEvent* event) {
    // The dialog font is set on every control after it is made; the link keeps its underline.
    if (event->type() == QEvent::FontChange && !font().underline()) {
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
    }
    QLabel::changeEvent(event);
}

} // namespace zrq406
