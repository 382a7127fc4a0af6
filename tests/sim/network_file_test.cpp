// Network descriptions: the built-in network, defaults, persistence of device state, and refused files.

#include "mme/confirmations.h"
#include "mme/key_derivation.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "sim/network_file.h"
#include "tests/sim/sim_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace zrq406::sim::test {
namespace {

// Points the built-in network's state file into a temporary folder for one test.
class StateFileEnvironment {
public:
    explicit StateFileEnvironment(const std::string& path) {
        if (const char* old = std::getenv("ZRQ406_SIM_STATE"))
            m_old = old;
        ::setenv("ZRQ406_SIM_STATE", path.c_str(), 1);
    }
    ~StateFileEnvironment() {
        if (m_old)
            ::setenv("ZRQ406_SIM_STATE", m_old->c_str(), 1);
        else
            ::unsetenv("ZRQ406_SIM_STATE");
    }

private:
    std::optional<std::string> m_old;
};

std::string refusal(const std::string& text) {
    std::string error;
    const auto network = Network::fromJson(text, error);
    EXPECT_FALSE(network) << "accepted: " << text;
    return error;
}

TEST(NetworkFile, BuiltInNetworkHasOneLocalAndThreeRemoteDevices) {
    TempDir dir;
    StateFileEnvironment state(dir.file("state.json"));
    std::string error;
    auto network = Network::load(std::nullopt, error);
    ASSERT_TRUE(network) << error;
    EXPECT_EQ(network->stateFile(), std::filesystem::path(dir.file("state.json")));
    const auto adapters = network->hostAdapters();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].name, "sim0");
    ASSERT_EQ(network->deviceAddresses().size(), 4u);

    HostPort host(adapters[0].segment, kHost);
    const auto local =
        mme::parseSoftwareVersion(*host.exchange(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), kHost)));
    ASSERT_TRUE(local);
    EXPECT_NE(local->version.find("3-3-3348-00-2764"), std::string::npos);
    const auto info = mme::parseNetworkInfo(*host.exchange(mme::buildNetworkInfoRequest(local->source, kHost)));
    ASSERT_TRUE(info);
    ASSERT_EQ(info->stations.size(), 3u);
    int needingUpgrade = 0;
    int ledsOff = 0;
    for (const auto& station : info->stations) {
        EXPECT_GE(station.averageTxRate, 60);
        EXPECT_LE(station.averageTxRate, 120);
        const auto version =
            mme::parseSoftwareVersion(*host.exchange(mme::buildSoftwareVersionRequest(station.mac, kHost)));
        ASSERT_TRUE(version);
        needingUpgrade += version->version.find("3-3-3348-00-2764") == std::string::npos;
        const auto block = readConfigBlock(host, station.mac);
        ASSERT_TRUE(block);
        EXPECT_EQ(mme::nmkOf(*block), mme::kDefaultNmk);
        EXPECT_EQ(mme::productText(*block).rfind("TALVERN ZRQ406", 0), 0u);
        ledsOff += mme::ledsOff(*block);
    }
    EXPECT_EQ(needingUpgrade, 1);
    EXPECT_EQ(ledsOff, 1);
    // Nothing changed, nothing written.
    network.reset();
    EXPECT_FALSE(std::filesystem::exists(dir.file("state.json")));
}

TEST(NetworkFile, BuiltInNetworkStateSurvivesTheProgram) {
    TempDir dir;
    StateFileEnvironment state(dir.file("sub/state.json"));
    const mme::Key key = mme::DeriveNmk("FamilyNetwork7");
    MacAddress local;
    {
        std::string error;
        auto network = Network::load(std::nullopt, error);
        ASSERT_TRUE(network) << error;
        HostPort host(network->hostAdapters()[0].segment, kHost);
        const auto version = mme::parseSoftwareVersion(
            *host.exchange(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), kHost)));
        local = version->source;
        ASSERT_EQ(statusOf(host.exchange(mme::buildSetLocalKeyRequest(local, kHost, key))), 0);
    }
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("sub/state.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string error;
    auto network = Network::load(std::nullopt, error);
    ASSERT_TRUE(network) << error;
    HostPort host(network->hostAdapters()[0].segment, kHost);
    const auto block = readConfigBlock(host, local);
    ASSERT_TRUE(block);
    EXPECT_EQ(mme::nmkOf(*block), key);
    // The remotes kept the default key, so the local device is alone now.
    const auto networkInfo = mme::parseNetworkInfo(*host.exchange(mme::buildNetworkInfoRequest(local, kHost)));
    EXPECT_EQ(networkInfo->networks, 0);
}

