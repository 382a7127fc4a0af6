#include "utility/network_map.h"

#include "gui/page_layout.h"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace zrq406::utility {

namespace {

// The widest a device's name is written on one line; longer names wrap at their spaces, never cut. With many devices
// the names wrap narrower, so that neighbours on the ellipse keep apart.
constexpr int kNameWidth = 150;
constexpr int kNarrowNameWidth = 80;
// How near (pixels) a click must be to a line to choose its link.
constexpr double kLineReach = 5;
// The marker of an unlabelled link.
constexpr int kMarker = 9;

// The link between stations `a` and `b` as `a` sees it, or as `b` sees it turned round when `a` was silent.
app::LinkRow linkBetween(const app::LinkTable& table, std::size_t a, std::size_t b) {
    const app::LinkRow* forward = nullptr;
    const app::LinkRow* back = nullptr;
    for (const app::LinkRow& row : table.rows) {
        if (row.from == table.stations[a] && row.to == table.stations[b])
            forward = &row;
        if (row.from == table.stations[b] && row.to == table.stations[a])
            back = &row;
    }
    app::LinkRow link = forward != nullptr ? *forward : app::LinkRow{table.stations[a], table.stations[b]};
    if ((forward == nullptr || !forward->known) && back != nullptr && back->known)
        link = app::LinkRow{back->to, back->from, back->rx, back->tx, true, back->listed};
    return link;
}

QColor linkColour(const app::LinkRow& row) {
    return rateColour(app::weakerRate(row), row.known);
}

// A name in lines no wider than `width`, broken at spaces; a single word wider than that stays whole.
QString wrappedName(const QFontMetrics& metrics, const QString& name, int width) {
    QStringList lines;
    for (const QString& word : name.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!lines.isEmpty() && metrics.horizontalAdvance(lines.back() + QLatin1Char(' ') + word) <= width)
            lines.back() += QLatin1Char(' ') + word;
        else
            lines.push_back(word);
    }
    return lines.join(QLatin1Char('\n'));
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

double distanceToSegment(const QPointF& p, const QPointF& a, const QPointF& b) {
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0) : 0.0;
    const QPointF nearest = a + t * ab;
    return std::hypot(p.x() - nearest.x(), p.y() - nearest.y());
}

} // namespace

QColor rateColour(std::uint32_t rate, bool known) {
    if (!known)
        return Qt::gray;
    if (rate < 50)
        return QColor(0xC0, 0x20, 0x20);
    if (rate <= 80)
        return QColor(0xB0, 0x6A, 0x00);
    return QColor(0x20, 0x90, 0x30);
}

NetworkMap::NetworkMap(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("networkMap"));
    setMinimumSize(360, 260);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void NetworkMap::setTable(const app::LinkTable& table, const app::HostsByDevice& hosts) {
    for (QToolButton* button : m_nodes)
        delete button;
    for (QToolButton* button : m_linkButtons)
        delete button;
    m_nodes.clear();
    m_linkButtons.clear();
    m_links.clear();
    m_weakest.clear();
    m_table = table;
    m_selected = -1;

    const std::size_t count = table.stations.size();
    for (std::size_t a = 0; a < count; ++a) {
        for (std::size_t b = a + 1; b < count; ++b)
            m_links.push_back(Link{linkBetween(table, a, b), a, b});
    }
    // The weakest known links, ties in station order.
    std::vector<std::size_t> order;
    for (std::size_t k = 0; k < m_links.size(); ++k) {
        if (m_links[k].row.known)
            order.push_back(k);
    }
    std::stable_sort(order.begin(), order.end(), [this](std::size_t x, std::size_t y) {
        return app::weakerRate(m_links[x].row) < app::weakerRate(m_links[y].row);
    });
    order.resize(std::min(order.size(), kWeakestLabelled));
    m_weakest = order;

    for (std::size_t i = 0; i < count; ++i) {
        auto* node = new QToolButton(this);
        node->setObjectName(QStringLiteral("mapDevice%1").arg(i));
        if (i == 0) {
            QFont bold = node->font();
            bold.setBold(true);
            node->setFont(bold);
        }
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
        button->setAccessibleName(name);
        button->setToolTip(name);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::StrongFocus);
        button->installEventFilter(new HoverWatch(button, [this, name] { Q_EMIT linkShown(name); }));
        connect(button, &QToolButton::clicked, this, [this, name, row = link.row] {
            Q_EMIT linkShown(name);
            Q_EMIT linkChosen(row.from, row.to);
        });
        button->show();
        m_linkButtons.push_back(button);
    }
    updateLabels();
}

