#include "utility/network_map.h"

#include "gui/page_layout.h"

#include <QEvent>
#include <QPainter>
#include <QToolButton>
#include <cmath>
#include <functional>
#include <numbers>

namespace zrq406::utility {

namespace {

// Colours of the weaker direction's rate, at the device list's quality steps; the numbers are always written
// beside them.
QColor rateColour(const app::LinkRow& row) {
    if (!row.known)
        return Qt::gray;
    const std::uint32_t rate = app::weakerRate(row);
    if (rate < 50)
        return QColor(0xC0, 0x20, 0x20);
    if (rate <= 80)
        return QColor(0xB0, 0x6A, 0x00);
    return QColor(0x20, 0x90, 0x30);
}

// Tells the map when the pointer rests on a link's button.
class HoverWatch : public QObject {
public:
    HoverWatch(QObject* parent, std::function<void()> entered) : QObject(parent), m_entered(std::move(entered)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Enter || event->type() == QEvent::FocusIn)
            m_entered();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_entered;
};

} // namespace

NetworkMap::NetworkMap(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("networkMap"));
    setMinimumSize(360, 260);
}

void NetworkMap::setTable(const app::LinkTable& table, const app::HostsByDevice& hosts) {
    for (QToolButton* button : m_nodes)
        delete button;
    for (QToolButton* button : m_linkButtons)
        delete button;
    m_nodes.clear();
    m_linkButtons.clear();
    m_links.clear();
    m_table = table;
    m_selected = -1;

    const std::size_t count = table.stations.size();
    const auto rowOf = [&](std::size_t from, std::size_t to) -> const app::LinkRow* {
        for (const app::LinkRow& row : table.rows) {
            if (row.from == table.stations[from] && row.to == table.stations[to])
                return &row;
        }
        return nullptr;
    };
    for (std::size_t a = 0; a < count; ++a) {
        for (std::size_t b = a + 1; b < count; ++b) {
            const app::LinkRow* forward = rowOf(a, b);
            const app::LinkRow* back = rowOf(b, a);
            Link link{forward != nullptr ? *forward : app::LinkRow{}, a, b};
            if ((forward == nullptr || !forward->known) && back != nullptr && back->known)
                link.row = app::LinkRow{back->to, back->from, back->rx, back->tx, true, back->listed};
            m_links.push_back(link);
        }
    }

    for (std::size_t i = 0; i < count; ++i) {
        auto* node = new QToolButton(this);
        node->setObjectName(QStringLiteral("mapDevice%1").arg(i));
        if (i == 0) {
            QFont bold = node->font();
            bold.setBold(true);
            node->setFont(bold);
        }
        // Long names are cut on the map; the tooltip and the accessible name carry them whole.
        QString text = node->fontMetrics().elidedText(qtText(table.label(table.stations[i])), Qt::ElideRight, 156);
        if (i == 0)
            text += QStringLiteral("\n(") + qtText(m_texts.local) + QLatin1Char(')');
        node->setText(text);
        node->setCheckable(true);
        node->setAutoRaise(false);
        node->setFocusPolicy(Qt::StrongFocus);
        node->setAccessibleName(qtText(app::deviceAccessibleName(table, i, m_texts)));
        QString tip = node->accessibleName();
        if (const auto it = hosts.find(table.stations[i]); it != hosts.end()) {
            const QString behind = qtText(app::hostsText(it->second, m_texts.hosts, m_texts.noHosts));
            node->setAccessibleDescription(behind);
            if (!behind.isEmpty())
                tip += QStringLiteral("\n") + behind;
        }
        node->setToolTip(tip);
        connect(node, &QToolButton::clicked, this, [this, i] {
            selectStation(m_table.stations[i]);
            Q_EMIT stationChosen(m_table.stations[i]);
        });
        node->show();
        m_nodes.push_back(node);
    }
    for (std::size_t k = 0; k < m_links.size(); ++k) {
        const Link& link = m_links[k];
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("mapLink%1_%2").arg(link.a).arg(link.b));
        const QString name = qtText(app::linkAccessibleName(m_table, link.row, m_texts));
        button->setText(link.row.known ? qtText(app::rateText(app::weakerRate(link.row), m_table.rateFieldMax))
                                       : QStringLiteral("?"));
        button->setAccessibleName(name);
        button->setToolTip(name);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::StrongFocus);
        // The numbers sit on a plain patch over their line, so they stay readable whatever the line's colour.
        button->setStyleSheet(QStringLiteral("QToolButton { color: %1; font-weight: bold; background: palette(base); "
                                             "border: 1px solid %1; border-radius: 3px; padding: 0px 3px; }"
                                             "QToolButton:focus { border-width: 2px; }")
                                  .arg(rateColour(link.row).name()));
        button->installEventFilter(new HoverWatch(button, [this, name] { Q_EMIT linkShown(name); }));
        connect(button, &QToolButton::clicked, this, [this, name] { Q_EMIT linkShown(name); });
        button->show();
        m_linkButtons.push_back(button);
    }
    placeItems();
    update();
}

void NetworkMap::selectStation(const MacAddress& mac) {
    m_selected = -1;
    for (std::size_t i = 0; i < m_table.stations.size(); ++i) {
        const bool chosen = m_table.stations[i] == mac;
        if (chosen)
            m_selected = static_cast<int>(i);
        m_nodes[i]->setChecked(chosen);
    }
    update();
}

QPointF NetworkMap::nodeCentre(std::size_t station) const {
    const std::size_t count = std::max<std::size_t>(m_table.stations.size(), 1);
    const QRectF area = QRectF(rect()).adjusted(90, 30, -90, -30);
    // The local device at the top, the others clockwise.
    const double angle = -std::numbers::pi / 2 + 2 * std::numbers::pi * static_cast<double>(station) / count;
    const double rx = area.width() / 2;
    const double ry = area.height() / 2;
    return area.center() + QPointF(rx * std::cos(angle), ry * std::sin(angle));
}

void NetworkMap::placeItems() {
    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
        QToolButton* node = m_nodes[i];
        node->adjustSize();
        QRect box(QPoint(), node->sizeHint().expandedTo(QSize(90, 36)).boundedTo(QSize(170, 60)));
        box.moveCenter(nodeCentre(i).toPoint());
        node->setGeometry(box);
    }
    for (std::size_t k = 0; k < m_linkButtons.size(); ++k) {
        QToolButton* button = m_linkButtons[k];
        const Link& link = m_links[k];
        // A little off the middle, so that the labels of lines crossing at the centre do not cover each other.
        const QPointF at = nodeCentre(link.a) * 0.55 + nodeCentre(link.b) * 0.45;
        QRect box(QPoint(), button->sizeHint());
        box.moveCenter(at.toPoint());
        button->setGeometry(box);
    }
}

void NetworkMap::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeItems();
}

void NetworkMap::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_table.stations.empty()) {
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, qtText(m_texts.empty));
        return;
    }
    for (const Link& link : m_links) {
        QPen pen(rateColour(link.row), link.row.known && link.row.listed ? 3 : 1);
        if (!link.row.known || !link.row.listed)
            pen.setStyle(Qt::DashLine);
        const bool touchesSelected =
            m_selected >= 0 && (static_cast<int>(link.a) == m_selected || static_cast<int>(link.b) == m_selected);
        if (touchesSelected)
            pen.setWidth(pen.width() + 2);
        painter.setPen(pen);
        painter.drawLine(nodeCentre(link.a), nodeCentre(link.b));
    }
}

} // namespace zrq406::utility