TEST(NetworkFile, GivenFileIsKeptUpToDateAndKeepsItsOtherFields) {
    TempDir dir;
    const std::string path = dir.file("net.json");
    writeFile(path, R"({
  "comment": "two devices in the lab",
  "devices": [
    {"mac": "00:b0:52:00:04:01", "comment": "desk", "networkPassword": "LabNetwork01", "tei": 1},
    {"mac": "00:b0:52:00:04:02", "networkPassword": "LabNetwork01", "tei": 2, "password": "ABCD-EFGH",
     "restartMs": {"firmwareCommit": 100}}
  ]
})");
    const MacAddress remote = mac("00:b0:52:00:04:02");
    const auto image = makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-NA-0999", 2500);
    {
        std::string error;
        auto network = Network::load(path, error);
        ASSERT_TRUE(network) << error;
        HostPort host(network->hostAdapters()[0].segment, kHost);
        auto block = *readConfigBlock(host, remote);
        mme::setLeds(block, false);
        sealConfigBlock(block);
        ASSERT_EQ(writeModule(host, remote, 1, image), std::vector<std::uint8_t>(3, 0));
        ASSERT_EQ(writeModule(host, remote, 2, block), std::vector<std::uint8_t>(8, 0));
        ASSERT_EQ(statusOf(host.exchange(mme::buildCommitRequest(remote, kHost, 3))), 0);
        ASSERT_TRUE(network->flush(error)) << error;
        // Written at once, not only when the network goes away.
        const auto saved = nlohmann::json::parse(readFile(path));
        EXPECT_EQ(saved["devices"][1]["firmware"], "ZRQPLC1-MAC-3-3-3348-00-2764-NA-0999");
    }
    const auto saved = nlohmann::json::parse(readFile(path));
    EXPECT_EQ(saved["comment"], "two devices in the lab");
    EXPECT_EQ(saved["devices"][0]["comment"], "desk");
    EXPECT_EQ(saved["devices"][0]["networkPassword"], "LabNetwork01"); // unchanged device: as written
    EXPECT_EQ(saved["devices"][1]["password"], "ABCD-EFGH");
    EXPECT_EQ(saved["devices"][1]["led"], false);
    EXPECT_TRUE(saved["devices"][1].contains("configBlock"));

    std::string error;
    auto network = Network::load(path, error);
    ASSERT_TRUE(network) << error;
    HostPort host(network->hostAdapters()[0].segment, kHost);
    const auto version = mme::parseSoftwareVersion(*host.exchange(mme::buildSoftwareVersionRequest(remote, kHost)));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->version, "ZRQPLC1-MAC-3-3-3348-00-2764-NA-0999");
    const auto snapshot = network->device(remote);
    EXPECT_FALSE(snapshot->ledOn);
    EXPECT_EQ(snapshot->firmwareImage, *firmwareImageIdentity(image));
    EXPECT_EQ(snapshot->nmk, mme::DeriveNmk("LabNetwork01"));
}

TEST(NetworkFile, HandEditedFieldsWinOverTheSavedBlock) {
    TempDir dir;
    const std::string path = dir.file("net.json");
    writeFile(path, R"({"devices": [{"mac": "00:b0:52:00:05:01", "led": false}]})");
    {
        std::string error;
        auto network = Network::load(path, error);
        ASSERT_TRUE(network) << error;
        HostPort host(network->hostAdapters()[0].segment, kHost);
        ASSERT_EQ(statusOf(host.exchange(
                      mme::buildSetLocalKeyRequest(MacAddress::localDevice(), kHost, mme::DeriveNmk("Edited0001")))),
                  0);
    }
    auto saved = nlohmann::ordered_json::parse(readFile(path));
    ASSERT_TRUE(saved["devices"][0].contains("configBlock"));
    saved["devices"][0]["led"] = true;
    saved["devices"][0].erase("nmk");
    saved["devices"][0]["networkPassword"] = "HomePlugAV";
    writeFile(path, saved.dump(2));
    std::string error;
    auto network = Network::load(path, error);
    ASSERT_TRUE(network) << error;
    const auto snapshot = network->device(mac("00:b0:52:00:05:01"));
    EXPECT_TRUE(snapshot->ledOn);
    EXPECT_EQ(snapshot->nmk, mme::kDefaultNmk);
    EXPECT_TRUE(configBlockValid(snapshot->configBlock));
}

