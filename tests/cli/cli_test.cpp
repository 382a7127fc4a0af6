#include "cli_fixture.h"
#include "platform/hex_text.h"
#include "platform/text_field.h"
#include "registry/history_file.h"

#include <fstream>
#include <sys/stat.h>

using zrq406::test::CliFixture;
using zrq406::test::capturedOfType;
namespace mme = zrq406::mme;

namespace {
const std::string kLocal = "00:b0:52:5a:00:01";
const std::string kRemote = "00:b0:52:5a:00:02";
const std::string kOld = "00:b0:52:5a:00:03";
const std::string kRemotePassword = "GTNE-WHFU-YBSK-QCLM";

nlohmann::json deviceOf(const nlohmann::json& scan, const std::string& mac) {
    if (!scan.is_object() || !scan.contains("devices"))
        return {};
    for (const auto& d : scan["devices"])
        if (d["mac"] == mac)
            return d;
    return {};
}
} // namespace

TEST_F(CliFixture, AdaptersAndScan) {
    auto adapters = run({"--json", "adapters"});
    ASSERT_EQ(adapters.code, 0) << adapters.err;
    ASSERT_EQ(adapters.json().size(), 1u);
    EXPECT_EQ(adapters.json()[0]["interface"], "sim0");

    auto scan = run({"--json", "scan"});
    ASSERT_EQ(scan.code, 0) << scan.err;
    const auto doc = scan.json();
    ASSERT_EQ(doc["devices"].size(), 4u);
    EXPECT_EQ(doc["devices"][0]["mac"], kLocal); // the local device first
    EXPECT_EQ(doc["devices"][0]["phyRate"], "200");
    EXPECT_EQ(doc["devices"][0]["location"], "Local");
    EXPECT_EQ(deviceOf(doc, kRemote)["location"], "Remote");
    EXPECT_EQ(deviceOf(doc, "00:b0:52:5a:00:04")["led"], "Off");
    EXPECT_EQ(doc["network"]["key"], "default");
    EXPECT_EQ(doc["network"]["coordinator"], kLocal);

    // The scan merged every device into the history, with default names.
    auto history = run({"--json", "history"});
    ASSERT_EQ(history.code, 0);
    ASSERT_EQ(history.json().size(), 4u);
    EXPECT_EQ(history.json()[1]["name"], "Powerline Device 02");

    // German words come from the German language file.
    auto german = run({"--lang", "de", "--json", "scan", "--no-save"});
    ASSERT_EQ(german.code, 0) << german.err;
    EXPECT_NE(german.json()["devices"][0]["location"], "Local");
}

TEST_F(CliFixture, WithoutItsLanguageFileTheToolSaysSoOnceAndSpeaksEnglish) {
    const std::string dataDir = std::getenv("ZRQ406_DATA_DIR");
    setenv("ZRQ406_DATA_DIR", path("empty").c_str(), 1);
    auto scan = run({"--lang", "de", "--json", "scan", "--no-save"});
    setenv("ZRQ406_DATA_DIR", dataDir.c_str(), 1);
    ASSERT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(std::count(scan.err.begin(), scan.err.end(), '\n'), 1) << scan.err;
    EXPECT_NE(scan.err.find("German.xml"), std::string::npos) << scan.err;
    EXPECT_NE(scan.err.find(path("empty").string()), std::string::npos) << scan.err;
    EXPECT_EQ(scan.json()["devices"][0]["location"], "Local");
    EXPECT_EQ(deviceOf(scan.json(), kRemote)["location"], "Remote");
}

TEST_F(CliFixture, LedSwitchIsKeptByTheDevice) {
    auto off = run({"--json", "led", kRemote, "off"});
    ASSERT_EQ(off.code, 0) << off.err;
    EXPECT_TRUE(off.json()["changed"]);
    EXPECT_EQ(deviceOf(run({"--json", "scan", "--no-save"}).json(), kRemote)["led"], "Off");
    auto again = run({"--json", "led", kRemote, "off"});
    EXPECT_FALSE(again.json()["changed"]);
    ASSERT_EQ(run({"led", kRemote, "on"}).code, 0);
    EXPECT_EQ(deviceOf(run({"--json", "scan", "--no-save"}).json(), kRemote)["led"], "On");
}

