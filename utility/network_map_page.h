#pragma once

// moc cannot parse the standard headers these reach; it needs none of their types.
#ifndef Q_MOC_RUN
#include "app/device_extras.h"
#include "app/link_table.h"
#include "app/link_texts.h"
#endif
#include "utility/utility_page.h"

class QLabel;

namespace zrq406::utility {

class NetworkMap;
class UtilityContext;

// The network map tab: every device and every link between two of them, refreshed after each scan, with the link
// under the pointer or the focus spelt out in both directions below the map.
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

private:
    app::LinkTexts m_texts;
    NetworkMap* m_map = nullptr;
    QLabel* m_details = nullptr;
    QLabel* m_note = nullptr;
};

} // namespace zrq406::utility