TEST(NetworkFile, SavingKeepsWhatAnotherProgramSavedForOtherDevices) {
    std::string error;
    auto ours = NetworkFile::parse(NetworkFile::builtInText(), "ours", error);
    ASSERT_TRUE(ours) << error;
    // This program changed the third device; meanwhile another one saved a change of the first.
    auto block = makeConfigBlock(ConfigBlockFields{});
    mme::setLeds(block, false);
    mme::sealConfigBlock(block);
    ours->recordState(2, DeviceState{block, *firmwareImageIdentity(makeFirmwareImage("ZRQPLC1-MAC-9-9"))});
    auto disk = nlohmann::ordered_json::parse(NetworkFile::builtInText());
    disk["devices"][0]["led"] = false;
    const auto merged = nlohmann::ordered_json::parse(ours->mergedText(disk.dump(), {2}));
    EXPECT_EQ(merged["devices"][0]["led"], false);
    EXPECT_EQ(merged["devices"][2]["firmware"], "ZRQPLC1-MAC-9-9");
    EXPECT_EQ(merged["devices"][2]["led"], false);
    // A file that is no longer the same network is written over whole.
    disk["devices"][1]["mac"] = "00:b0:52:77:77:77";
    const auto whole = nlohmann::ordered_json::parse(ours->mergedText(disk.dump(), {2}));
    EXPECT_EQ(whole["devices"][1]["mac"], "00:b0:52:5a:00:02");
    EXPECT_EQ(nlohmann::ordered_json::parse(ours->mergedText("not json", {2}))["devices"].size(), 4u);
}

TEST(NetworkFile, DefaultsOfAMinimalDescription) {
    auto network = makeNetwork(R"({"devices": [{"mac": "00:b0:52:00:06:01"}, {"mac": "00:b0:52:00:06:02"}]})");
    ASSERT_TRUE(network);
    const auto adapters = network->hostAdapters();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].name, "sim0");
    EXPECT_FALSE(network->stateFile());
    const auto first = network->device(mac("00:b0:52:00:06:01"));
    EXPECT_TRUE(first->attached);
    EXPECT_FALSE(network->device(mac("00:b0:52:00:06:02"))->attached);
    EXPECT_EQ(first->nmk, mme::kDefaultNmk);
    EXPECT_EQ(first->configBlock.size(), 8192u);
    EXPECT_TRUE(first->ledOn);
    EXPECT_EQ(first->platform, "ZRQPLC1");
    EXPECT_EQ(first->product, "TALVERN ZRQ406-CE-12");
    EXPECT_EQ(first->tei, 1);
    EXPECT_EQ(first->dak, mme::DeriveDak("00B0-5200-0601"));
    EXPECT_TRUE(configBlockValid(first->configBlock));
    // The identity field at 18 holds the device access key.
    EXPECT_TRUE(std::equal(first->dak.begin(), first->dak.end(), first->configBlock.begin() + 18));
}

TEST(NetworkFile, HostAdapterWithoutDevice) {
    auto network = makeNetwork(R"({
      "hostAdapters": [{"name": "eth-empty", "mac": "02:00:00:00:07:01"},
                       {"name": "eth-plc", "mac": "02:00:00:00:07:02", "device": "00:b0:52:00:07:01"}],
      "devices": [{"mac": "00:b0:52:00:07:01"}]})");
    ASSERT_TRUE(network);
    ASSERT_EQ(network->hostAdapters().size(), 2u);
    HostPort empty(network->segment("eth-empty"), kHost);
    EXPECT_FALSE(empty.exchange(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), kHost), kSilenceWindow));
    HostPort plc(network->segment("eth-plc"), kHost);
    EXPECT_TRUE(plc.exchange(mme::buildSoftwareVersionRequest(MacAddress::localDevice(), kHost)));
    EXPECT_EQ(network->firstAttachedAdapter()->name, "eth-plc");
}

