#include "utility/network_map_page.h"

#include "gui/page_layout.h"
#include "utility/network_map.h"
#include "utility/utility_context.h"

#include <QLabel>
#include <QVBoxLayout>

namespace zrq406::utility {

CNetworkMapPage::CNetworkMapPage(UtilityContext& context, QWidget* parent)
    : UtilityPage(parent), m_texts(app::LinkTexts::load(context.texts)) {
    setObjectName(QStringLiteral("LinkMap"));
    m_map = new NetworkMap(this);
    m_map->setTexts(m_texts);
    m_map->setAccessibleName(qtText(m_texts.caption));
    m_details = new QLabel(this);
    m_details->setObjectName(QStringLiteral("linkDetails"));
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_note = new QLabel(qtText(m_texts.note), this);
    m_note->setObjectName(QStringLiteral("linkNote"));
    m_note->setWordWrap(true);
    m_note->setAccessibleName(m_note->text());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_map, 1);
    layout->addWidget(m_details);
    layout->addWidget(m_note);
    connect(m_map, &NetworkMap::linkShown, this, [this](const QString& text) {
        m_details->setText(text);
        m_details->setAccessibleName(text);
    });
}

void CNetworkMapPage::showNoDevice() {
    setLinks(app::LinkTable{});
}

void CNetworkMapPage::setLinks(const app::LinkTable& table, const app::HostsByDevice& hosts) {
    m_map->setTable(table, hosts);
    m_details->clear();
}

ListRows CNetworkMapPage::linkRows() const {
    return app::linkRows(m_map->table(), m_texts);
}

} // namespace zrq406::utility
