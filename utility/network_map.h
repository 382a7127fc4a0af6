#pragma once

// moc cannot parse the standard headers these reach; it needs none of their types.
#ifndef Q_MOC_RUN
#include "app/device_extras.h"
#include "app/link_table.h"
#include "app/link_texts.h"
#endif

#include <QTableWidget>
#include <QWidget>
#include <vector>

class QToolButton;

namespace zrq406::utility {

// The colour of a rate at the device list's quality steps; grey when the rate was never told.
QColor rateColour(std::uint32_t rate, bool known);

// The devices of the network on an ellipse, the local one marked, and a line for every two of them coloured by the
// rate of its weaker direction. In a small network every line is labelled with its numbers; past five devices only
// the links of the chosen device (the local one while none is chosen) and the weakest few are, the others are thin
// lines with a small marker. Every device and every link is a button of its own: keyboard focus and screen readers
// reach each, with its numbers in its accessible name; hovering a link shows both directions, clicking it (or its
// line) chooses it.
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
    // Whether the k-th link shows its numbers on the map.
    bool labelled(std::size_t k) const;
    // The link nearest to `point` within a few pixels of its line, or -1.
    int linkAt(const QPointF& point) const;

    // Links labelled in any network: those of the chosen device and this many of the weakest others.
    static constexpr std::size_t kWeakestLabelled = 3;
    // Up to this many links (five devices) every link is labelled.
    static constexpr std::size_t kAllLabelled = 10;

Q_SIGNALS:
    // The user chose a device on the map.
    void stationChosen(const MacAddress& mac);
    // The user chose or hovered a link: the accessible name with both directions.
    void linkShown(const QString& text);
    // The user clicked a link: the first device's view of it (from, to).
    void linkChosen(const MacAddress& from, const MacAddress& to);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    // The chosen device, whose links are labelled: the selected one, else the local one.
    std::size_t chosenStation() const;
    // Shows the numbers on the labelled links' buttons and a marker on the others.
    void updateLabels();
    void placeItems();
    // Writes each device's name on its button, wrapped to the room its neighbours leave.
    void nameNodes();
    QPointF nodeCentre(std::size_t station) const;

    app::LinkTexts m_texts;
    app::LinkTable m_table;
    std::vector<Link> m_links;
    std::vector<QToolButton*> m_nodes;
    std::vector<QToolButton*> m_linkButtons;
    int m_selected = -1;
    // The weakest few links, labelled whichever device is chosen.
    std::vector<std::size_t> m_weakest;
};

// The links as a matrix: a row per transmitting device, a column per receiving one, each cell the rate of that
// direction coloured at the quality steps and named as the map names the link from the row's device. The columns
// are numbered; each row names its device after its number. Clicking a cell (or Enter on it) chooses its link.
class LinkMatrix : public QTableWidget {
    Q_OBJECT
public:
    explicit LinkMatrix(QWidget* parent = nullptr);

    void setTexts(const app::LinkTexts& texts) { m_texts = texts; }
    void setTable(const app::LinkTable& table);
    const app::LinkTable& table() const { return m_table; }

Q_SIGNALS:
    void linkChosen(const MacAddress& from, const MacAddress& to);
    void linkShown(const QString& text);

private:
    void choose(int row, int column);

    app::LinkTexts m_texts;
    app::LinkTable m_table;
};

} // namespace zrq406::utility
