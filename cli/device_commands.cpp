#include "cli/cli_support.h"
#include "cli/commands.h"
#include "mme/confirmations.h"
#include "mme/key_derivation.h"
#include "platform/text_field.h"
#include "registry/device_registry.h"

#include <nlohmann/json.hpp>
#include <ostream>

namespace zrq406::cli {

using nlohmann::json;

int runAdapters(const GlobalOptions& options, Output& io) {
    Session session;
    if (auto code = openSession(session, options, io))
        return *code;
    auto& adapters = session.adapters();
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
        io.out << list.dump(2) << '\n';
    else
        printTable(io.out, {"#", "Interface", "Description", "MAC"}, rows);
    return kDone;
}

namespace {

// The registry of the command line: the history file of --history, else the usual one.
DeviceRegistry makeRegistry(const GlobalOptions& options) {
    return options.historyPath.empty() ? DeviceRegistry() : DeviceRegistry(options.historyPath);
}

json deviceJson(const DeviceRecord& d) {
    return {{"name", fieldText(d.name)},         {"mac", fieldText(d.mac)},         {"location", fieldText(d.location)},
            {"quality", fieldText(d.quality)},   {"phyRate", fieldText(d.phyRate)}, {"led", fieldText(d.led)},
            {"firmware", fieldText(d.firmware)}, {"isOwnModel", d.isOwnModel}};
}

// Device passwords are printed in upper case; letters typed in lower case are taken as upper case.
std::string upperCasePassword(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

int runScan(const GlobalOptions& options, bool save, Output& io) {
    Session session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    Texts texts(options, io.err);
    const auto& result = session.discoveryResult();
    auto& operations = session.operations();

    // Each device's configuration block gives its product, LED state and (for the local one) network key.
    mme::ConfigBlock localBlock{};
    const MacAddress localMac = result.local.mac;
    const bool localRead = operations.ReadConfigFields(localMac, localBlock);
    LocalDeviceData local{localMac, fieldText(result.local.text), std::nullopt};
    if (localRead)
        local.configBlock = std::span<const std::uint8_t>(localBlock);
    else
        io.err << "zrq406: the configuration block of " << localMac.text() << " could not be read\n";

    std::vector<mme::ConfigBlock> blocks(result.local.stationCount);
    std::vector<StationData> stations;
    for (std::uint32_t i = 0; i < result.local.stationCount; ++i) {
        const auto& station = result.local.stations[i];
        StationData data{station.mac, static_cast<std::uint8_t>(station.transmitRate), fieldText(station.text),
                         std::nullopt};
        if (operations.ReadConfigFields(station.mac, blocks[i]))
            data.configBlock = std::span<const std::uint8_t>(blocks[i]);
        else
            io.err << "zrq406: the configuration block of " << station.mac.text() << " could not be read\n";
        stations.push_back(data);
    }

    DeviceRegistry registry = makeRegistry(options);
    registry.reloadValueTexts(texts.settings());
    registry.clearScanTable();
    if (registry.HistoryFileHasData()) {
        registry.clearHistoryTable();
        registry.LoadHistory();
    }
    const auto built = registry.buildScanTable(local, stations, scanTime(texts.german()), mme::kDefaultNmk);
    const bool saveFailed = save && !registry.SaveHistory(registry.historyTable().inUseCount);
    if (saveFailed)
        io.err << "zrq406: the device history could not be written to " << registry.historyPath().string() << '\n';
    const int code = saveFailed ? kRefused : kDone;

    const auto& scan = registry.scanTable();
    const link::AdapterRecord* adapter = session.adapters().current();
    const std::string adapterName = adapter != nullptr ? adapter->interfaceName : std::string();
    const std::string key = !built.localKeyIsDefault ? "unknown" : *built.localKeyIsDefault ? "default" : "private";
    if (options.json) {
        json devices = json::array();
        for (int i = 0; i < scan.count; ++i)
            devices.push_back(deviceJson(scan.entries[i]));
        json network = {{"nid", hexText(result.local.nid)},
                        {"snid", result.local.snid},
                        {"coordinator", result.local.ccoMac.text()},
                        {"coordinatorTei", result.local.ccoTei},
                        {"key", key}};
        io.out << json{{"adapter", adapterName}, {"network", network}, {"devices", devices}}.dump(2) << '\n';
        return code;
    }
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < scan.count; ++i) {
        const auto& d = scan.entries[i];
        rows.push_back({fieldText(d.name), fieldText(d.mac), fieldText(d.location), fieldText(d.quality),
                        fieldText(d.phyRate), fieldText(d.led), fieldText(d.firmware), d.isOwnModel ? "yes" : "no"});
    }
    io.out << "Adapter " << adapterName << ", network " << hexText(result.local.nid) << ", coordinator "
           << result.local.ccoMac.text() << ", " << key << " network key\n\n";
    printTable(io.out, {"Name", "MAC", "Location", "Quality", "PHY rate", "LED", "Firmware", "ZRQ406"}, rows);
    return code;
}

int runReset(const GlobalOptions& options, const std::string& macText, Output& io) {
    Session session;
    MacAddress device;
    if (auto code = openForDevice(session, options, macText, device, io))
        return *code;
    if (!session.operations().FactoryReset(device)) {
        io.err << "zrq406: " << device.text() << " did not confirm the factory reset\n";
        return kRefused;
    }
    if (options.json)
        io.out << json{{"mac", device.text()}, {"reset", true}}.dump(2) << '\n';
    else
        io.out << device.text() << " is resetting to its factory settings and restarts now\n";
    return kDone;
}

int runLed(const GlobalOptions& options, const std::string& macText, const std::string& state, Output& io) {
    Session session;
    MacAddress device;
    if (auto code = openForDevice(session, options, macText, device, io))
        return *code;
    auto& operations = session.operations();
    mme::ConfigBlock block{};
    if (!operations.ReadConfigBlock(device, block)) {
        io.err << "zrq406: the configuration block of " << device.text() << " could not be read; nothing was changed\n";
        return kRefused;
    }
    if (!mme::hasLeds(block)) {
        io.err << "zrq406: the configuration block of " << device.text()
               << " holds no LED setting; nothing was changed\n";
        return kRefused;
    }
    const bool on = state == "on";
    const bool changed = mme::ledsOff(block) == on;
    if (changed) {
        mme::setLeds(block, on);
        if (!operations.WriteConfigBlock(false, 0, 0, device, block)) {
            io.err << "zrq406: " << device.text() << " did not confirm the new LED setting\n";
            return kRefused;
        }
    }
    if (options.json)
        io.out << json{{"mac", device.text()}, {"led", state}, {"changed", changed}}.dump(2) << '\n';
    else
        io.out << "The LEDs of " << device.text() << (changed ? " are now " : " were already ") << state << '\n';
    return kDone;
}

int runSetKey(const GlobalOptions& options, const SetKeyRequest& request, Output& io) {
    if (!request.local && request.devices.empty()) {
        io.err << "zrq406: name the devices to key: --local and/or --device MAC --device-password PW\n";
        return kBadInput;
    }
    if (request.devices.size() != request.devicePasswords.size()) {
        io.err << "zrq406: every --device needs its --device-password\n";
        return kBadInput;
    }
    std::vector<MacAddress> remotes;
    for (const auto& text : request.devices) {
        const auto mac = parseMacArgument(text, io);
        if (!mac)
            return kBadInput;
        remotes.push_back(*mac);
    }
    Texts texts(options, io.err);
    std::vector<std::string> devicePasswords;
    for (const auto& typed : request.devicePasswords) {
        devicePasswords.push_back(upperCasePassword(typed));
        if (!mme::isDevicePasswordForm(devicePasswords.back())) {
            io.err << "zrq406: " << texts.message("msg57") << '\n';
            return kBadInput;
        }
    }
    const std::string password = request.password.value_or(std::string(mme::kDefaultNetworkPassword));
    switch (mme::ValidateNetworkPassword(password)) {
    case mme::PasswordProblem::Length: {
        const std::string rule = texts.message("msg21");
        const auto stop = rule.find('.');
        io.err << "zrq406: " << rule.substr(0, stop == std::string::npos ? rule.size() : stop + 1)
               << texts.message("msg22") << '\n';
        return kBadInput;
    }
    case mme::PasswordProblem::Character:
        io.err << "zrq406: " << texts.message("msg21") << '\n';
        return kBadInput;
    case mme::PasswordProblem::None:
        break;
    }
    Session session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    auto& operations = session.operations();
    const mme::Key nmk = mme::DeriveNmk(password);
    json results = json::array();
    std::vector<std::string> failed;
    // Remote devices first: keying the local device first would cut the way to the others.
    for (std::size_t i = 0; i < remotes.size(); ++i) {
        const bool ok = operations.SetRemoteKey(devicePasswords[i], nmk, remotes[i]);
        results.push_back({{"mac", remotes[i].text()}, {"keyed", ok}});
        if (!ok)
            failed.push_back(remotes[i].text());
    }
    if (request.local) {
        const link::AdapterRecord* adapter = session.adapters().current();
        const MacAddress local = adapter != nullptr ? adapter->localDeviceMac : MacAddress{};
        const bool ok = operations.SetKey(nmk, nullptr, nullptr);
        results.push_back({{"mac", local.text()}, {"keyed", ok}, {"local", true}});
        if (!ok)
            failed.push_back(local.text());
    }
    if (options.json) {
        io.out << json{{"devices", results}}.dump(2) << '\n';
    } else {
        for (const auto& r : results)
            io.out << r["mac"].get<std::string>() << (r["keyed"].get<bool>() ? ": new key set" : ": FAILED") << '\n';
    }
    if (!failed.empty()) {
        io.err << "zrq406: " << failed.size() << " device(s) did not take the new key\n";
        return kRefused;
    }
    return kDone;
}

int runCheckPassword(const GlobalOptions& options, const std::string& macText, const std::string& typed, Output& io) {
    const auto mac = parseMacArgument(macText, io);
    if (!mac)
        return kBadInput;
    Texts texts(options, io.err);
    const std::string password = upperCasePassword(typed);
    if (!mme::isDevicePasswordForm(password)) {
        io.err << "zrq406: " << texts.message("msg57") << '\n';
        return kBadInput;
    }
    Session session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    auto& operations = session.operations();
    // The proof sends the device's own current key back under its DAK: a key not read from the device would
    // move it to another network, so nothing is sent when the read fails.
    mme::ConfigBlock block{};
    if (!operations.ReadConfigBlockPrefix(*mac, block, mme::kMaxBlock)) {
        io.err << "zrq406: the network key of " << mac->text() << " could not be read; nothing was sent\n";
        return kRefused;
    }
    const bool accepted = operations.SetRemoteKey(password, mme::nmkOf(block), *mac);
    if (options.json)
        io.out << json{{"mac", mac->text()}, {"accepted", accepted}}.dump(2) << '\n';
    else if (accepted)
        io.out << "The device password of " << mac->text() << " is correct\n";
    if (!accepted) {
        io.err << "zrq406: " << texts.message("msg04") << '\n';
        return kRefused;
    }
    return kDone;
}

int runHistory(const GlobalOptions& options, Output& io) {
    DeviceRegistry registry = makeRegistry(options);
    const auto& table = registry.historyTable();
    if (registry.HistoryFileHasData())
        registry.LoadHistory();
    const int count = registry.HistoryFileHasData() ? std::min(table.fileCount, HistoryTable::capacity) : 0;
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
        io.out << list.dump(2) << '\n';
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
