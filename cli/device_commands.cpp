#include "app/device_actions.h"
#include "app/device_extras.h"
#include "app/key_change.h"
#include "app/key_change_texts.h"
#include "app/scan_cycle.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "mme/key_derivation.h"
#include "platform/display_text.h"
#include "platform/regular_file.h"
#include "platform/text_field.h"
#include "registry/device_registry.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <ostream>
#include <sstream>
#include <unistd.h>

namespace zrq406::cli {

using nlohmann::json;

int runAdapters(const GlobalOptions& options, Output& io) {
    Tool tool(options, io.err);
    if (auto code = openSession(tool.session, options, io))
        return *code;
    auto& adapters = tool.session.adapters();
    json list = json::array();
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < adapters.count(); ++i) {
        const auto& record = adapters.record(i);
        const std::string text = fieldText(record.text);
        list.push_back(
            {{"index", i}, {"interface", record.interfaceName}, {"description", text}, {"mac", record.hostMac.text()}});
        rows.push_back({std::to_string(i), record.interfaceName, text, record.hostMac.text()});
    }
    if (options.json)
        printJson(io.out, list);
    else
        printTable(io.out, {"#", "Interface", "Description", "MAC"}, rows);
    return kDone;
}

namespace {

json deviceJson(const DeviceRecord& d) {
    return {{"name", fieldText(d.name)},         {"mac", fieldText(d.mac)},         {"location", fieldText(d.location)},
            {"quality", fieldText(d.quality)},   {"phyRate", fieldText(d.phyRate)}, {"led", fieldText(d.led)},
            {"firmware", fieldText(d.firmware)}, {"isOwnModel", d.isOwnModel != 0}};
}

bool silent(const ScanBuildResult& built, const DeviceRecord& d) {
    return std::find(built.silentStations.begin(), built.silentStations.end(), fieldText(d.mac)) !=
           built.silentStations.end();
}

} // namespace

int runScan(const GlobalOptions& options, bool save, Output& io) {
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    if (!save)
        session.scanRecorder().setPath({});
    const auto report = app::buildScanRecords(session, app::scanTimeText(tool.texts.german()));
    if (!report.historyNotice.empty())
        io.err << "zrq406: " << terminalText(report.historyNotice) << '\n';
    if (report.stationListUnread) {
        io.err << "zrq406: the local device " << session.discoveryResult().local.mac.text()
               << " answered, but its list of the network's stations could not be read; nothing was changed\n";
        return kRefused;
    }
    for (const MacAddress& mac : report.unreadBlocks)
        io.err << "zrq406: the configuration block of " << mac.text() << " could not be read\n";
    int told = 0;
    if (const std::string full = app::historyFullNotice(tool.texts.settings(), report, told); save && !full.empty())
        io.err << "zrq406: " << full << '\n';
    DeviceRegistry& registry = session.registry();
    const FileWriteResult saved =
        save ? registry.SaveHistory(registry.historyTable().inUseCount) : FileWriteResult{true, {}};
    const bool saveFailed = !saved;
    if (saveFailed)
        io.err << "zrq406: the device history could not be written: " << terminalText(saved.error) << '\n';
    const int code = saveFailed ? kRefused : kDone;

    const auto& result = session.discoveryResult();
    const auto& scan = registry.scanTable();
    const link::AdapterRecord* adapter = session.adapters().current();
    const std::string adapterName = adapter != nullptr ? adapter->interfaceName : std::string();
    const auto& built = report.built;
    const std::string key = !built.localKeyIsDefault ? "unknown" : *built.localKeyIsDefault ? "default" : "private";
    const std::optional<bool> publicKey = app::networkUsesPublicKey(built);
    if (publicKey.value_or(false) && &io.err == &std::cerr && isatty(STDERR_FILENO) != 0)
        io.err << "zrq406: warning: this network uses the public default key: anyone with an adapter can join this "
                  "network; set a private key with zrq406 set-key\n";
    if (options.json) {
        json devices = json::array();
        for (int i = 0; i < scan.count; ++i) {
            json device = deviceJson(scan.entries[i]);
            device["answered"] = !silent(built, scan.entries[i]);
            devices.push_back(std::move(device));
        }
        json network = {{"nid", hexText(result.local.nid)},
                        {"snid", result.local.snid},
                        {"coordinator", result.local.ccoMac.text()},
                        {"coordinatorTei", result.local.ccoTei},
                        {"key", key}};
        printJson(io.out, json{{"adapter", adapterName},
                               {"network", network},
                               {"publicKey", publicKey ? json(*publicKey) : json()},
                               {"devices", devices}});
        return code;
    }
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < scan.count; ++i) {
        const auto& d = scan.entries[i];
        rows.push_back({fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.quality),
                        fieldText(d.phyRate), fieldText(d.led), fieldText(d.firmware), d.isOwnModel ? "yes" : "no"});
    }
    io.out << "Adapter " << terminalText(adapterName) << ", network " << hexText(result.local.nid) << ", coordinator "
           << result.local.ccoMac.text() << ", " << key << " network key\n\n";
    printTable(io.out, {"Name", "MAC", "Location", "Quality", "PHY rate", "LED", "Firmware", "ZRQ406"}, rows);
    return code;
}

