#pragma once

#include "app/session.h"
#include "tests/support/scripted_message_service.h"
#include "uitext/load_ui_setting.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace zrq406::test {

// One program's worth of state on a simulated network kept in a folder of its own: the network file (the
// built-in network unless a test gives another), its device history, its user data folder, the utility's
// language file and a scripted message service. The session is not opened until open() is called.
class SimulatedProgram {
public:
    explicit SimulatedProgram(const nlohmann::json& network = builtInNetwork(),
                              const std::string& language = "English.xml",
                              link::LinkMode mode = link::LinkMode::Utility);
    ~SimulatedProgram();
    SimulatedProgram(const SimulatedProgram&) = delete;
    SimulatedProgram& operator=(const SimulatedProgram&) = delete;

    static nlohmann::json builtInNetwork();

    // Opens the session on the network file; fails the test when it does not open.
    bool open();
    app::LinkOptions linkOptions() const;
    // Rewrites the network file (before open()).
    void writeNetwork(const nlohmann::json& network);

    const std::filesystem::path& dir() const { return m_dir; }
    std::filesystem::path path(const std::string& name) const { return m_dir / name; }
    std::filesystem::path networkPath() const { return m_dir / "network.json"; }
    std::filesystem::path historyPath() const { return m_dir / "devices.dat"; }

    ScriptedMessageService messages;
    CLoadUISetting texts;
    app::Session session;

private:
    std::filesystem::path m_dir;
};

} // namespace zrq406::test
