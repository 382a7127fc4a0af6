#include "utility/network_map_page.h"

#include "gui/page_layout.h"
#include "utility/network_map.h"
#include "utility/utility_context.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace zrq406::utility {

CNetworkMapPage::CNetworkMapPage(UtilityContext& context, QWidget* parent)
    : UtilityPage(parent), m_texts(app::LinkTexts::load(context.texts)) {
    setObjectName(QStringLiteral("LinkMap"));
    m_map = new NetworkMap(this);
    m_map->setTexts(m_texts);
    m_map->setAccessibleName(qtText(m_texts.caption));
    m_matrix = new LinkMatrix(this);
    m_matrix->setTexts(m_texts);
    m_matrix->setAccessibleName(qtText(m_texts.matrix));
    m_views = new QStackedWidget(this);
    m_views->setObjectName(QStringLiteral("linkViews"));
    m_views->addWidget(m_map);
    // The matrix says above it what its rows and columns are.
    auto* matrixView = new QWidget(this);
    auto* matrixHead = new QLabel(qtText(m_texts.matrix), matrixView);
    matrixHead->setObjectName(QStringLiteral("linkMatrixHead"));
    matrixHead->setWordWrap(true);
    auto* matrixLayout = new QVBoxLayout(matrixView);
    matrixLayout->setContentsMargins(0, 0, 0, 0);
    matrixLayout->addWidget(matrixHead);
    matrixLayout->addWidget(m_matrix, 1);
    m_views->addWidget(matrixView);
    m_showMap = new QPushButton(qtText(m_texts.viewMap), this);
    m_showMap->setObjectName(QStringLiteral("btnShowMap"));
    m_showMatrix = new QPushButton(qtText(m_texts.viewMatrix), this);
    m_showMatrix->setObjectName(QStringLiteral("btnShowMatrix"));
    auto* group = new QButtonGroup(this);
    for (QPushButton* button : {m_showMap, m_showMatrix}) {
        button->setCheckable(true);
        button->setAutoDefault(false);
        group->addButton(button);
    }
    m_showMap->setChecked(true);
    auto* choose = new QLabel(qtText(m_texts.choose), this);
    choose->setObjectName(QStringLiteral("linkChoose"));
    choose->setWordWrap(true);
    m_details = new QLabel(this);
    m_details->setObjectName(QStringLiteral("linkDetails"));
    m_details->setWordWrap(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_note = new QLabel(qtText(m_texts.note), this);
    m_note->setObjectName(QStringLiteral("linkNote"));
    m_note->setWordWrap(true);
    m_note->setAccessibleName(m_note->text());
    auto* layout = new QVBoxLayout(this);
    auto* switches = new QHBoxLayout;
    switches->addWidget(m_showMap);
    switches->addWidget(m_showMatrix);
    switches->addWidget(choose, 1);
    layout->addLayout(switches);
    layout->addWidget(m_views, 1);
    layout->addWidget(m_details);
    layout->addWidget(m_note);
    const auto shown = [this](const QString& text) {
        m_details->setText(text);
        m_details->setAccessibleName(text);
    };
    connect(m_map, &NetworkMap::linkShown, this, shown);
    connect(m_matrix, &LinkMatrix::linkShown, this, shown);
    connect(m_map, &NetworkMap::linkChosen, this, &CNetworkMapPage::linkChosen);
    connect(m_matrix, &LinkMatrix::linkChosen, this, &CNetworkMapPage::linkChosen);
    connect(m_showMap, &QPushButton::clicked, this, [this] { showMatrix(false); });
    connect(m_showMatrix, &QPushButton::clicked, this, [this] { showMatrix(true); });
}

void CNetworkMapPage::showMatrix(bool matrix) {
    m_views->setCurrentIndex(matrix ? 1 : 0);
    (matrix ? m_showMatrix : m_showMap)->setChecked(true);
}

void CNetworkMapPage::showNoDevice() {
    setLinks(app::LinkTable{});
}

void CNetworkMapPage::setLinks(const app::LinkTable& table, const app::HostsByDevice& hosts) {
    m_map->setTable(table, hosts);
    m_matrix->setTable(table);
    m_details->clear();
}

ListRows CNetworkMapPage::linkRows() const {
    return app::linkRows(m_map->table(), m_texts);
}

} // namespace zrq406::utility