int runReset(const GlobalOptions& options, const std::string& macText, Output& io) {
    Tool tool(options, io.err);
    MacAddress device;
    if (auto code = openForDevice(tool.session, options, macText, device, io))
        return *code;
    if (!app::resetDevice(tool.session, device)) {
        io.err << "zrq406: " << device.text() << " did not confirm the factory reset\n";
        return kRefused;
    }
    if (options.json)
        printJson(io.out, json{{"mac", device.text()}, {"reset", true}});
    else
        io.out << device.text() << " is resetting to its factory settings and restarts now\n";
    return kDone;
}

int runLed(const GlobalOptions& options, const std::string& macText, const std::string& state, Output& io) {
    Tool tool(options, io.err);
    MacAddress device;
    if (auto code = openForDevice(tool.session, options, macText, device, io))
        return *code;
    const app::LedChange change = app::changeLed(tool.session, device, state == "on");
    switch (change) {
    case app::LedChange::ReadFailed:
        io.err << "zrq406: the configuration block of " << device.text() << " could not be read ("
               << mme::blockProblemText(tool.session.operations().lastBlockProblem()) << "); nothing was changed\n";
        return kRefused;
    case app::LedChange::NoSetting:
        io.err << "zrq406: the configuration block of " << device.text()
               << " holds no LED setting; nothing was changed\n";
        return kRefused;
    case app::LedChange::WriteFailed:
        io.err << "zrq406: " << device.text() << " did not confirm the new LED setting\n";
        return kRefused;
    case app::LedChange::Done:
    case app::LedChange::Unchanged:
        break;
    }
    const bool changed = change == app::LedChange::Done;
    if (options.json)
        printJson(io.out, json{{"mac", device.text()}, {"led", state}, {"changed", changed}});
    else
        io.out << "The LEDs of " << device.text() << (changed ? " are now " : " were already ") << state << '\n';
    return kDone;
}

