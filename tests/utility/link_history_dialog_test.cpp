#include "app/link_chart.h"
#include "gui/page_layout.h"
#include "tests/utility/utility_fixture.h"
#include "utility/link_chart_view.h"
#include "utility/link_history_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace zrq406;
using zrq406::test::UtilityTest;

namespace {

constexpr std::time_t kStart = 1733702400; // midnight
constexpr std::time_t kEnd = kStart + 24 * 3600;

MacAddress mac(int n) {
    return {{0x00, 0xB0, 0x52, 0x5A, 0x00, static_cast<std::uint8_t>(n)}};
}

// A day of two-minute scans: the link to the kitchen halves from 18:00 to 21:00 (a charger), the link to the
// office runs slower but steady, and the kitchen misses one scan at 03:00.
void writeDay(const std::filesystem::path& path) {
    app::LinkHistory history(path);
    ASSERT_TRUE(history.open());
    for (std::time_t t = kStart; t < kEnd; t += 120) {
        const std::time_t hour = (t - kStart) / 3600;
        const std::uint32_t kitchen = hour >= 18 && hour < 21 ? 45 : 120 + static_cast<std::uint32_t>(t / 120 % 5);
        const bool answered = t != kStart + 3 * 3600;
        ASSERT_TRUE(history.append(
            {t,
             {{mac(1), "Study", "fw", true}, {mac(2), "Kitchen", "fw", answered}, {mac(3), "Office", "fw", true}},
             {{mac(1), mac(2), kitchen, kitchen - 10, answered, std::nullopt},
              {mac(1), mac(3), 80, 75, true, std::nullopt}}}));
    }
}

} // namespace

TEST_F(UtilityTest, LinkChartOfADayShowsTheEveningDropInPictureAndWords) {
    for (const char* language : {"English.xml", "German.xml"}) {
        makeWindow(zrq406::test::SimulatedProgram::builtInNetwork(), language);
        context->german = std::string(language) == "German.xml";
        context->session.scanRecorder().setPath(program->path("links.db"));
        writeDay(program->path("links.db"));

        utility::CLinkHistoryDialog dialog(*context, "00:b0:52:5a:00:02", nullptr, kEnd);
        dialog.resize(900, 480);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QTRY_VERIFY(!dialog.reading());
        auto* link = dialog.findChild<QComboBox*>(QStringLiteral("cmbLink"));
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->count(), 2);
        EXPECT_EQ(link->currentText(), QStringLiteral("Study \u2192 Kitchen"));

        const app::LinkChart& chart = dialog.chartView()->chart();
        EXPECT_EQ(chart.series.samples.size(), 720u);
        ASSERT_EQ(chart.summary.drops.size(), 1u);
        EXPECT_EQ(chart.summary.drops[0].start, kStart + 18 * 3600);
        EXPECT_EQ(chart.summary.drops[0].end, kStart + 21 * 3600);
        EXPECT_EQ(chart.summary.unanswered, 1u);
        // Screen readers and keyboards get the same figures as words.
        const QString words = dialog.chartView()->accessibleDescription();
        EXPECT_TRUE(words.contains(qtText(app::chartTimeText(kStart + 18 * 3600, context->german)))) << stdText(words);
        EXPECT_TRUE(words.contains(QStringLiteral("45"))) << stdText(words);
        EXPECT_EQ(dialog.figures()->text(), words);
        const auto* ranking = dialog.findChild<QLabel*>(QStringLiteral("lblRanking"));
        EXPECT_TRUE(ranking->text().contains(QStringLiteral("Office"))) << stdText(ranking->text());
        EXPECT_TRUE(ranking->text().contains(QStringLiteral("Kitchen"))) << stdText(ranking->text());

        // A week keeps the chosen link; the whole week holds only this day.
        auto* span = dialog.findChild<QComboBox*>(QStringLiteral("cmbSpan"));
        span->setCurrentIndex(1);
        QTRY_VERIFY(!dialog.reading());
        EXPECT_EQ(link->currentText(), QStringLiteral("Study \u2192 Kitchen"));
        EXPECT_EQ(dialog.chartView()->chart().series.samples.size(), 720u);
        span->setCurrentIndex(0);
        QTRY_VERIFY(!dialog.reading());
        if (const char* dir = std::getenv("ZRQ406_SCREENSHOT_DIR"))
            dialog.grab().save(QString::fromUtf8(dir) + "/link-history-" + QString::fromUtf8(language) + ".png");
    }
}

// Another program holds the history (it is checking it, or moving a damaged one aside): the window opens at once and
// says that it reads, and shows the links when the history is free.
TEST_F(UtilityTest, LinkHistoryIsReadOffTheWindowThread) {
    makeWindow(zrq406::test::SimulatedProgram::builtInNetwork(), "English.xml");
    const auto path = program->path("links.db");
    context->session.scanRecorder().setPath(path);
    writeDay(path);
    const int lock = ::open((path.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);

    const auto start = std::chrono::steady_clock::now();
    utility::CLinkHistoryDialog dialog(*context, "", nullptr, kEnd);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(dialog.reading());
    EXPECT_EQ(dialog.figures()->text(), QStringLiteral("Reading the link history..."));
    ::close(lock);
    QTRY_VERIFY(!dialog.reading());
    EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("cmbLink"))->count(), 2);
    EXPECT_EQ(dialog.chartView()->chart().series.samples.size(), 720u);
}
