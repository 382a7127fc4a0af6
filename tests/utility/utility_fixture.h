#pragma once

#include "tests/support/gui_wait.h"
#include "tests/support/scripted_file_dialogs.h"
#include "tests/support/simulated_program.h"
#include "utility/main_dialog.h"
#include "utility/utility_context.h"

#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>

namespace zrq406::test {

// The built-in network with one fault on the device of `mac`.
inline nlohmann::json withFault(const std::string& mac, const nlohmann::json& fault) {
    auto network = SimulatedProgram::builtInNetwork();
    for (auto& device : network["devices"])
        if (device["mac"] == mac)
            device["faults"] = nlohmann::json::array({fault});
    return network;
}

// The row of `rows` whose `column` holds `mac`, or -1.
inline int rowWithMac(const ListRows& rows, int column, const std::string& mac) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i][static_cast<std::size_t>(column)] == mac)
            return static_cast<int>(i);
    return -1;
}

// The configuration utility's main window on a simulated network of its own, with scripted message and file
// dialogs. The scan timer is set far off so that only the scans a test starts run.
class UtilityTest : public ::testing::Test {
protected:
    void makeWindow(const nlohmann::json& network = SimulatedProgram::builtInNetwork(),
                    const std::string& language = "English.xml") {
        main.reset();
        context.reset();
        program.reset();
        program = std::make_unique<SimulatedProgram>(network, language);
        context = std::make_unique<utility::UtilityContext>(program->messages, program->texts, files, false);
        context->linkOptions = program->linkOptions();
        context->session.registry().setHistoryPath(program->historyPath());
        context->scanIntervalMs = 3600 * 1000;
        main = std::make_unique<utility::CHomePlugDeviceManagerDlg>(*context);
    }
    // Starts the window and waits for the start-up scan to end.
    bool startAndWait() {
        main->show();
        if (!main->start())
            return false;
        return waitIdle();
    }
    bool waitIdle() {
        return waitUntil([this] { return !main->isBusy() && !main->workers().busy(); });
    }
    int shown(const std::string& key) {
        // A message with a placeholder is matched by what comes before it.
        std::string text = context->message(key);
        text = text.substr(0, text.find('%'));
        int count = 0;
        for (const auto& message : program->messages.texts())
            count += message.rfind(text, 0) == 0 ? 1 : 0;
        return count;
    }
    void TearDown() override {
        if (main) {
            main->workers().waitForIdle();
            main.reset();
        }
    }

    ScriptedFileDialogs files;
    std::unique_ptr<SimulatedProgram> program;
    std::unique_ptr<utility::UtilityContext> context;
    std::unique_ptr<utility::CHomePlugDeviceManagerDlg> main;
};

} // namespace zrq406::test