namespace {

// "MAC PASSWORD" lines of a device password file; blank lines and lines starting with '#' are skipped.
bool readDevicePasswordFile(const std::string& file, std::vector<std::string>& macs,
                            std::vector<std::string>& passwords, Output& io) {
    std::istringstream opened;
    std::istream* in = nullptr;
    if (file == "-") {
        in = io.in != nullptr ? io.in : &std::cin;
    } else {
        constexpr std::size_t kMaxDevicePasswordFile = 1024 * 1024;
        FileReadResult read = readRegularFile(file, kMaxDevicePasswordFile);
        if (!read) {
            io.err << "zrq406: " << terminalText(read.error) << '\n';
            return false;
        }
        opened.str(std::move(read.content));
        in = &opened;
    }
    std::string line;
    for (int number = 1; std::getline(*in, line); ++number) {
        std::istringstream words(line);
        std::string mac;
        std::string password;
        if (!(words >> mac) || mac.front() == '#')
            continue;
        if (!(words >> password)) {
            io.err << "zrq406: " << file << ", line " << number << ": write each device as MAC PASSWORD\n";
            return false;
        }
        macs.push_back(mac);
        passwords.push_back(password);
    }
    return true;
}

// The name the device history gives a device, or "" when it holds none.
std::string knownName(DeviceRegistry& registry, const std::string& macText) {
    auto& history = registry.historyTable();
    if (history.fileCount == 0 && registry.HistoryFileHasData())
        registry.LoadHistory();
    const int count = std::min(history.fileCount, HistoryTable::capacity);
    for (int i = 0; i < count; ++i)
        if (fieldText(history.records[i].mac) == macText)
            return fieldText(history.records[i].name);
    return {};
}

const char* keyWord(app::DeviceKey key) {
    switch (key) {
    case app::DeviceKey::New:
        return "new";
    case app::DeviceKey::Old:
        return "old";
    case app::DeviceKey::Unknown:
        return "unknown";
    }
    return "unknown";
}

const char* troubleWord(app::KeyTrouble trouble) {
    switch (trouble) {
    case app::KeyTrouble::None:
        return "none";
    case app::KeyTrouble::PasswordRefused:
        return "password refused";
    case app::KeyTrouble::NotReached:
        return "not reached";
    case app::KeyTrouble::KeyRefused:
        return "key refused";
    }
    return "none";
}

const char* resultWord(app::KeyChangeResult result) {
    switch (result) {
    case app::KeyChangeResult::Done:
        return "done";
    case app::KeyChangeResult::NotProved:
        return "nothing changed";
    case app::KeyChangeResult::Stopped:
        return "stopped";
    }
    return "stopped";
}

} // namespace

int runSetKey(const GlobalOptions& options, const SetKeyRequest& request, Output& io) {
    std::vector<std::string> macTexts = request.devices;
    std::vector<std::string> typedPasswords = request.devicePasswords;
    if (macTexts.size() != typedPasswords.size()) {
        io.err << "zrq406: every --device needs its --device-password\n";
        return kBadInput;
    }
    if (!request.devicePasswordFile.empty() &&
        !readDevicePasswordFile(request.devicePasswordFile, macTexts, typedPasswords, io))
        return kBadInput;
    if (!request.local && macTexts.empty()) {
        io.err << "zrq406: name the devices to key: --local and/or --device MAC --device-password PW (or "
                  "--device-password-file FILE)\n";
        return kBadInput;
    }
    std::vector<app::KeyRequestRow> rows;
    for (std::size_t i = 0; i < macTexts.size(); ++i) {
        const auto mac = parseMacArgument(macTexts[i], io);
        if (!mac)
            return kBadInput;
        rows.push_back({mac->text(), {}, false, true, app::upperCaseDevicePassword(typedPasswords[i])});
    }
    Tool tool(options, io.err);
    for (const auto& row : rows) {
        if (!mme::isDevicePasswordForm(row.devicePassword)) {
            io.err << "zrq406: " << tool.texts.message("msg57") << '\n';
            return kBadInput;
        }
    }
    std::string password(mme::kDefaultNetworkPassword);
    if (request.password) {
        const auto read = readPassword(*request.password, "Network password: ", io);
        if (!read)
            return kBadInput;
        password = *read;
    }
    if (const auto problem = mme::ValidateNetworkPassword(password); problem != mme::PasswordProblem::None) {
        io.err << "zrq406: "
               << app::networkPasswordProblemText(problem, tool.texts.message("msg21"), tool.texts.message("msg22"))
               << '\n';
        return kBadInput;
    }
    app::Session& session = tool.session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    if (request.local) {
        const link::AdapterRecord* adapter = session.adapters().current();
        rows.push_back({(adapter != nullptr ? adapter->localDeviceMac : MacAddress{}).text(), {}, true, true, {}});
    }
    for (auto& row : rows)
        row.name = knownName(session.registry(), row.mac);
    const app::KeyChangePlan plan = app::planKeyChange(rows);
    const app::KeyChangeOutcome outcome = app::changeNetworkKey(session, password, plan.targets);
    if (options.json) {
        json devices = json::array();
        for (const auto& device : outcome.devices) {
            json entry{
                {"mac", device.mac.text()}, {"keyed", device.key == app::DeviceKey::New}, {"key", keyWord(device.key)}};
            if (!device.name.empty())
                entry["name"] = device.name;
            if (!device.remote)
                entry["local"] = true;
            if (device.trouble != app::KeyTrouble::None)
                entry["trouble"] = troubleWord(device.trouble);
            if (const auto advice = app::keyAdviceMessageKey(device.advice); !advice.empty())
                entry["advice"] = tool.texts.message(advice);
            devices.push_back(entry);
        }
        printJson(io.out, json{{"result", resultWord(outcome.result)}, {"devices", devices}});
    } else if (outcome.result == app::KeyChangeResult::Done) {
        for (const auto& device : outcome.devices)
            io.out << device.mac.text() << ": new key set\n";
    }
    if (outcome.result != app::KeyChangeResult::Done) {
        io.err << "zrq406: "
               << terminalText(app::keyChangeReportText(
                      outcome,
                      [&](const std::string& key, const std::string& field) { return tool.texts.message(key, field); }))
               << '\n';
        return kRefused;
    }
    return kDone;
}

