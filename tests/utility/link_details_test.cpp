#include "gui/report_list.h"
#include "tests/support/accessibility.h"
#include "utility/link_details_dialog.h"
#include "utility/network_map.h"
#include "utility/network_map_page.h"
#include "utility/network_page.h"
#include "utility_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace zrq406;
using zrq406::test::UtilityTest;
using zrq406::utility::CLinkDetailsDialog;

namespace {

const MacAddress kLocal = MacAddress::fromText("00:b0:52:5a:00:01");
// Its link to the local device has a noisy band at the local device, 10.2-13.9 MHz (the built-in network).
const MacAddress kNoisy = MacAddress::fromText("00:b0:52:5a:00:03");

std::size_t indexOf(const app::LinkTable& table, const MacAddress& mac) {
    return static_cast<std::size_t>(std::find(table.stations.begin(), table.stations.end(), mac) -
                                    table.stations.begin());
}

// The PBs passed of a direction as the dialog shows it ("passed / failed").
long long pbsPassed(const CLinkDetailsDialog& dialog, int column) {
    for (int row = 0; row < dialog.figures()->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = dialog.figures()->topLevelItem(row);
        if (item->text(0).startsWith(QStringLiteral("PBs passed")))
            return item->text(column).section(QLatin1Char('/'), 0, 0).trimmed().toLongLong();
    }
    return -1;
}

// A network of `count` devices on one key, every pair linked, the rates falling with the distance of their numbers.
nlohmann::json networkOf(int count) {
    nlohmann::json devices = nlohmann::json::array();
    const auto mac = [](int i) {
        char text[18];
        std::snprintf(text, sizeof text, "00:b0:52:6b:00:%02x", i + 1);
        return std::string(text);
    };
    for (int i = 0; i < count; ++i) {
        nlohmann::json rates = nlohmann::json::object();
        for (int j = i + 1; j < count; ++j)
            rates[mac(j)] = {{"tx", 200 - 9 * (j - i)}, {"rx", 196 - 9 * (j - i)}};
        devices.push_back({{"mac", mac(i)}, {"tei", i + 1}, {"networkPassword", "HomePlugAV"}, {"rates", rates}});
    }
    return {{"hostAdapters",
             {{{"name", "sim0"}, {"mac", "02:5a:52:00:00:01"}, {"description", "Simulated"}, {"device", mac(0)}}}},
            {"devices", devices}};
}

} // namespace

TEST_F(UtilityTest, LinkDetailsFromTheMapAndTheMatrixNameTheLostBandAndClearOnlyWhenAsked) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    utility::CNetworkMapPage* page = main->networkMapPage();
    main->tabs()->setCurrentWidget(page);
    const app::LinkTable& table = page->map()->table();
    const std::size_t local = indexOf(table, kLocal);
    const std::size_t noisy = indexOf(table, kNoisy);
    ASSERT_LT(noisy, table.stations.size());

    // Clicking the link on the map opens its details; the carriers first shown are those the local device receives
    // from the noisy one, with the charger's band shaded and named in the chart's text and beside it.
    QString description;
    QString summary;
    std::vector<app::CarrierBand> bands;
    long long before = -1;
    long long afterNo = -1;
    long long afterYes = -1;
    bool checked = false;
    test::whenDialogOpens<CLinkDetailsDialog>([&](CLinkDetailsDialog& dialog) {
        EXPECT_TRUE(test::waitUntil([&] { return !dialog.reading() && dialog.lastReading().has_value(); }));
        EXPECT_TRUE(test::unnamedControls(&dialog).empty());
        description = dialog.chart()->accessibleDescription();
        summary = dialog.summary()->text();
        bands = dialog.chart()->bands();
        const int receiverColumn = dialog.findChild<QComboBox*>(QStringLiteral("cmbDirection"))->currentIndex() + 1;
        before = pbsPassed(dialog, receiverColumn);
        auto* clear = dialog.findChild<QPushButton*>(QStringLiteral("btnClearCounters"));
        // No: nothing is cleared (a reading after it counts on).
        program->messages.queueAnswer(MessageAnswer::No);
        clear->click();
        EXPECT_FALSE(dialog.reading());
        dialog.read();
        EXPECT_TRUE(test::waitUntil([&] { return !dialog.reading(); }));
        afterNo = pbsPassed(dialog, receiverColumn);
        // Yes: both ends start from zero, then the dialog reads again.
        program->messages.queueAnswer(MessageAnswer::Yes);
        clear->click();
        EXPECT_TRUE(dialog.reading());
        EXPECT_TRUE(test::waitUntil([&] { return !dialog.reading(); }));
        afterYes = pbsPassed(dialog, receiverColumn);
        checked = true;
        dialog.accept();
    });
    auto* button = page->map()->findChild<QToolButton*>(
        QStringLiteral("mapLink%1_%2").arg(std::min(local, noisy)).arg(std::max(local, noisy)));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(checked);
    ASSERT_EQ(bands.size(), 1u) << description.toStdString();
    EXPECT_TRUE(bands[0].none);
    EXPECT_NEAR(bands[0].fromMhz, 10.2, 0.3);
    EXPECT_NEAR(bands[0].toMhz, 13.9, 0.3);
    const QString named = QString::fromStdString(app::bandRangeText(bands[0])) + QStringLiteral(" carry no data");
    EXPECT_TRUE(description.contains(named)) << description.toStdString();
    EXPECT_TRUE(summary.contains(named));
    EXPECT_EQ(shown("msg119"), 2);
    EXPECT_GT(before, 0);
    EXPECT_GE(afterNo, before);
    EXPECT_LT(afterYes, before);
    for (const std::string& text : program->messages.texts())
        EXPECT_EQ(text.find("did not clear"), std::string::npos) << text;

    // A cell of the matrix opens the link from its row's device to its column's.
    page->showMatrix(true);
    std::optional<MacAddress> from;
    test::whenDialogOpens<CLinkDetailsDialog>([&](CLinkDetailsDialog& dialog) {
        EXPECT_TRUE(test::waitUntil([&] { return !dialog.reading(); }));
        if (dialog.lastReading())
            from = dialog.lastReading()->directions[0].from;
        dialog.accept();
    });
    utility::LinkMatrix* matrix = page->matrix();
    // Named as the map names the link.
    ASSERT_NE(matrix->item(static_cast<int>(local), static_cast<int>(noisy)), nullptr);
    EXPECT_EQ(matrix->item(static_cast<int>(local), static_cast<int>(noisy))->data(Qt::AccessibleTextRole).toString(),
              button->accessibleName());
    QTableWidgetItem* cell = matrix->item(static_cast<int>(noisy), static_cast<int>(local));
    ASSERT_NE(cell, nullptr);
    QTest::mouseClick(matrix->viewport(), Qt::LeftButton, {}, matrix->visualItemRect(cell).center());
    ASSERT_TRUE(from.has_value());
    EXPECT_EQ(*from, kNoisy);
}