std::size_t NetworkMap::chosenStation() const {
    return m_selected >= 0 ? static_cast<std::size_t>(m_selected) : 0;
}

bool NetworkMap::labelled(std::size_t k) const {
    if (k >= m_links.size())
        return false;
    if (m_links.size() <= kAllLabelled)
        return true;
    const std::size_t chosen = chosenStation();
    return m_links[k].a == chosen || m_links[k].b == chosen ||
           std::find(m_weakest.begin(), m_weakest.end(), k) != m_weakest.end();
}

void NetworkMap::updateLabels() {
    for (std::size_t k = 0; k < m_linkButtons.size(); ++k) {
        QToolButton* button = m_linkButtons[k];
        const app::LinkRow& row = m_links[k].row;
        const QString colour = linkColour(row).name();
        if (labelled(k)) {
            button->setText(row.known ? qtText(app::rateText(app::weakerRate(row), m_table.rateFieldMax))
                                      : QStringLiteral("?"));
            // The numbers sit on a plain patch over their line, so they stay readable whatever the line's colour.
            button->setStyleSheet(
                QStringLiteral("QToolButton { color: %1; font-weight: bold; background: palette(base); "
                               "border: 1px solid %1; border-radius: 3px; padding: 0px 3px; }"
                               "QToolButton:focus { border-width: 2px; }")
                    .arg(colour));
        } else {
            // A small marker on the line: it takes the focus and the pointer like a label, without covering others.
            button->setText(QString());
            button->setStyleSheet(QStringLiteral("QToolButton { background: %1; border: 1px solid palette(base); "
                                                 "border-radius: 4px; padding: 0px; }"
                                                 "QToolButton:focus, QToolButton:hover { border: 2px solid "
                                                 "palette(highlight); }")
                                      .arg(colour));
        }
        button->raise();
    }
    // Labels over markers.
    for (std::size_t k = 0; k < m_linkButtons.size(); ++k) {
        if (labelled(k))
            m_linkButtons[k]->raise();
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
    updateLabels();
}

QPointF NetworkMap::nodeCentre(std::size_t station) const {
    const std::size_t count = std::max<std::size_t>(m_table.stations.size(), 1);
    // The devices' boxes stay inside the map.
    QSize largest(90, 36);
    for (const QToolButton* node : m_nodes)
        largest = largest.expandedTo(node->sizeHint());
    largest = largest.boundedTo(size() / 3);
    const double marginX = largest.width() / 2.0 + 4;
    const double marginY = largest.height() / 2.0 + 4;
    const QRectF area = QRectF(rect()).adjusted(marginX, marginY, -marginX, -marginY);
    // The local device at the top, the others clockwise.
    const double angle = -std::numbers::pi / 2 + 2 * std::numbers::pi * static_cast<double>(station) / count;
    const double rx = area.width() / 2;
    const double ry = area.height() / 2;
    return area.center() + QPointF(rx * std::cos(angle), ry * std::sin(angle));
}

void NetworkMap::nameNodes() {
    // Neighbours at the top of the ellipse stand this far apart; a name wider than that wraps.
    const std::size_t count = m_nodes.size();
    const double spacing = count > 1 ? (width() - 100) / 2.0 * std::sin(2 * std::numbers::pi / count) : width();
    const int wrap = spacing < kNameWidth + 24 ? kNarrowNameWidth : kNameWidth;
    for (std::size_t i = 0; i < count; ++i) {
        QString text = wrappedName(m_nodes[i]->fontMetrics(), qtText(m_table.label(m_table.stations[i])), wrap);
        if (i == 0)
            text += QStringLiteral("\n(") + qtText(m_texts.local) + QLatin1Char(')');
        if (m_nodes[i]->text() != text)
            m_nodes[i]->setText(text);
    }
}

void NetworkMap::placeItems() {
    nameNodes();
    std::vector<QRect> taken;
    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
        QToolButton* node = m_nodes[i];
        QRect box(QPoint(), node->sizeHint().expandedTo(QSize(90, 36)));
        box.moveCenter(nodeCentre(i).toPoint());
        node->setGeometry(box);
        taken.push_back(box);
    }
    const auto place = [&](std::size_t k, QSize size, std::initializer_list<double> fractions) {
        const Link& link = m_links[k];
        // Along the line from the chosen device when it is one of the ends: the chosen device's labels then lie
        // around it like the devices themselves, and do not meet.
        const std::size_t chosen = chosenStation();
        const bool fromChosen = link.b == chosen;
        const QPointF from = nodeCentre(fromChosen ? link.b : link.a);
        const QPointF to = nodeCentre(fromChosen ? link.a : link.b);
        // Along the line first, then beside it; else where it covers the least.
        const QPointF along = to - from;
        const double length = std::max(1.0, std::hypot(along.x(), along.y()));
        const QPointF across(-along.y() / length, along.x() / length);
        QRect best;
        long long bestCover = -1;
        for (const double side : {0.0, 1.0, -1.0, 2.0, -2.0}) {
            for (const double at : fractions) {
                QRect box(QPoint(), size);
                box.moveCenter((from + along * at + across * (side * (size.height() + 2))).toPoint());
                long long cover = 0;
                for (const QRect& r : taken) {
                    const QRect both = r.intersected(box);
                    cover += both.isEmpty() ? 0 : static_cast<long long>(both.width()) * both.height();
                }
                if (!rect().contains(box))
                    cover += static_cast<long long>(size.width()) * size.height();
                if (bestCover < 0 || cover < bestCover) {
                    best = box;
                    bestCover = cover;
                }
                if (cover == 0)
                    break;
            }
            if (bestCover == 0)
                break;
        }
        m_linkButtons[k]->setGeometry(best);
        taken.push_back(best);
    };
    // Labels first, each at the first place along its line (from the middle outwards) that covers no device and no
    // label placed before it; the chosen device's first. Then the markers, which keep clear of the labels.
    for (const bool ofChosen : {true, false}) {
        for (std::size_t k = 0; k < m_linkButtons.size(); ++k) {
            const bool touches = m_links[k].a == chosenStation() || m_links[k].b == chosenStation();
            if (labelled(k) && touches == ofChosen)
                place(k, m_linkButtons[k]->sizeHint(), {0.5, 0.42, 0.58, 0.34, 0.66, 0.26, 0.74, 0.2, 0.8});
        }
    }
    for (std::size_t k = 0; k < m_linkButtons.size(); ++k) {
        if (!labelled(k))
            place(k, QSize(kMarker, kMarker), {0.3, 0.7, 0.4, 0.6, 0.22, 0.78, 0.5});
    }
}