int runCheckPassword(const GlobalOptions& options, const std::string& macText, const PasswordSource& source,
                     Output& io) {
    const auto mac = parseMacArgument(macText, io);
    if (!mac)
        return kBadInput;
    const auto typed = readPassword(source, "Device password of " + mac->text() + ": ", io);
    if (!typed)
        return kBadInput;
    Tool tool(options, io.err);
    const std::string password = app::upperCaseDevicePassword(*typed);
    if (!mme::isDevicePasswordForm(password)) {
        io.err << "zrq406: " << tool.texts.message("msg57") << '\n';
        return kBadInput;
    }
    if (auto code = openWithDevice(tool.session, options, io))
        return *code;
    const app::PasswordProof proof = app::proveDevicePassword(tool.session, *mac, password);
    if (proof == app::PasswordProof::KeyUnreadable) {
        io.err << "zrq406: the network key of " << mac->text() << " could not be read; nothing was sent\n";
        return kRefused;
    }
    const bool accepted = proof == app::PasswordProof::Accepted;
    if (options.json)
        printJson(io.out, json{{"mac", mac->text()}, {"accepted", accepted}});
    else if (accepted)
        io.out << "The device password of " << mac->text() << " is correct\n";
    if (!accepted) {
        io.err << "zrq406: " << tool.texts.message("msg04") << '\n';
        return kRefused;
    }
    return kDone;
}

int runHistory(const GlobalOptions& options, Output& io) {
    DeviceRegistry registry = options.historyPath.empty() ? DeviceRegistry() : DeviceRegistry(options.historyPath);
    const auto& table = registry.historyTable();
    const HistoryLoadResult loaded = registry.LoadHistory();
    if (!loaded.error.empty()) {
        io.err << "zrq406: " << terminalText(loaded.error) << '\n';
        return kBadInput;
    }
    const int count = loaded.storedCount >= 1 ? std::min(table.fileCount, HistoryTable::capacity) : 0;
    if (options.json) {
        json list = json::array();
        for (int i = 0; i < count; ++i) {
            const auto& r = table.records[i];
            list.push_back({{"name", fieldText(r.name)},
                            {"mac", fieldText(r.mac)},
                            {"location", fieldText(r.location)},
                            {"phyRate", fieldText(r.phyRate)},
                            {"led", fieldText(r.led)},
                            {"lastSeen", fieldText(r.lastSeen)},
                            {"firmware", fieldText(r.firmware)},
                            {"password", fieldText(r.password)}});
        }
        printJson(io.out, list);
        return kDone;
    }
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < count; ++i) {
        const auto& r = table.records[i];
        rows.push_back({fieldText(r.name), fieldText(r.mac), fieldText(r.location), fieldText(r.phyRate),
                        fieldText(r.led), fieldText(r.lastSeen), fieldText(r.firmware),
                        fieldText(r.password).empty() ? "" : "(set)"});
    }
    printTable(io.out, {"Name", "MAC", "Location", "PHY rate", "LED", "Last seen", "Firmware", "Password"}, rows);
    return kDone;
}

} // namespace zrq406::cli