TEST_F(UtilityTest, MapOfSixteenDevicesLabelsTheChosenDevicesLinksAndCutsNoName) {
    makeWindow(networkOf(16));
    ASSERT_TRUE(startAndWait());
    utility::CNetworkMapPage* page = main->networkMapPage();
    main->tabs()->setCurrentWidget(page);
    utility::NetworkMap* map = page->map();
    ASSERT_EQ(map->table().stations.size(), 16u);
    ASSERT_EQ(map->links().size(), 120u);
    EXPECT_TRUE(test::unnamedControls(page).empty());

    // The weakest links are those of the devices furthest apart in number: 0-15 first.
    const auto labelledLinks = [&] {
        std::vector<std::string> names;
        for (const auto& link : map->links()) {
            auto* button = map->findChild<QToolButton*>(QStringLiteral("mapLink%1_%2").arg(link.a).arg(link.b));
            EXPECT_FALSE(button->accessibleName().isEmpty());
            if (!button->text().isEmpty())
                names.push_back(std::to_string(link.a) + "-" + std::to_string(link.b));
        }
        return names;
    };
    // The local device's 15 links, and the weakest three (0-15, 0-14 and 1-15) of which one is not the local one's.
    std::vector<std::string> labelled = labelledLinks();
    EXPECT_EQ(labelled.size(), 16u);
    EXPECT_NE(std::find(labelled.begin(), labelled.end(), "1-15"), labelled.end());
    for (int other = 1; other < 16; ++other)
        EXPECT_NE(std::find(labelled.begin(), labelled.end(), "0-" + std::to_string(other)), labelled.end());
    map->selectStation(map->table().stations[5]);
    labelled = labelledLinks();
    for (int other = 0; other < 16; ++other) {
        if (other != 5) {
            const std::string name = other < 5 ? std::to_string(other) + "-5" : "5-" + std::to_string(other);
            EXPECT_NE(std::find(labelled.begin(), labelled.end(), name), labelled.end()) << name;
        }
    }
    EXPECT_EQ(std::find(labelled.begin(), labelled.end(), "0-1"), labelled.end());

    // Every name whole on its device, each device clear of the others and inside the map.
    std::vector<QRect> boxes;
    for (std::size_t i = 0; i < 16; ++i) {
        auto* node = map->findChild<QToolButton*>(QStringLiteral("mapDevice%1").arg(i));
        ASSERT_NE(node, nullptr);
        const QString name = QString::fromStdString(map->table().label(map->table().stations[i]));
        EXPECT_EQ(node->text().section(QLatin1Char('('), 0, 0).simplified(), name);
        EXPECT_GE(node->width(), node->sizeHint().width());
        EXPECT_GE(node->height(), node->sizeHint().height());
        EXPECT_TRUE(map->rect().contains(node->geometry())) << name.toStdString();
        for (const QRect& other : boxes)
            EXPECT_FALSE(other.intersects(node->geometry())) << name.toStdString();
        boxes.push_back(node->geometry());
    }

    // The window grows, and the tabs and the map with it; Exit stays in the window's corner.
    const QSize tabs = main->tabs()->size();
    const QSize mapSize = map->size();
    auto* network = main->findChild<utility::CNetworkPage*>();
    ASSERT_NE(network, nullptr);
    const QSize listSize = network->list()->size();
    auto* scan = network->findChild<QPushButton*>(QStringLiteral("button_Scan"));
    ASSERT_NE(scan, nullptr);
    const QPoint scanAt = scan->pos();
    main->resize(main->size() + QSize(300, 240));
    QApplication::processEvents();
    EXPECT_EQ(main->tabs()->size(), tabs + QSize(300, 240));
    EXPECT_GT(map->height(), mapSize.height() + 200);
    // The device list too, with the buttons below it (a page hears of its new size when it is shown).
    main->tabs()->setCurrentWidget(network);
    QApplication::processEvents();
    EXPECT_EQ(network->list()->size(), listSize + QSize(300, 240));
    EXPECT_EQ(scan->pos(), scanAt + QPoint(300, 240));
    EXPECT_TRUE(network->rect().contains(network->list()->geometry()));
    EXPECT_TRUE(network->rect().contains(scan->geometry()));
    auto* exit = main->findChild<QPushButton*>(QStringLiteral("CloseButton"));
    ASSERT_NE(exit, nullptr);
    EXPECT_GT(exit->geometry().bottom(), main->height() - 40);
}