TEST_F(CliFixture, SetKeyMovesDevicesToAPrivateNetwork) {
    // A wrong device password: the remote device refuses and the tool says so.
    auto wrong =
        run({"set-key", "--password", "OurNetwork42", "--device", kRemote, "--device-password", "AAAA-BBBB-CCCC-DDDD"});
    EXPECT_EQ(wrong.code, 1);
    EXPECT_NE(wrong.err.find(kRemote + ": "), std::string::npos) << wrong.err;

    auto keyed = run({"--json", "set-key", "--password", "OurNetwork42", "--local", "--device", kRemote,
                      "--device-password", kRemotePassword});
    ASSERT_EQ(keyed.code, 0) << keyed.err;
    // Remote devices first, the local one last.
    EXPECT_EQ(keyed.json()["devices"][0]["mac"], kRemote);
    EXPECT_EQ(keyed.json()["devices"][1]["mac"], kLocal);

    // Now only the remote device shares the local device's network.
    auto scan = run({"--json", "scan", "--no-save"});
    ASSERT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(scan.json()["devices"].size(), 2u);
    EXPECT_EQ(scan.json()["network"]["key"], "private");

    ASSERT_EQ(run({"set-key", "--default", "--local", "--device", kRemote, "--device-password", kRemotePassword}).code,
              0);
    EXPECT_EQ(run({"--json", "scan", "--no-save"}).json()["devices"].size(), 4u);
}

// A host on the segment that answers the local-device address too could take the network key: with two answers no
// local device is taken, no key leaves, and the message names both.
TEST_F(CliFixture, TwoDevicesAnsweringAsTheAttachedOneGetNoKey) {
    const std::string impostor = "02:66:77:88:99:aa";
    network()["hostAdapters"][0]["impostors"] = {impostor};
    writeNetwork();
    const auto named = [&](const Result& r) {
        return r.err.find("More than one device answers as the device attached to this computer") != std::string::npos &&
               r.err.find(kLocal) != std::string::npos && r.err.find(impostor) != std::string::npos;
    };
    const auto scan = run({"scan", "--no-save"});
    EXPECT_EQ(scan.code, 1);
    EXPECT_TRUE(named(scan)) << scan.err;

    const auto capture = path("set-key.pcap");
    const auto keyed = run({"--capture", capture.string(), "set-key", "--password", "OurNetwork42", "--local",
                            "--device", kRemote, "--device-password", kRemotePassword});
    EXPECT_EQ(keyed.code, 1);
    EXPECT_TRUE(named(keyed)) << keyed.err;
    EXPECT_EQ(capturedOfType(capture, static_cast<std::uint16_t>(mme::MmType::SetKey)), 0u);
    const auto reset = run({"--capture", capture.string(), "reset", kRemote});
    EXPECT_EQ(reset.code, 1);
    EXPECT_EQ(capturedOfType(capture, static_cast<std::uint16_t>(mme::MmType::FactoryReset)), 0u);

    network()["hostAdapters"][0].erase("impostors");
    writeNetwork();
    const auto after = run({"--json", "scan", "--no-save"});
    ASSERT_EQ(after.code, 0) << after.err;
    EXPECT_EQ(after.json()["devices"].size(), 4u) << "no device changed its key";
}

TEST_F(CliFixture, SetKeyRefusesBadNetworkPasswordsBeforeSending) {
    auto shortOne = run({"set-key", "--password", "short", "--local"});
    EXPECT_EQ(shortOne.code, 2);
    EXPECT_FALSE(shortOne.err.empty());
    EXPECT_EQ(run({"set-key", "--password", "has a space", "--local"}).code, 2);
    EXPECT_EQ(run({"set-key", "--password", "GoodPassword"}).code, 2); // no device named
}

TEST_F(CliFixture, CheckPasswordProvesWithoutChangingTheNetwork) {
    EXPECT_EQ(run({"check-password", kRemote, "gtne-whfu-ybsk-qclm"}).code, 0); // typed in lower case
    EXPECT_EQ(run({"check-password", kRemote, "AAAA-BBBB-CCCC-DDDD"}).code, 1);
    EXPECT_EQ(run({"check-password", kRemote, "GTNE-WHFU-YBSKQCLM"}).code, 2);
    EXPECT_EQ(run({"check-password", "not-a-mac", kRemotePassword}).code, 2);
    EXPECT_EQ(run({"--json", "scan", "--no-save"}).json()["devices"].size(), 4u);
}

