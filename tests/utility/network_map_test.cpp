#include "gui/report_list.h"
#include "tests/support/accessibility.h"
#include "utility/network_map.h"
#include "utility/network_map_page.h"
#include "utility/network_page.h"
#include "utility_fixture.h"

#include <QTabWidget>
#include <QTest>
#include <QToolButton>

using namespace zrq406;
using zrq406::test::UtilityTest;
using zrq406::test::withFault;

namespace {
const std::string kSilent = "00:b0:52:5a:00:04";

QString accessibleName(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}
} // namespace

TEST_F(UtilityTest, MapNamesEveryDeviceAndLinkWithItsNumbersAndFollowsTheList) {
    makeWindow(withFault(kSilent, {{"kind", "drop"}, {"message", "network-info"}, {"share", 1}}));
    ASSERT_TRUE(startAndWait());
    utility::CNetworkMapPage* page = main->networkMapPage();
    utility::NetworkMap* map = page->map();
    const app::LinkTable& table = map->table();
    ASSERT_EQ(table.stations.size(), 4u);
    EXPECT_TRUE(test::unnamedControls(page).empty());

    const auto nodes = map->findChildren<QToolButton*>(QRegularExpression(QStringLiteral("^mapDevice")));
    ASSERT_EQ(nodes.size(), 4);
    for (std::size_t i = 0; i < table.stations.size(); ++i) {
        auto* node = map->findChild<QToolButton*>(QStringLiteral("mapDevice%1").arg(i));
        ASSERT_NE(node, nullptr);
        EXPECT_TRUE(accessibleName(node).contains(QString::fromStdString(table.stations[i].text())));
        EXPECT_EQ(node->focusPolicy(), Qt::StrongFocus);
    }
    EXPECT_TRUE(accessibleName(nodes[0]).contains(QStringLiteral("(local)")));

    // One link per two devices, each named with both directions' numbers as its sending end reports them, or as
    // unknown where neither end answered for it.
    ASSERT_EQ(map->links().size(), 6u);
    for (const auto& link : map->links()) {
        auto* button = map->findChild<QToolButton*>(QStringLiteral("mapLink%1_%2").arg(link.a).arg(link.b));
        ASSERT_NE(button, nullptr);
        const std::string name = accessibleName(button).toStdString();
        const std::string from = table.label(table.stations[link.a]);
        const std::string to = table.label(table.stations[link.b]);
        ASSERT_TRUE(link.row.known) << name;
        EXPECT_EQ(name, "Link " + table.label(link.row.from) + " to " + table.label(link.row.to) + ": transmit " +
                            std::to_string(link.row.tx) + ", receive " + std::to_string(link.row.rx) + " Mbit/s");
        EXPECT_NE(name.find(from), std::string::npos);
        EXPECT_NE(name.find(to), std::string::npos);
        EXPECT_EQ(button->text().toStdString(), std::to_string(app::weakerRate(link.row)));
    }

    // The silent device's links come from the other ends; its own view stays unknown in the report.
    bool unknownListed = false;
    for (const auto& row : page->linkRows())
        unknownListed = unknownListed || row[2] == "unknown (no answer)";
    EXPECT_TRUE(unknownListed);

    ReportList* list = main->networkPage()->list();
    list->selectRow(2);
    ASSERT_GE(map->selectedStation(), 0);
    EXPECT_EQ(table.stations[static_cast<std::size_t>(map->selectedStation())].text(),
              list->cell(2, utility::CNetworkPage::Mac));
    main->tabs()->setCurrentWidget(page);
    QTest::mouseClick(nodes[3], Qt::LeftButton);
    ASSERT_GE(list->selectedRow(), 0);
    EXPECT_EQ(list->cell(list->selectedRow(), utility::CNetworkPage::Mac), table.stations[3].text());
    EXPECT_EQ(map->selectedStation(), 3);
}