int NetworkMap::linkAt(const QPointF& point) const {
    int nearest = -1;
    double distance = kLineReach;
    for (std::size_t k = 0; k < m_links.size(); ++k) {
        const double d = distanceToSegment(point, nodeCentre(m_links[k].a), nodeCentre(m_links[k].b));
        if (d <= distance) {
            distance = d;
            nearest = static_cast<int>(k);
        }
    }
    return nearest;
}

void NetworkMap::mousePressEvent(QMouseEvent* event) {
    const int k = linkAt(event->position());
    if (k < 0 || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const Link& link = m_links[static_cast<std::size_t>(k)];
    Q_EMIT linkShown(m_linkButtons[static_cast<std::size_t>(k)]->accessibleName());
    Q_EMIT linkChosen(link.row.from, link.row.to);
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
    // Thin lines first, so that the labelled ones lie over them.
    for (const bool labelledPass : {false, true}) {
        for (std::size_t k = 0; k < m_links.size(); ++k) {
            if (labelled(k) != labelledPass)
                continue;
            const Link& link = m_links[k];
            const bool present = link.row.known && link.row.listed;
            QPen pen(linkColour(link.row), labelledPass ? (present ? 3 : 1.5) : 1);
            if (!present)
                pen.setStyle(Qt::DashLine);
            const bool touchesSelected =
                m_selected >= 0 && (static_cast<int>(link.a) == m_selected || static_cast<int>(link.b) == m_selected);
            if (touchesSelected)
                pen.setWidthF(pen.widthF() + 2);
            painter.setPen(pen);
            painter.drawLine(nodeCentre(link.a), nodeCentre(link.b));
        }
    }
}

LinkMatrix::LinkMatrix(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("linkMatrix"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    connect(this, &QTableWidget::cellClicked, this, &LinkMatrix::choose);
    connect(this, &QTableWidget::cellActivated, this, &LinkMatrix::choose);
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int column) {
        if (QTableWidgetItem* cell = item(row, column); cell != nullptr && row != column)
            Q_EMIT linkShown(cell->data(Qt::AccessibleTextRole).toString());
    });
}

