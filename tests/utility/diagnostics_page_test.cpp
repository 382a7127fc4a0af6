#include "gui/hyperlink_label.h"
#include "gui/page_layout.h"
#include "gui/print_service.h"
#include "gui/report_list.h"
#include "platform/program_version.h"
#include "platform/text_field.h"
#include "registry/history_file.h"
#include "utility/about_page.h"
#include "utility/diagnostics_page.h"
#include "utility/network_page.h"
#include "utility_fixture.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

using namespace zrq406;
using zrq406::test::UtilityTest;

namespace {

class ScriptedPrinter : public PrintService {
public:
    PrintOutcome print(QWidget*, const std::string& title, const std::string& text) override {
        printed.push_back(title + "\n" + text);
        return answer;
    }
    PrintOutcome answer = PrintOutcome::Printed;
    std::vector<std::string> printed;
};

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST_F(UtilityTest, SystemInformationNamesThisComputerAndTheScan) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    const ListRows rows = main->diagnosticsPage()->systemList()->rows();
    ASSERT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows[0][0], "Computer name");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(rows[0][1], host);
    EXPECT_EQ(rows[7][1], "02:5a:52:00:00:01"); // the adapter's MAC
    EXPECT_EQ(rows[8][1], "4");                 // devices found
    EXPECT_EQ(rows[9][1], context->lastScanTime);
    EXPECT_EQ(rows[10][1].rfind(std::string(programVersion()), 0), 0u);
}

TEST_F(UtilityTest, SavedReportHoldsEveryDeviceAndTheHistory) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->diagnosticsPage();
    program->messages.clear();
    files.queueAnswer(program->path("report.txt").string());
    const auto reported = [&] { return zrq406::test::waitUntil([&] { return !page->reportPending(); }); };
    page->onSaveReport();
    ASSERT_TRUE(reported());
    EXPECT_EQ(files.lastFilter(), "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||");
    const std::string report = fileText(program->path("report.txt"));
    EXPECT_EQ(report.rfind(context->texts.LoadPageCaption("ZRQ406", "Diagnostics", "Value"), 0), 0u);
    const std::string heading = context->texts.LoadPageCaption("ZRQ406", "MACConfigTab", "Device_History", "Text");
    ASSERT_NE(report.find(heading), std::string::npos);
    for (const auto& row : main->networkPage()->rows()) {
        // Every device with every column before the history, and again in it.
        const auto line = report.find(row[0] + "  ");
        ASSERT_NE(line, std::string::npos) << row[1];
        EXPECT_LT(line, report.find(heading));
        const std::string text = report.substr(line, report.find('\n', line) - line);
        for (const std::string& cell : row)
            EXPECT_NE(text.find(cell), std::string::npos) << cell;
        EXPECT_NE(report.find(row[1], report.find(heading)), std::string::npos);
    }
    EXPECT_TRUE(program->messages.texts().empty());

    // A folder that does not exist: the failure is told, and nothing is left behind.
    files.queueAnswer(program->path("no-such-folder/report.txt").string());
    page->onSaveReport();
    ASSERT_TRUE(reported());
    EXPECT_EQ(shown("msg64"), 1);

    ScriptedPrinter printer;
    context->printService = &printer;
    page->onPrintReport();
    ASSERT_TRUE(reported());
    ASSERT_EQ(printer.printed.size(), 1u);
    EXPECT_NE(printer.printed[0].find(heading), std::string::npos);
    printer.answer = PrintOutcome::Failed;
    page->onPrintReport();
    ASSERT_TRUE(reported());
    EXPECT_EQ(shown("msg65"), 1);
    context->printService = nullptr;
}

// Another program holding the link history holds up the report's worker, never the window.
TEST_F(UtilityTest, TheReportReadsTheLinkHistoryOffTheWindowThread) {
    makeWindow();
    const auto history = program->path("links.db");
    context->session.scanRecorder().setPath(history);
    ASSERT_TRUE(startAndWait());
    auto* page = main->diagnosticsPage();
    ASSERT_TRUE(std::filesystem::exists(history));
    const int lock = ::open((history.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    files.queueAnswer(program->path("report.txt").string());
    page->onSaveReport();
    EXPECT_TRUE(page->reportPending());
    ::close(lock);
    ASSERT_TRUE(zrq406::test::waitUntil([&] { return !page->reportPending(); }));
    EXPECT_TRUE(std::filesystem::exists(program->path("report.txt")));
}

TEST_F(UtilityTest, ADeviceDeletedFromTheHistoryLeavesTheFile) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    auto* page = main->diagnosticsPage();
    page->onDeleteDevice();
    EXPECT_EQ(shown("msg53"), 1);
    page->historyList()->selectRow(2);
    const std::string deleted = page->historyList()->cell(2, 1);
    page->onDeleteDevice();
    EXPECT_EQ(page->historyList()->topLevelItemCount(), 3);
    main->findChild<QPushButton*>("CloseButton")->click();
    HistoryTable history{};
    const auto loaded = HistoryFile(program->historyPath()).load(history);
    EXPECT_EQ(loaded.loaded, 3);
    for (int i = 0; i < loaded.loaded; ++i)
        EXPECT_NE(fieldText(history.records[i].mac), deleted);
}

TEST_F(UtilityTest, AboutPageShowsTheVersionAndOpensOnlyWebAddresses) {
    makeWindow();
    auto* about = main->aboutPage();
    EXPECT_NE(about->findChild<QLabel*>("lblVersion")->text().toStdString().find(programVersion()), std::string::npos);
    std::vector<QUrl> opened;
    about->link()->setOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    QTest::keyClick(about->link(), Qt::Key_Return);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("https"));
    about->link()->setText(QStringLiteral("file:///etc/passwd"));
    QTest::keyClick(about->link(), Qt::Key_Space);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(UtilityTest, CheckLinksFillsTheHealthTableAndTheWeakestCarriersForTheReport) {
    makeWindow();
    ASSERT_TRUE(startAndWait());
    utility::CDiagnosticsPage* page = main->diagnosticsPage();
    const std::string heading = context->texts.LoadPageCaption("ZRQ406", "LinkDetails", "Health", "Text");
    // Before the links are checked the report has no health section.
    EXPECT_EQ(page->report({}).find(heading), std::string::npos);

    page->findChild<QPushButton*>(QStringLiteral("btnCheckLinks"))->click();
    ASSERT_TRUE(page->checkingLinks());
    ASSERT_TRUE(test::waitUntil([&] { return !page->checkingLinks() && !main->isBusy(); }));
    // Every direction of the four devices' six links, weakest first, each with its rates of loss.
    const ListRows rows = page->healthList()->rows();
    ASSERT_EQ(rows.size(), 12u);
    for (const auto& row : rows)
        EXPECT_NE(row[3].find('%'), std::string::npos) << row[0] << " " << row[1];
    const std::string weakest = stdText(page->weakestCarriers()->text());
    EXPECT_EQ(weakest.rfind("Carriers of the weakest link, " + rows[0][0] + " \xE2\x86\x92 " + rows[0][1], 0), 0u)
        << weakest;
    EXPECT_NE(weakest.find("carriers carry data"), std::string::npos) << weakest;

    const std::string report = page->report({});
    const std::size_t section = report.find(heading);
    ASSERT_NE(section, std::string::npos);
    EXPECT_NE(report.find(rows[0][0], section), std::string::npos);
    EXPECT_NE(report.find(weakest.substr(0, weakest.find('\n')), section), std::string::npos);
}
