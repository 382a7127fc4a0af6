#pragma once

// moc cannot parse the standard headers these reach; it needs none of their types.
#ifndef Q_MOC_RUN
#include "app/device_extras.h"
#include "app/link_table.h"
#include "app/link_texts.h"
#endif

#include <QWidget>
#include <vector>

class QToolButton;

namespace zrq406::utility {

// The devices of the network on a circle, the local one marked, and a line for every two of them coloured by the
// rate of its weaker direction and labelled with its numbers. Every device and every link is a button of its own:
// keyboard focus and screen readers reach each, with its numbers in its accessible name; hovering a link shows both
// directions.
class NetworkMap : public QWidget {
    Q_OBJECT
public:
    explicit NetworkMap(QWidget* parent = nullptr);

    void setTexts(const app::LinkTexts& texts) { m_texts = texts; }
    // Replaces the map with the devices and links of `table`; each device's tooltip names the hosts behind it.
    void setTable(const app::LinkTable& table, const app::HostsByDevice& hosts = {});
    const app::LinkTable& table() const { return m_table; }

    // Marks the device with this MAC as selected (no signal); an unknown MAC clears the mark.
    void selectStation(const MacAddress& mac);
    // The selected device's index in the table's stations, or -1.
    int selectedStation() const { return m_selected; }
    // One link per two devices: the first device's view, or the second's turned round when the first was silent.
    struct Link {
        app::LinkRow row;
        std::size_t a = 0;
        std::size_t b = 0;
    };
    const std::vector<Link>& links() const { return m_links; }

Q_SIGNALS:
    // The user chose a device on the map.
    void stationChosen(const MacAddress& mac);
    // The user chose or hovered a link: the accessible name with both directions.
    void linkShown(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeItems();
    QPointF nodeCentre(std::size_t station) const;

    app::LinkTexts m_texts;
    app::LinkTable m_table;
    std::vector<Link> m_links;
    std::vector<QToolButton*> m_nodes;
    std::vector<QToolButton*> m_linkButtons;
    int m_selected = -1;
};

} // namespace zrq406::utility