// A block that names another device is not this device's: read again, refused, and never written back to it.
TEST_F(CliFixture, ABlockNamingAnotherDeviceIsRefusedAndNothingIsWritten) {
    zrq406::sim::ConfigBlockFields fields;
    fields.mac = *zrq406::MacAddress::parse(kOld);
    const std::string block = zrq406::hexText(zrq406::sim::makeConfigBlock(fields));
    for (auto& device : network()["devices"])
        if (device["mac"] == kRemote)
            device["configBlock"] = block;
    writeNetwork();
    auto led = run({"led", kRemote, "off"});
    EXPECT_EQ(led.code, 1);
    EXPECT_NE(led.err.find("(it names another device); nothing was changed"), std::string::npos) << led.err;
    std::ifstream saved(networkPath());
    const auto devices = nlohmann::json::parse(saved)["devices"];
    const auto remote = std::find_if(devices.begin(), devices.end(), [](const auto& d) { return d["mac"] == kRemote; });
    ASSERT_NE(remote, devices.end());
    EXPECT_EQ((*remote)["configBlock"], block);
}

TEST_F(CliFixture, ResetBringsBackFactorySettings) {
    ASSERT_EQ(run({"led", kRemote, "off"}).code, 0);
    auto reset = run({"reset", kRemote});
    ASSERT_EQ(reset.code, 0) << reset.err;
    // While it restarts the device does not answer; once back it has its factory LEDs again.
    EXPECT_EQ(run({"reset", "00:b0:52:77:77:77"}).code, 1);
}

TEST_F(CliFixture, UpgradeWritesFirmwareKeepsIdentityAndBacksUp) {
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    auto check = run({"check-file", file.string()});
    ASSERT_EQ(check.code, 0) << check.err;
    EXPECT_EQ(check.out, "3-3-3348-00-2764-CE-0712\n");

    auto upgrade = run({"--json", "upgrade", file.string(), kOld});
    ASSERT_EQ(upgrade.code, 0) << upgrade.err;
    const auto report = upgrade.json();
    ASSERT_TRUE(report.contains("backup"));
    EXPECT_TRUE(std::filesystem::exists(report["backup"].get<std::string>()));

    const auto scan = run({"--json", "scan", "--no-save"}).json();
    EXPECT_EQ(deviceOf(scan, kOld)["firmware"], "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    EXPECT_EQ(scan["devices"].size(), 4u); // still on the default network key
    // A second run has nothing left to write.
    EXPECT_EQ(run({"upgrade", file.string(), kOld}).code, 0);
}

TEST_F(CliFixture, UpgradeRefusesWrongFilesAndRegions) {
    std::ofstream(path("junk.bin")) << "not an upgrade file";
    EXPECT_EQ(run({"upgrade", path("junk.bin").string()}).code, 2);
    EXPECT_EQ(run({"check-file", path("missing.bin").string()}).code, 2);
    const auto na = upgradeFile("3-3-3348-00-2764-NA-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-NA-0712");
    auto refused = run({"upgrade", na.string(), kOld});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("compare the versions"), std::string::npos) << refused.err;
}

TEST_F(CliFixture, PowerLossDuringUpgradeKeepsTheCommittedImages) {
    for (auto& device : network()["devices"])
        if (device["mac"] == kOld)
            device["faults"] = nlohmann::json::array({{{"kind", "power-loss"}, {"afterBlock", 5}}});
    writeNetwork();
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    auto upgrade = run({"upgrade", file.string(), kOld});
    EXPECT_EQ(upgrade.code, 1);
    EXPECT_NE(upgrade.err.find("write the firmware image"), std::string::npos) << upgrade.err;
    // Once it is back, the device runs what it last committed.
    nlohmann::json scan;
    for (int i = 0; i < 50 && deviceOf(scan, kOld).is_null(); ++i) {
        const auto result = run({"--json", "scan", "--no-save"});
        if (result.code == 0)
            scan = result.json();
    }
    EXPECT_EQ(deviceOf(scan, kOld)["firmware"], "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511");
}

