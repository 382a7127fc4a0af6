#include "gui/picture_box.h"

#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QSvgRenderer>

static void initPictureResources() {
    Q_INIT_RESOURCE(pictures);
}

namespace zrq406 {

void initPictures() {
    initPictureResources();
}

PictureBox::PictureBox(const QString& picture, QWidget* parent)
    : QWidget(parent), m_renderer(new QSvgRenderer(QStringLiteral(":/zrq406/%1.svg").arg(picture), this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QIcon PictureBox::applicationIcon() {
    initPictures();
    return QIcon(QStringLiteral(":/zrq406/zrq406.svg"));
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    QLinearGradient band(rect().topLeft(), rect().topRight());
    band.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
    band.setColorAt(1.0, QColor(0xe4, 0xee, 0xf8));
    painter.fillRect(rect(), band);
    if (!m_renderer->isValid())
        return;
    const int margin = 4;
    const int side = std::max(0, height() - 2 * margin);
    const QSizeF natural = m_renderer->defaultSize();
    const double aspect = natural.height() > 0 ? natural.width() / natural.height() : 1.0;
    const QRectF target(margin * 2, margin, side * aspect, side);
    painter.setRenderHint(QPainter::Antialiasing);
    m_renderer->render(&painter, target);
}

} // namespace zrq406
