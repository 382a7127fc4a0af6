#include "tests/support/simulated_program.h"

#include "platform/paths.h"
#include "sim/network_file.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace zrq406::test {

namespace {

std::filesystem::path freshFolder() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test = info != nullptr ? info->name() : "program";
    auto dir = std::filesystem::temp_directory_path() /
               ("zrq406-" + test + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace

nlohmann::json SimulatedProgram::builtInNetwork() {
    return nlohmann::json::parse(sim::NetworkFile::builtInText());
}

SimulatedProgram::SimulatedProgram(const nlohmann::json& network, const std::string& language, link::LinkMode mode)
    : texts(messages, mode == link::LinkMode::Utility ? UiTextMode::Utility : UiTextMode::UpgradeTool, "test"),
      session(messages, texts, mode, "zrq406-test"), m_dir(freshFolder()) {
    // Backups, locks and simulator state stay in the test's folder.
    setenv("XDG_DATA_HOME", m_dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
    writeNetwork(network);
    session.registry().setHistoryPath(historyPath());
    texts.LoadXMLFile(paths::dataFile(language).string());
}

SimulatedProgram::~SimulatedProgram() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

void SimulatedProgram::writeNetwork(const nlohmann::json& network) {
    std::ofstream(networkPath()) << network.dump(2);
}

app::LinkOptions SimulatedProgram::linkOptions() const {
    app::LinkOptions options;
    options.simulate = networkPath().string();
    return options;
}

bool SimulatedProgram::open() {
    const app::OpenResult opened = session.open(linkOptions());
    EXPECT_TRUE(opened) << opened.error;
    return static_cast<bool>(opened);
}

} // namespace zrq406::test
