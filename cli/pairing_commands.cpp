// The push button, restart and hosts commands.

#include "app/device_extras.h"
#include "app/scan_cycle.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "platform/display_text.h"

#include <iostream>
#include <ostream>
#include <unistd.h>

namespace zrq406::cli {

using nlohmann::json;

namespace {

// Standard input is the user at a terminal (not a script's input).
bool askingTerminal(const Output& io) {
    return io.in == nullptr && isatty(STDIN_FILENO) != 0;
}

// Standard error is the process's own, on a terminal: the countdown may redraw its line there.
bool drawingTerminal(const Output& io) {
    return &io.err == &std::cerr && isatty(STDERR_FILENO) != 0;
}

std::string membershipText(std::uint8_t membership) {
    if (membership >= mme::kMembershipCoordinator)
        return "associated, the network's coordinator";
    if (membership >= mme::kMembershipAssociated)
        return "associated with a network";
    return "not associated with any network";
}

json pushButtonJson(const MacAddress& device, const std::string& action, const mme::PushButtonConfirm& confirm) {
    return json{{"mac", device.text()},
                {"action", action},
                {"status", confirm.status},
                {"membership", confirm.membership},
                {"associated", confirm.associated()}};
}

int runJoin(Tool& tool, const GlobalOptions& options, const std::optional<MacAddress>& device, Output& io) {
    app::Session& session = tool.session;
    const MacAddress target = app::pushButtonTarget(session, device);
    const bool drawing = drawingTerminal(io);
    if (!options.json)
        io.err << "The pair button of " << target.text()
               << " is pressed for two minutes: press the pair button of the new device now.\n";
    const app::JoinOutcome outcome =
        app::joinNetwork(session, device, app::scanTimeText(tool.texts.german()), [&](int secondsLeft) {
            if (drawing)
                io.err << "\rwaiting for a new device: " << secondsLeft << " s left " << std::flush;
            return true;
        });
    if (drawing)
        io.err << "\r" << std::string(40, ' ') << "\r" << std::flush;
    switch (outcome.result) {
    case app::JoinOutcome::NotPressed:
        io.err << "zrq406: " << target.text() << " did not confirm the press of its pair button";
        if (outcome.status != 0)
            io.err << " (status " << int{outcome.status} << ")";
        io.err << '\n';
        return kRefused;
    case app::JoinOutcome::Joined:
        if (options.json) {
            json document{{"mac", target.text()}, {"action", "join"}, {"status", 0}, {"joined", true},
                          {"newDevice", outcome.newStation.text()}};
            if (!outcome.name.empty())
                document["name"] = outcome.name;
            printJson(io.out, document);
        } else {
            io.out << "New device " << outcome.newStation.text();
            if (!outcome.name.empty())
                io.out << " (" << terminalText(outcome.name) << ")";
            io.out << " joined the network\n";
        }
        return kDone;
    case app::JoinOutcome::TimedOut:
    case app::JoinOutcome::Stopped:
        break;
    }
    if (options.json)
        printJson(io.out, json{{"mac", target.text()}, {"action", "join"}, {"status", 0}, {"joined", false}});
    io.err << "zrq406: no new device appeared within the two minutes. Plug the new device in near this one (not into "
              "a power strip), wait until its power light is steady, then run zrq406 pair join again and press the "
              "new device's pair button within the two minutes. If it still does not join, reset the new device to "
              "its factory settings and try again.\n";
    return kRefused;
}

// Asks on the terminal whether to go on; nothing read (end of input) is a no.
bool confirmed(const std::string& question, Output& io) {
    io.err << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

} // namespace

int runPair(const GlobalOptions& options, const std::string& macText, const std::string& action, bool yes,
            Output& io) {
    std::optional<MacAddress> device;
    if (!macText.empty()) {
        device = parseMacArgument(macText, io);
        if (!device)
            return kBadInput;
    }
    if (action == "leave" && !yes && !askingTerminal(io)) {
        io.err << "zrq406: pair leave cuts the device off its network; add --yes to do it without a question\n";
        return kBadInput;
    }
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    const MacAddress target = app::pushButtonTarget(session, device);
    if (action == "join")
        return runJoin(tool, options, device, io);
    if (action == "leave" && !yes &&
        !confirmed(target.text() + " will take a random network key and be cut off from its network. Go on?", io)) {
        io.err << "zrq406: nothing was changed\n";
        return kRefused;
    }
    const auto push = action == "leave" ? mme::PushButtonAction::Leave : mme::PushButtonAction::Status;
    const auto confirm = app::pushButton(session, device, push);
    if (!confirm) {
        io.err << "zrq406: " << target.text() << " did not answer\n";
        return kRefused;
    }
    if (options.json)
        printJson(io.out, pushButtonJson(target, action, *confirm));
    if (confirm->status != 0) {
        io.err << "zrq406: " << target.text() << " refused (status " << int{confirm->status} << ")\n";
        return kRefused;
    }
    if (action == "leave") {
        if (!options.json)
            io.out << target.text() << " has left its network\n";
        io.err << "To bring it back, press its pair button together with the pair button of a device of the network "
                  "(or run zrq406 pair join and press its button), or reset it to its factory settings.\n";
        return kDone;
    }
    if (!options.json)
        io.out << target.text() << ": " << membershipText(confirm->membership) << " (membership state "
               << int{confirm->membership} << ")\n";
    return kDone;
}

int runRestart(const GlobalOptions& options, const std::string& macText, Output& io) {
    Tool tool(options, io.err);
    MacAddress device;
    if (auto code = openForDevice(tool.session, options, macText, device, io))
        return *code;
    if (!options.json)
        io.err << "Restarting " << device.text() << "...\n";
    const app::RestartResult result = app::restartAndWait(tool.session, device);
    if (result == app::RestartResult::Refused) {
        io.err << "zrq406: " << device.text() << " did not confirm the restart\n";
        return kRefused;
    }
    const bool back = result == app::RestartResult::Done;
    if (options.json)
        printJson(io.out, json{{"mac", device.text()}, {"restarted", true}, {"answering", back}});
    else if (back)
        io.out << device.text() << " restarted and answers again, with its key, name and settings\n";
    if (!back) {
        io.err << "zrq406: " << device.text() << " restarted but does not answer again yet\n";
        return kRefused;
    }
    return kDone;
}

int runHosts(const GlobalOptions& options, const std::string& macText, Output& io) {
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    std::optional<MacAddress> given;
    if (!macText.empty()) {
        given = parseMacArgument(macText, io);
        if (!given)
            return kBadInput;
    }
    if (auto code = openWithDevice(session, options, io))
        return *code;
    const MacAddress device = app::pushButtonTarget(session, given);
    const app::HostList list = app::hostsBehind(session, device);
    if (!list.answered) {
        io.err << "zrq406: " << device.text() << " did not answer with its list of hosts\n";
        return kRefused;
    }
    if (list.status != 0) {
        io.err << "zrq406: " << device.text() << " refused to list its hosts (status " << int{list.status} << ")\n";
        return kRefused;
    }
    if (options.json) {
        json hosts = json::array();
        for (const app::HostInfo& host : list.hosts) {
            json entry{{"mac", host.mac.text()}, {"id", host.id}};
            entry["maker"] = host.maker.empty() ? json() : json(host.maker);
            hosts.push_back(entry);
        }
        printJson(io.out, json{{"mac", device.text()}, {"hosts", hosts}});
        return kDone;
    }
    std::vector<std::vector<std::string>> rows;
    for (const app::HostInfo& host : list.hosts)
        rows.push_back({host.mac.text(), std::to_string(host.id), host.maker});
    io.out << "Hosts behind " << device.text() << ":\n\n";
    printTable(io.out, {"MAC", "Id", "Maker"}, rows);
    return kDone;
}

} // namespace zrq406::cli