TEST(NetworkFile, SyntaxErrorsGiveLineAndColumn) {
    const std::string error = refusal("{\n  \"devices\": [\n    {\"mac\": }\n  ]\n}\n");
    EXPECT_EQ(error.rfind("network description:3:13: ", 0), 0u) << error;
    EXPECT_NE(error.find("syntax error"), std::string::npos) << error;

    TempDir dir;
    writeFile(dir.file("bad.json"), "{\"devices\": [}");
    std::string fileError;
    EXPECT_FALSE(Network::load(dir.file("bad.json"), fileError));
    EXPECT_EQ(fileError.rfind(dir.file("bad.json") + ":1:14: ", 0), 0u) << fileError;
}

TEST(NetworkFile, SchemaErrorsNameTheNode) {
    const std::string three = R"({"mac": "00:b0:52:00:08:01"}, {"mac": "00:b0:52:00:08:02"}, )";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"devices": [)" + three + R"({"mac": "00:b0:52:00:08"}]})", "/devices/2/mac: not a MAC address"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "colour": "red"}]})", "/devices/0/colour: unknown field"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "faults": [{"kind": "explode", "nth": 1}]}]})",
         "/devices/0/faults/0/kind: unknown fault kind"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "faults": [{"kind": "drop"}]}]})",
         "/devices/0/faults/0: give either nth"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01",
                          "faults": [{"kind": "malformed", "nth": 1, "form": "stations"}]}]})",
         "/devices/0/faults/0/form: \"stations\" needs"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "faults": [{"kind": "delay", "nth": 1}]}]})",
         "/devices/0/faults/0/ms: is missing"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "faults": [{"kind": "drop", "nth": 1, "message": "reboot"}]}]})",
         "/devices/0/faults/0/message: unknown request"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "tei": 3}, {"mac": "00:b0:52:00:08:02", "tei": 3}]})",
         "/devices/1/tei: TEI 3 is already used by /devices/0"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01"}, {"mac": "00:B0:52:00:08:01"}]})",
         "/devices/1/mac: another device has the address"},
        {R"({"devices": [{"mac": "00:b0:52:00:00:01"}]})", "/devices/0/mac: 00:b0:52:00:00:01 is the local-device"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "firmware": "ZRQ\u001b[31m"}]})",
         "/devices/0/firmware: must be printable ASCII"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "factory": {"firmware": "ZRQ\u0007"}}]})",
         "/devices/0/factory/firmware: must be printable ASCII"},
        {R"({"hostAdapters": [{"name": "sim0", "impostors": ["01:00:5e:00:00:01"]}], "devices": []})",
         "/hostAdapters/0/impostors/0"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "nmk": "00112233", "networkPassword": "x"}]})",
         "/devices/0/nmk: give either networkPassword or nmk"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "nmk": "0011223344556677"}]})",
         "/devices/0/nmk: must be 32 hexadecimal digits"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "configLength": 20000}]})",
         "/devices/0/configLength: must be a whole number from 1024 to 16384"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "configLength": 2048, "led": false}]})",
         "/devices/0/led: a configuration block of 2048 bytes has no room"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "latencyMs": -1}]})", "/devices/0/latencyMs: must be a number"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "rates": {"00:b0:52:00:08:09": {"tx": 1, "rx": 2}}}]})",
         "/devices/0/rates/00:b0:52:00:08:09: no device has this address"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "rates": {"00:b0:52:00:08:01": {"tx": 300, "rx": 2}}}]})",
         "/devices/0/rates/00:b0:52:00:08:01/tx: must be a whole number from 0 to 255"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "rates": {"00:b0:52:00:08:01": {"tx": 9, "rx": 2,
             "schedule": [{"afterMs": 50, "drop": true}, {"afterMs": 10, "tx": 1, "rx": 1}]}}}]})",
         "/devices/0/rates/00:b0:52:00:08:01/schedule/1/afterMs: must not be earlier than the step before"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "rates": {"00:b0:52:00:08:01": {"tx": 9, "rx": 2,
             "schedule": [{"afterMs": 50, "drop": true, "tx": 3}]}}}]})",
         "/devices/0/rates/00:b0:52:00:08:01/schedule/0: a dropped link has no tx or rx"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "position": -3}]})",
         "/devices/0/position: must be a number of metres"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "configBlock": "00ff"}]})",
         "/devices/0/configBlock: holds 2 bytes"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01"}],
             "hostAdapters": [{"name": "a", "device": "00:b0:52:00:08:02"}]})",
         "/hostAdapters/0/device: no device has the address 00:b0:52:00:08:02"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01"}], "hostAdapters": [{"name": "a", "device": "00:b0:52:00:08:01"},
            {"name": "b", "device": "00:b0:52:00:08:01"}]})",
         "/hostAdapters/1/device: the device is already attached"},
        {R"({"devices": [], "hostAdapters": [{"name": "a b"}]})", "/hostAdapters/0/name: must be 1 to 15"},
        {R"({"devices": [], "hostAdapters": [{"mac": "02:00:00:00:00:01"}]})", "/hostAdapters/0/name: is missing"},
        {R"({"settings": {"restartMs": {"firmwareCommit": "soon"}}})",
         "/settings/restartMs/firmwareCommit: must be a number of milliseconds"},
        {R"({"devices": {}})", "/devices: must be an array"},
        {R"([1, 2])", "top level: must be an object"},
        {R"({"settings": {"carrierMapSlots": 7}})", "/settings/carrierMapSlots: must be a whole number from 0 to 6"},
        {R"({"settings": {"rateDrift": -5}})", "/settings/rateDrift: must be a percentage from 0 to 90"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "noise": [{"fromMHz": 12, "toMHz": 10, "dB": 30}]}]})",
         "/devices/0/noise/0/toMHz: must not be below fromMHz"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "noise": [{"fromMHz": 12, "toMHz": 14}]}]})",
         "/devices/0/noise/0/dB: is missing"},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "linkHealth": "maybe"}]})",
         "/devices/0/linkHealth: must be \"answer\", \"silent\" or \"refuse\""},
        {R"({"devices": [{"mac": "00:b0:52:00:08:01", "rates": {"00:b0:52:00:08:01": {"tx": 9, "rx": 2,
             "dips": {"toPercent": 140}}}}]})",
         "/devices/0/rates/00:b0:52:00:08:01/dips/toPercent: must be a percentage from 0 to 100"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string error = refusal(text);
        EXPECT_EQ(error.rfind("network description: " + expected, 0), 0u) << "got: " << error;
    }
}