void LinkMatrix::setTable(const app::LinkTable& table) {
    m_table = table;
    const int count = static_cast<int>(table.stations.size());
    clear();
    setRowCount(count);
    setColumnCount(count);
    for (int i = 0; i < count; ++i) {
        const QString label = qtText(table.label(table.stations[static_cast<std::size_t>(i)]));
        const QString number = QString::number(i + 1);
        auto* rowHead = new QTableWidgetItem(number + QStringLiteral("  ") + label);
        rowHead->setToolTip(label);
        setVerticalHeaderItem(i, rowHead);
        auto* columnHead = new QTableWidgetItem(number);
        columnHead->setToolTip(label);
        setHorizontalHeaderItem(i, columnHead);
    }
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < count; ++j) {
            auto* cell = new QTableWidgetItem;
            cell->setTextAlignment(Qt::AlignCenter);
            if (i == j) {
                cell->setText(QString(QChar(0x2013)));
                cell->setFlags(Qt::NoItemFlags);
                cell->setData(Qt::AccessibleTextRole,
                              qtText(app::deviceAccessibleName(table, static_cast<std::size_t>(i), m_texts)));
                setItem(i, j, cell);
                continue;
            }
            const app::LinkRow row = linkBetween(table, static_cast<std::size_t>(i), static_cast<std::size_t>(j));
            const QString name = qtText(app::linkAccessibleName(table, row, m_texts));
            cell->setText(row.known ? qtText(row.listed ? app::rateText(row.tx, table.rateFieldMax) : m_texts.noLink)
                                    : QStringLiteral("?"));
            cell->setForeground(rateColour(row.tx, row.known && row.listed));
            QFont bold = font();
            bold.setBold(true);
            cell->setFont(bold);
            cell->setToolTip(name);
            cell->setData(Qt::AccessibleTextRole, name);
            setItem(i, j, cell);
        }
    }
    resizeColumnsToContents();
    resizeRowsToContents();
}

void LinkMatrix::choose(int row, int column) {
    if (row < 0 || column < 0 || row == column || row >= static_cast<int>(m_table.stations.size()) ||
        column >= static_cast<int>(m_table.stations.size()))
        return;
    const app::LinkRow link = linkBetween(m_table, static_cast<std::size_t>(row), static_cast<std::size_t>(column));
    Q_EMIT linkShown(item(row, column)->data(Qt::AccessibleTextRole).toString());
    Q_EMIT linkChosen(link.from, link.to);
}

} // namespace zrq406::utility
