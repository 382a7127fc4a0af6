#pragma once

// moc cannot parse the standard headers these reach; it needs none of their types.
#ifndef Q_MOC_RUN
#include "app/device_extras.h"
#include "app/link_table.h"
#include "app/link_texts.h"
#endif
#include "utility/utility_page.h"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace zrq406::utility {

class LinkMatrix;
class NetworkMap;
class UtilityContext;

// The network map tab: every device and every link between two of them, refreshed after each scan, as a map or as
// a link matrix (a switch above them), with the link under the pointer or the focus spelt out in both directions
// below. Choosing a link on either asks for its details (linkChosen).
class CNetworkMapPage : public UtilityPage {
    Q_OBJECT
public:
    explicit CNetworkMapPage(UtilityContext& context, QWidget* parent = nullptr);

    void showNoDevice() override;
    // The link table read after the latest scan, and the hosts behind its devices.
    void setLinks(const app::LinkTable& table, const app::HostsByDevice& hosts = {});
    // The links weakest first, as the report lists them.
    ListRows linkRows() const;
    NetworkMap* map() { return m_map; }
    LinkMatrix* matrix() { return m_matrix; }
    // Shows the matrix (true) or the map.
    void showMatrix(bool matrix);

Q_SIGNALS:
    void linkChosen(const MacAddress& from, const MacAddress& to);

private:
    app::LinkTexts m_texts;
    NetworkMap* m_map = nullptr;
    LinkMatrix* m_matrix = nullptr;
    QStackedWidget* m_views = nullptr;
    QPushButton* m_showMap = nullptr;
    QPushButton* m_showMatrix = nullptr;
    QLabel* m_details = nullptr;
    QLabel* m_note = nullptr;
};

} // namespace zrq406::utility