TEST(NetworkFile, SavedBlockIsCheckedOnLoad) {
    std::string parseError;
    auto file = NetworkFile::parse(R"({"devices": [{"mac": "00:b0:52:00:09:01"}]})", "x", parseError);
    ASSERT_TRUE(file) << parseError;
    auto block = file->description().devices[0].configBlock;
    block[300] ^= 1;
    file->recordState(0, DeviceState{block, file->description().devices[0].firmware});
    const std::string error = refusal(file->text());
    EXPECT_EQ(error, "network description: /devices/0/configBlock: its checksum does not match");
}

TEST(NetworkFile, UnreadableFilesAreRefusedWithTheirName) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(Network::load(dir.file("missing.json"), error));
    EXPECT_EQ(error.rfind(dir.file("missing.json") + ": cannot be opened", 0), 0u) << error;

    // A broken state file of the built-in network is refused too, not silently replaced.
    writeFile(dir.file("state.json"), "{");
    StateFileEnvironment state(dir.file("state.json"));
    EXPECT_FALSE(Network::load(std::nullopt, error));
    EXPECT_EQ(error.rfind(dir.file("state.json") + ":", 0), 0u) << error;
    EXPECT_EQ(readFile(dir.file("state.json")), "{");
}

TEST(NetworkFile, BuiltInTextIsAValidDescription) {
    std::string error;
    const auto file = NetworkFile::parse(NetworkFile::builtInText(), "built-in", error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->description().devices.size(), 4u);
    // Its latencies: 1 ms for the attached device, 5 ms for the others; restarts below the programs' waits.
    EXPECT_EQ(file->description().devices[0].latencyMs, 1);
    EXPECT_EQ(file->description().devices[1].latencyMs, 5);
    for (const auto& device : file->description().devices) {
        EXPECT_LT(device.restart.firmwareCommitMs, 4000);
        EXPECT_LT(device.restart.configCommitMs, 1000);
        EXPECT_LT(device.restart.factoryResetMs, 13000);
    }
}

} // namespace
} // namespace zrq406::sim::test