TEST_F(CliFixture, PackUpgradeAndDeriveKey) {
    const auto firmware = zrq406::sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2800-CE-0800", 4096);
    zrq406::sim::ConfigBlockFields fields;
    const auto config = zrq406::sim::makeConfigBlock(fields);
    std::ofstream(path("fw.img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(firmware.data()), static_cast<std::streamsize>(firmware.size()));
    std::ofstream(path("cfg.img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(config.data()), static_cast<std::streamsize>(config.size()));
    auto packed = run({"pack-upgrade", "--firmware", path("fw.img").string(), "--config", path("cfg.img").string(),
                       "--version", "3-3-3348-00-2800-CE-0800", "-o", path("out.bin").string()});
    ASSERT_EQ(packed.code, 0) << packed.err;
    EXPECT_EQ(run({"check-file", path("out.bin").string()}).out, "3-3-3348-00-2800-CE-0800\n");
    std::ofstream(path("short.img")) << std::string(500, 'x');
    EXPECT_EQ(run({"pack-upgrade", "--firmware", path("fw.img").string(), "--config", path("short.img").string(),
                   "--version", "V", "-o", path("bad.bin").string()})
                  .code,
              2);
    EXPECT_FALSE(std::filesystem::exists(path("bad.bin")));

    EXPECT_EQ(run({"derive-key", "--nmk", "HomePlugAV"}).out, "50d3e4933f855b7040784df815aa8db7\n");
    EXPECT_EQ(run({"derive-key", "HomePlugAV"}).code, 2);
    EXPECT_EQ(run({"no-such-command"}).code, 2);
}

TEST_F(CliFixture, PackUpgradeReplacesItsOutputInOneStepAndTouchesNothingElse) {
    const auto firmware = zrq406::sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2800-CE-0800", 4096);
    const auto config = zrq406::sim::makeConfigBlock({});
    std::ofstream(path("fw.img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(firmware.data()), static_cast<std::streamsize>(firmware.size()));
    std::ofstream(path("cfg.img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(config.data()), static_cast<std::streamsize>(config.size()));
    auto pack = [&](const std::filesystem::path& out) {
        return run({"pack-upgrade", "--firmware", path("fw.img").string(), "--config", path("cfg.img").string(),
                    "--version", "3-3-3348-00-2800-CE-0800", "-o", out.string()});
    };
    // A file of the user's that happens to carry the name "<output>.tmp" is no scratch file of ours.
    std::ofstream(path("out.bin.tmp")) << "the user's own file";
    std::ofstream(path("out.bin")) << "an older upgrade file";
    const mode_t savedMask = ::umask(0077);
    const auto packed = pack(path("out.bin"));
    ::umask(savedMask);
    ASSERT_EQ(packed.code, 0) << packed.err;
    EXPECT_EQ(run({"check-file", path("out.bin").string()}).out, "3-3-3348-00-2800-CE-0800\n");
    std::ifstream own(path("out.bin.tmp"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(own), {}), "the user's own file");
    // Upgrade files are for anyone to read, whatever the umask.
    EXPECT_EQ(std::filesystem::status(path("out.bin")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read);

    // A folder in the output's place stays as it is, and the error names it.
    std::filesystem::create_directories(path("folder.bin") / "inner");
    const auto refused = pack(path("folder.bin"));
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("folder.bin"), std::string::npos) << refused.err;
    EXPECT_TRUE(std::filesystem::is_directory(path("folder.bin") / "inner"));
    for (const auto& entry : std::filesystem::directory_iterator(path("")))
        EXPECT_EQ(entry.path().filename().string().rfind(".", 0), std::string::npos)
            << "temporary file left behind: " << entry.path();
}

TEST_F(CliFixture, BadNetworkFileIsRefusedWithItsPlace) {
    std::ofstream(networkPath()) << "{\n  \"devices\": [\n    {\"mac\": \"zz\"}\n  ]\n}\n";
    auto result = run({"adapters"});
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("network.json"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("/devices/0/mac"), std::string::npos) << result.err;
}

TEST_F(CliFixture, CaptureWritesEveryFrameToAPcapFile) {
    const auto capture = path("scan.pcap");
    ASSERT_EQ(run({"--capture", capture.string(), "scan", "--no-save"}).code, 0);
    std::ifstream in(capture, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 24u + 16u + 60u);
    // A classic pcap file of Ethernet frames, whose first record is the first request of the scan.
    const std::uint32_t magic = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    EXPECT_TRUE(magic == 0xA1B2C3D4u || magic == 0xA1B23C4Du);
    EXPECT_EQ(bytes[20], 1); // link type Ethernet
    EXPECT_EQ(bytes[24 + 16 + 12], 0x88);
    EXPECT_EQ(bytes[24 + 16 + 13], 0xE1);
    EXPECT_EQ(run({"--capture", path("no-such-dir/x.pcap").string(), "adapters"}).code, 2);
}

TEST_F(CliFixture, DevicePasswordsAreTakenInUpperCaseAndCheckedForTheirForm) {
    EXPECT_EQ(
        run({"set-key", "--password", "OurNetwork42", "--device", kRemote, "--device-password", "GTNE-WHFU-YBSK"}).code,
        2);
    auto keyed =
        run({"set-key", "--password", "OurNetwork42", "--device", kRemote, "--device-password", "gtne-whfu-ybsk-qclm"});
    EXPECT_EQ(keyed.code, 0) << keyed.err;
}

TEST_F(CliFixture, LedRefusedWhereTheBlockHoldsNoLedSetting) {
    for (auto& device : network()["devices"])
        if (device["mac"] == kRemote)
            device["configLength"] = 4096;
    writeNetwork();
    auto led = run({"led", kRemote, "off"});
    EXPECT_EQ(led.code, 1);
    EXPECT_NE(led.err.find("no LED setting"), std::string::npos) << led.err;
}

TEST_F(CliFixture, RemoteDeviceUpgradedOutOfAPrivateNetworkIsReportedAsLeft) {
    ASSERT_EQ(run({"set-key", "--password", "OurNetwork42", "--local", "--device", kRemote, "--device-password",
                   kRemotePassword})
                  .code,
              0);
    // The file differs in its configuration only; the new block carries the default key.
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0713", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0713");
    auto upgrade = run({"--json", "upgrade", file.string(), kRemote});
    ASSERT_EQ(upgrade.code, 0) << upgrade.err;
    EXPECT_TRUE(upgrade.json()["leftNetwork"].get<bool>());
    // It has left the private network of the local device.
    EXPECT_EQ(run({"--json", "scan", "--no-save"}).json()["devices"].size(), 1u);
}

TEST_F(CliFixture, LocalDeviceUpgradedOffAPrivateKeyIsReportedWithTheWayBack) {
    ASSERT_EQ(run({"set-key", "--password", "OurNetwork42", "--local", "--device", kRemote, "--device-password",
                   kRemotePassword})
                  .code,
              0);
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0713", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0713");
    auto upgrade = run({"upgrade", file.string()});
    ASSERT_EQ(upgrade.code, 0) << upgrade.err;
    EXPECT_NE(upgrade.out.find(kLocal + " now uses the default network key"), std::string::npos) << upgrade.out;
    // It now shares the default key with the two devices left on it, not the private one with the remote device.
    EXPECT_EQ(run({"--json", "scan", "--no-save"}).json()["devices"].size(), 3u);
    // The way back it names brings the remote device into reach again.
    ASSERT_EQ(run({"set-key", "--password-file", "-", "--local"}, "OurNetwork42\n").code, 0);
    EXPECT_EQ(run({"--json", "scan", "--no-save"}).json()["devices"].size(), 2u);
}

TEST_F(CliFixture, JapaneseFirmwareIsNotUpgraded) {
    for (auto& device : network()["devices"])
        if (device["mac"] == kOld)
            device["firmware"] = "ZRQPLC1-MAC-3-3-3348-00-2400-JP-0511";
    writeNetwork();
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    auto upgrade = run({"upgrade", file.string(), kOld});
    EXPECT_EQ(upgrade.code, 1);
    EXPECT_NE(upgrade.err.find("Japanese"), std::string::npos) << upgrade.err;
}

TEST_F(CliFixture, ProductTextThatIsNoUtf8IsStoredWithoutLosingTheNetwork) {
    zrq406::sim::ConfigBlockFields fields;
    fields.product = "TALVERN ZRQ406-CE-\xD6";
    const auto config = zrq406::sim::makeConfigBlock(fields);
    const auto firmware = zrq406::sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", 8192);
    const auto bytes = zrq406::mme::packUpgradeFile(firmware, config, "3-3-3348-00-2764-CE-0712");
    std::ofstream(path("latin1.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_EQ(run({"upgrade", path("latin1.bin").string(), kOld}).code, 0);
    // The network file still loads, with the device's new block.
    auto scan = run({"--json", "scan", "--no-save"});
    ASSERT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(deviceOf(scan.json(), kOld)["firmware"], "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
}

// Texts from devices and files may hold any bytes: every output takes them, bad bytes replaced, and nothing
// reaches the terminal that it would take as a control sequence.
TEST_F(CliFixture, HostileTextsReachEveryOutputSafely) {
    const auto firmware = zrq406::sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2800-CE-0800", 4096);
    const auto config = zrq406::sim::makeConfigBlock({});
    const auto bytes = zrq406::mme::packUpgradeFile(firmware, config, "3-3-\xff\x1b[2J-CE-0800");
    std::ofstream(path("evil.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    auto json = run({"--json", "check-file", path("evil.bin").string()});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.json()["version"], "3-3-\xEF\xBF\xBD\x1b[2J-CE-0800");
    auto plain = run({"check-file", path("evil.bin").string()});
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(plain.out.find('\x1b'), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("3-3-"), std::string::npos);

    zrq406::HistoryTable table{};
    zrq406::copyToField(table.records[0].name, "\xff\xfe\x1b]0;owned\x07");
    zrq406::copyToField(table.records[0].mac, kRemote);
    ASSERT_TRUE(zrq406::HistoryFile(historyPath()).save(table, 1));
    auto history = run({"--json", "history"});
    ASSERT_EQ(history.code, 0) << history.err;
    EXPECT_EQ(history.json()[0]["name"].get<std::string>().substr(0, 6), "\xEF\xBF\xBD\xEF\xBF\xBD");
    auto table_ = run({"history"});
    ASSERT_EQ(table_.code, 0);
    EXPECT_EQ(table_.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(table_.out.find('\x07'), std::string::npos);
}

// Passwords can stay out of the process list: read from a file, or from standard input.
TEST_F(CliFixture, PasswordsFromFilesAndStandardInput) {
    std::ofstream(path("device.pw")) << "gtne-whfu-ybsk-qclm\n";
    EXPECT_EQ(run({"check-password", kRemote, "--password-file", path("device.pw").string()}).code, 0);
    EXPECT_EQ(run({"check-password", kRemote}, "GTNE-WHFU-YBSK-QCLM\n").code, 0);
    EXPECT_EQ(run({"check-password", kRemote}, "AAAA-BBBB-CCCC-DDDD\n").code, 1);
    EXPECT_EQ(run({"check-password", kRemote}, "").code, 2); // nothing to read
    EXPECT_EQ(run({"derive-key", "--nmk", "--password-file", "-"}, "HomePlugAV\n").out,
              "50d3e4933f855b7040784df815aa8db7\n");

    std::ofstream(path("devices.pw")) << "# remote devices\n" << kRemote << " " << kRemotePassword << "\n";
    auto keyed = run(
        {"--json", "set-key", "--password-file", "-", "--local", "--device-password-file", path("devices.pw").string()},
        "OurNetwork42\n");
    ASSERT_EQ(keyed.code, 0) << keyed.err;
    EXPECT_EQ(keyed.json()["devices"][0]["mac"], kRemote);
    EXPECT_EQ(keyed.json()["devices"][1]["mac"], kLocal);
    EXPECT_EQ(run({"--json", "scan", "--no-save"}).json()["devices"].size(), 2u);
}

TEST_F(CliFixture, SpecialFilesAreRefusedAtOnceByName) {
    // Each of these would wait for ever on a FIFO without a writer.
    const auto fifo = path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string name = fifo.string();
    std::ofstream(path("device.pw")) << kRemotePassword << "\n";
    auto refused = [&](const Result& result, const std::string& file) {
        EXPECT_EQ(result.code, 2) << result.err;
        EXPECT_NE(result.err.find(file), std::string::npos) << result.err;
    };
    refused(run({"check-file", name}), name);
    refused(run({"upgrade", name, kRemote}), name);
    refused(run({"pack-upgrade", "--firmware", name, "--config", name, "--version", "V", "-o", path("o.bin").string()}),
            name);
    refused(run({"check-password", kRemote, "--password-file", name}), name);
    refused(run({"set-key", "--password-file", name, "--local"}), name);
    refused(run({"set-key", "--default", "--local", "--device-password-file", name}), name);
    refused(run({"qos", kRemote, "--write", name}), name);
    refused(run({"--capture", name, "adapters"}), name);

    // The history and the network description in place of a FIFO: neither is read, nor replaced by a file.
    std::filesystem::remove(historyPath());
    ASSERT_EQ(::mkfifo(historyPath().c_str(), 0600), 0);
    refused(run({"history"}), historyPath().string());
    EXPECT_EQ(run({"scan"}).code, 1);
    EXPECT_TRUE(std::filesystem::is_fifo(historyPath()));
    std::filesystem::remove(networkPath());
    ASSERT_EQ(::mkfifo(networkPath().c_str(), 0600), 0);
    refused(run({"adapters"}), networkPath().string());
}

TEST_F(CliFixture, OneDeviceCommandsRefuseGroupAddressesAndScanPrintsBooleans) {
    const std::string group = "ff:ff:ff:ff:ff:ff";
    std::ofstream(path("device.pw")) << kRemotePassword << "\n";
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0713", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0713");
    for (const auto& result :
         {run({"reset", group}), run({"led", group, "off"}), run({"led", "01:00:5e:00:00:01", "on"}),
          run({"check-password", group, "--password-file", path("device.pw").string()}),
          run({"upgrade", file.string(), group}), run({"qos", group}),
          run({"set-key", "--password", "OurNetwork42", "--device", group, "--device-password", kRemotePassword})}) {
        EXPECT_EQ(result.code, 2) << result.err;
        EXPECT_NE(result.err.find("group address"), std::string::npos) << result.err;
    }
    EXPECT_EQ(run({"reset", "00:00:00:00:00:00"}).code, 2);
    // Nothing reached a device.
    EXPECT_EQ(deviceOf(run({"--json", "scan", "--no-save"}).json(), kRemote)["led"], "On");

    const auto scan = run({"--json", "scan", "--no-save"}).json();
    EXPECT_EQ(scan["devices"][0]["isOwnModel"], true);
}

TEST_F(CliFixture, ImageDamagedInItsSecondHalfIsRefusedBeforeAnythingIsSent) {
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0713", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0713");
    std::fstream damaged(file, std::ios::in | std::ios::out | std::ios::binary);
    damaged.seekg(-100, std::ios::end); // within the firmware image, which ends the file
    const char byte = static_cast<char>(damaged.get() ^ 0x01);
    damaged.seekp(-100, std::ios::end);
    damaged.put(byte);
    damaged.close();
    auto checked = run({"check-file", file.string()});
    EXPECT_EQ(checked.code, 2);
    EXPECT_NE(checked.err.find("its own"), std::string::npos) << checked.err;
    EXPECT_EQ(run({"upgrade", file.string(), kRemote}).code, 2);

    // pack-upgrade writes only files that pass: an image that fails its own checksum is not packed.
    auto image = zrq406::sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2800-CE-0800", 4096);
    image.back() ^= 0x01;
    std::ofstream(path("fw.img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    const auto config = zrq406::sim::makeConfigBlock({});
    std::ofstream(path("cfg.img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(config.data()), static_cast<std::streamsize>(config.size()));
    EXPECT_EQ(run({"pack-upgrade", "--firmware", path("fw.img").string(), "--config", path("cfg.img").string(),
                   "--version", "V", "-o", path("out.bin").string()})
                  .code,
              2);
    EXPECT_FALSE(std::filesystem::exists(path("out.bin")));
}

TEST_F(CliFixture, PairJoinEndsWhenTheWaitingDeviceAppearsAndNamesIt) {
    const std::string newcomer = "00:b0:52:5a:00:07";
    network()["devices"].push_back(
        {{"mac", newcomer}, {"tei", 7}, {"networkPassword", "NotYetPaired"}, {"pairing", true}});
    writeNetwork();
    EXPECT_TRUE(deviceOf(run({"--json", "scan", "--no-save"}).json(), newcomer).is_null());

    const auto joined = run({"--json", "pair", "join"});
    ASSERT_EQ(joined.code, 0) << joined.err;
    EXPECT_EQ(joined.json()["newDevice"], newcomer);
    EXPECT_EQ(joined.json()["joined"], true);
    EXPECT_FALSE(joined.json()["name"].get<std::string>().empty());
    const auto scan = run({"--json", "scan", "--no-save"}).json();
    EXPECT_EQ(deviceOf(scan, newcomer)["answered"], true);
    EXPECT_EQ(scan["publicKey"], true);
    EXPECT_EQ(scan["devices"].size(), 5u);

    // With nobody pressing a button, the two minutes run out and the tool says what to try.
    const auto lonely = run({"pair", "join"});
    EXPECT_EQ(lonely.code, 1);
    EXPECT_NE(lonely.err.find("within the two minutes"), std::string::npos) << lonely.err;
    EXPECT_NE(lonely.err.find("reset"), std::string::npos) << lonely.err;
}

TEST_F(CliFixture, PairLeaveNeedsYesWithoutATerminalAndTheDeviceDropsOff) {
    const auto refused = run({"pair", kRemote, "leave"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
    EXPECT_FALSE(deviceOf(run({"--json", "scan", "--no-save"}).json(), kRemote).is_null());
    EXPECT_EQ(run({"pair", "status", "--yes"}).code, 2);

    const auto status = run({"--json", "pair", kRemote, "status"});
    ASSERT_EQ(status.code, 0) << status.err;
    EXPECT_EQ(status.json()["membership"], 4);
    EXPECT_EQ(run({"--json", "pair", "status"}).json()["membership"], 8);

    const auto left = run({"--json", "pair", kRemote, "leave", "--yes"});
    ASSERT_EQ(left.code, 0) << left.err;
    EXPECT_EQ(left.json()["status"], 0);
    EXPECT_LT(left.json()["membership"].get<int>(), 4);
    EXPECT_NE(left.err.find("press its pair button"), std::string::npos) << left.err;
    EXPECT_TRUE(deviceOf(run({"--json", "scan", "--no-save"}).json(), kRemote).is_null());
    EXPECT_EQ(run({"pair", kRemote, "status"}).code, 1); // out of reach now
    EXPECT_EQ(run({"pair", kRemote, "wave"}).code, 2);
}

TEST_F(CliFixture, RestartKeepsKeyAndNameAndHostsCarryTheirMakers) {
    const auto keyed = run({"set-key", "--password", "OurNetwork42", "--local", "--device", kRemote,
                            "--device-password", kRemotePassword});
    ASSERT_EQ(keyed.code, 0) << keyed.err;
    const auto before = run({"--json", "scan"}).json();
    EXPECT_EQ(before["publicKey"], false);
    const auto restarted = run({"--json", "restart", kRemote});
    ASSERT_EQ(restarted.code, 0) << restarted.err;
    EXPECT_EQ(restarted.json()["answering"], true);
    const auto after = run({"--json", "scan", "--no-save"}).json();
    EXPECT_EQ(after["network"]["key"], "private");
    EXPECT_EQ(deviceOf(after, kRemote)["name"], deviceOf(before, kRemote)["name"]);
    EXPECT_EQ(deviceOf(after, kRemote)["answered"], true);
    EXPECT_EQ(run({"restart", "00:b0:52:5a:00:99"}).code, 1);

    const auto hosts = run({"--json", "hosts"});
    ASSERT_EQ(hosts.code, 0) << hosts.err;
    const auto list = hosts.json()["hosts"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["mac"], "ac:ed:5c:4e:21:07");
    EXPECT_EQ(list[0]["id"], 1);
    // The makers come from the ieee-data package's registry list, where it is installed.
    if (std::filesystem::exists("/usr/share/ieee-data/oui.csv"))
        EXPECT_EQ(list[0]["maker"], "Intel Corporate");
    else
        EXPECT_TRUE(list[0]["maker"].is_null());
    const auto table = run({"hosts", kRemote});
    ASSERT_EQ(table.code, 0) << table.err;
    EXPECT_NE(table.out.find("dc:a6:32:0a:1b:2c"), std::string::npos) << table.out;
    EXPECT_EQ(run({"hosts", "00:b0:52:5a:00:04"}).code, 1); // on the public key still: out of reach
}
