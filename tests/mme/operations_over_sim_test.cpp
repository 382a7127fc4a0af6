// Device operations and the upgrade against the simulated devices, with faults injected in the network file.
#include "link/adapter_link.h"
#include "link/packet_library.h"
#include "mme/device_operations.h"
#include "mme/discovery.h"
#include "mme/firmware_upgrade.h"
#include "mme/upgrade_file.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "sim/network.h"
#include "sim/network_file.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <unistd.h>

using namespace zrq406;
using namespace zrq406::mme;

namespace {

const MacAddress kLocal = *MacAddress::parse("00:b0:52:5a:00:01");
const MacAddress kRemote = *MacAddress::parse("00:b0:52:5a:00:02");
const MacAddress kOld = *MacAddress::parse("00:b0:52:5a:00:03");

// The built-in network with `faults` given to the device `mac`, and the programs' stack over it.
class SimStack {
public:
    explicit SimStack(const MacAddress& mac = {}, nlohmann::json faults = nlohmann::json::array(),
                      const nlohmann::json& deviceFields = nlohmann::json::object()) {
        auto description = nlohmann::json::parse(sim::NetworkFile::builtInText());
        for (auto& device : description["devices"]) {
            if (device["mac"] == mac.text()) {
                device["faults"] = faults;
                device.update(deviceFields);
            }
        }
        std::string error;
        network = sim::Network::fromJson(description.dump(), error);
        EXPECT_TRUE(network) << error;
        library = std::make_unique<link::PacketLibrary>(network->backend());
        adapters = std::make_unique<link::AdapterTable>(*library, link::LinkMode::Utility);
        EXPECT_TRUE(adapters->OpenAdapters());
        exchange = std::make_unique<Exchange>(*adapters, pacing);
        discovery = std::make_unique<Discovery>(*exchange);
        operations = std::make_unique<DeviceOperations>(*exchange, progress);
        EXPECT_TRUE(discovery->ScanNetwork(0, result));
    }
    ~SimStack() {
        operations.reset();
        discovery.reset();
        exchange.reset();
        adapters.reset();
        library.reset();
    }

    std::unique_ptr<sim::Network> network;
    std::unique_ptr<link::PacketLibrary> library;
    std::unique_ptr<link::AdapterTable> adapters;
    Pacing pacing = Pacing::fromEnvironment();
    std::unique_ptr<Exchange> exchange;
    std::unique_ptr<Discovery> discovery;
    Progress progress;
    std::unique_ptr<DeviceOperations> operations;
    DiscoveryResult result;
};

nlohmann::json fault(const std::string& kind, const std::string& message, nlohmann::json extra = {}) {
    nlohmann::json f = {{"kind", kind}, {"message", message}, {"nth", 1}};
    for (auto& [key, value] : extra.items())
        f[key] = value;
    return nlohmann::json::array({f});
}

std::string writeUpgradeFile(const std::string& name, const std::string& version, const std::string& image,
                             const sim::ConfigBlockFields& fields = {}) {
    const auto path = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()) + ".bin");
    const auto bytes = packUpgradeFile(sim::makeFirmwareImage(image, 8192), sim::makeConfigBlock(fields), version);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

} // namespace

TEST(OperationsOverSim, FactoryResetFailsOnEveryFaultOfItsConfirmation) {
    EXPECT_TRUE(SimStack().operations->FactoryReset(kRemote));
    EXPECT_FALSE(SimStack(kRemote, fault("drop", "factory-reset")).operations->FactoryReset(kRemote));
    EXPECT_FALSE(SimStack(kRemote, fault("fail", "factory-reset")).operations->FactoryReset(kRemote));
    // A status byte turned into a failing one; a cut answer that still holds its status is a good answer.
    EXPECT_FALSE(
        SimStack(kRemote, fault("corrupt", "factory-reset", {{"offset", 20}})).operations->FactoryReset(kRemote));
    EXPECT_TRUE(
        SimStack(kRemote, fault("malformed", "factory-reset", {{"form", "short"}})).operations->FactoryReset(kRemote));
    // A read answer cut short is asked for again.
    ConfigBlock block{};
    EXPECT_TRUE(SimStack(kRemote, fault("malformed", "read-module", {{"form", "short"}}))
                    .operations->ReadConfigBlock(kRemote, block));
    EXPECT_FALSE(SimStack(kRemote, fault("delay", "factory-reset", {{"ms", 5000}})).operations->FactoryReset(kRemote));
}

TEST(OperationsOverSim, DuplicatedConfirmationDoesNotConfuseTheNextExchange) {
    SimStack stack(kRemote, fault("duplicate", "read-module"));
    ConfigBlock block{};
    ASSERT_TRUE(stack.operations->ReadConfigBlock(kRemote, block));
    EXPECT_EQ(productText(block), "TALVERN ZRQ406-CE-12");
    EXPECT_TRUE(stack.operations->FactoryReset(kRemote));
}

TEST(OperationsOverSim, MalformedStationListFallsBackToTheFirstAnswer) {
    SimStack stack(kLocal,
                   nlohmann::json::array(
                       {{{"kind", "malformed"}, {"message", "network-info"}, {"nth", 2}, {"form", "stations"}}}));
    // The lying second answer is no answer, asked again it lies again: the first answer's stations and rates stand.
    EXPECT_EQ(stack.result.local.stationCount, 3u);
    EXPECT_TRUE(stack.result.local.stationListRead);
    EXPECT_NE(stack.result.local.stations[0].transmitRate, 0u);
}

TEST(OperationsOverSim, LedWriteIsCommittedAndSeenOnTheDevice) {
    SimStack stack;
    ConfigBlock block{};
    ASSERT_TRUE(stack.operations->ReadConfigBlock(kRemote, block));
    setLeds(block, false);
    ASSERT_TRUE(stack.operations->WriteConfigBlock(false, 0, 0, kRemote, block));
    const auto device = stack.network->device(kRemote);
    ASSERT_TRUE(device);
    EXPECT_FALSE(device->ledOn);
    EXPECT_TRUE(configBlockValid(device->configBlock));
}

TEST(OperationsOverSim, FailingCommitLeavesTheDeviceAsItWas) {
    SimStack stack(kRemote, fault("fail", "commit"));
    ConfigBlock block{};
    ASSERT_TRUE(stack.operations->ReadConfigBlock(kRemote, block));
    setLeds(block, false);
    EXPECT_FALSE(stack.operations->WriteConfigBlock(false, 0, 0, kRemote, block));
    EXPECT_TRUE(stack.network->device(kRemote)->ledOn);
}

TEST(OperationsOverSim, UpgradeToolSequenceReachesFiftyPercentAndTheNewFirmware) {
    SimStack stack;
    const auto file = writeUpgradeFile("tool", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
    upgrade.setBackupDir(std::filesystem::temp_directory_path() / ("zrq406-backup-" + std::to_string(getpid())));
    const auto outcome = upgrade.upgradeToolSequence(file, kOld);
    ASSERT_TRUE(outcome.ok) << stepName(outcome.failedStep) << ": " << outcome.detail;
    EXPECT_EQ(stack.progress.basePercent.load(), 50);
    const auto device = stack.network->device(kOld);
    EXPECT_EQ(device->firmware, "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    // The identity of the device survives; its key is the default one.
    EXPECT_EQ(
        std::vector<std::uint8_t>(device->configBlock.begin() + cfg::kMac, device->configBlock.begin() + cfg::kMac + 6),
        std::vector<std::uint8_t>(kOld.bytes.begin(), kOld.bytes.end()));
    EXPECT_EQ(nmkOf(device->configBlock), kDefaultNmk);
    std::filesystem::remove(file);
}

TEST(OperationsOverSim, UpgradeNamesTheStepThatFailed) {
    SimStack stack(kOld, fault("fail", "write-module"));
    const auto file = writeUpgradeFile("fail", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
    upgrade.setBackupDir(std::filesystem::temp_directory_path() / ("zrq406-backup-" + std::to_string(getpid())));
    const auto outcome = upgrade.upgradeDevice(file, kOld);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failedStep, UpgradeStep::WriteFirmware);
    EXPECT_FALSE(outcome.backup.empty()); // saved before the first write
    EXPECT_EQ(stack.network->device(kOld)->firmware, "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511");
    std::filesystem::remove(file);
}

TEST(OperationsOverSim, DeviceWhoseBlockCannotBeReadIsNotWritten) {
    SimStack stack(kOld, nlohmann::json::array({{{"kind", "drop"}, {"message", "read-module"}, {"share", 1.0}}}));
    const auto file = writeUpgradeFile("unread", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
    const auto outcome = upgrade.upgradeDevice(file, kOld);
    EXPECT_EQ(outcome.failedStep, UpgradeStep::ReadConfig);
    EXPECT_EQ(stack.network->device(kOld)->stagedFirmwareBytes, 0u);
    std::filesystem::remove(file);
}

namespace {

// The utility's upgrade and the upgrade tool's sequence, which share their checks and differ in their steps.
enum class Path { Utility, Tool };
const Path kPaths[] = {Path::Utility, Path::Tool};
const char* pathName(Path path) {
    return path == Path::Utility ? "utility" : "upgrade tool";
}
UpgradeOutcome runUpgrade(FirmwareUpgrade& upgrade, Path path, const std::string& file, const MacAddress& device) {
    return path == Path::Utility ? upgrade.upgradeDevice(file, device) : upgrade.upgradeToolSequence(file, device);
}

// A backup folder of its own, removed at the end.
struct BackupDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zrq406-backup-test-" + std::to_string(getpid()));
    BackupDir() { std::filesystem::remove_all(path); }
    ~BackupDir() { std::filesystem::remove_all(path); }
    std::size_t files() const {
        std::size_t n = 0;
        if (std::filesystem::exists(path))
            for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path))
                ++n;
        return n;
    }
};

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(OperationsOverSim, EveryUpgradePathSavesTheDeviceBlockBeforeItsFirstWrite) {
    for (const Path path : kPaths) {
        SCOPED_TRACE(pathName(path));
        SimStack stack;
        BackupDir backups;
        const auto before = stack.network->device(kOld)->configBlock;
        const auto file =
            writeUpgradeFile("backup", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
        FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
        upgrade.setBackupDir(backups.path);
        const auto outcome = runUpgrade(upgrade, path, file, kOld);
        ASSERT_TRUE(outcome.ok) << stepName(outcome.failedStep) << ": " << outcome.detail;
        ASSERT_FALSE(outcome.backup.empty());
        EXPECT_EQ(fileBytes(outcome.backup), before);
        // The block holds the device's keys.
        EXPECT_EQ(std::filesystem::status(outcome.backup).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_EQ(backups.files(), 1u);
        std::filesystem::remove(file);
    }
}

TEST(OperationsOverSim, BackupThatCannotBeWrittenStopsTheUpgradeAndLeavesNoPartialFile) {
    for (const Path path : kPaths) {
        SCOPED_TRACE(pathName(path));
        SimStack stack;
        BackupDir backups;
        const auto firmwareBefore = stack.network->device(kOld)->firmware;
        const auto file =
            writeUpgradeFile("nobackup", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
        FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
        upgrade.setBackupDir(backups.path);
        // The process may not write files longer than 1000 bytes: the 8192-byte block stops half way.
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const auto outcome = runUpgrade(upgrade, path, file, kOld);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.failedStep, UpgradeStep::Backup);
        EXPECT_TRUE(outcome.backup.empty());
        EXPECT_EQ(backups.files(), 0u) << "no partial backup is left behind";
        EXPECT_EQ(stack.network->device(kOld)->stagedFirmwareBytes, 0u);
        EXPECT_EQ(stack.network->device(kOld)->firmware, firmwareBefore);
        std::filesystem::remove(file);
    }
}

TEST(OperationsOverSim, UpgradedBlockKeepsTheDeviceIdentityAndTakesTheDefaultKey) {
    // A file whose block differs from the device's in every carried field, and holds a private key.
    sim::ConfigBlockFields fields;
    fields.mac = *MacAddress::parse("02:11:22:33:44:55");
    fields.identity.fill(0xA5);
    fields.hfid = "text of the upgrade file's block";
    fields.nmk = DeriveNmk("a private network");
    const auto fileBlock = sim::makeConfigBlock(fields);
    for (const Path path : kPaths) {
        SCOPED_TRACE(pathName(path));
        SimStack stack;
        BackupDir backups;
        const auto before = stack.network->device(kOld)->configBlock;
        auto differs = [&](std::size_t offset, std::size_t width) {
            return !std::equal(before.begin() + offset, before.begin() + offset + width, fileBlock.begin() + offset);
        };
        ASSERT_TRUE(differs(cfg::kMac, 6) && differs(cfg::kIdentity, cfg::kIdentityWidth) &&
                    differs(cfg::kUserData, cfg::kUserDataWidth) && differs(cfg::kNmk, 16));
        const auto file =
            writeUpgradeFile("carry", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712", fields);
        FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
        upgrade.setBackupDir(backups.path);
        const auto outcome = runUpgrade(upgrade, path, file, kOld);
        ASSERT_TRUE(outcome.ok) << stepName(outcome.failedStep) << ": " << outcome.detail;

        // The file's block, with MAC, identity and device text of the device and the default key, resealed.
        auto expected = fileBlock;
        std::copy_n(before.begin() + cfg::kMac, 6, expected.begin() + cfg::kMac);
        std::copy_n(before.begin() + cfg::kIdentity, cfg::kIdentityWidth, expected.begin() + cfg::kIdentity);
        std::copy_n(before.begin() + cfg::kUserData, cfg::kUserDataWidth, expected.begin() + cfg::kUserData);
        const std::uint8_t defaultNmk[16] = {0x50, 0xD3, 0xE4, 0x93, 0x3F, 0x85, 0x5B, 0x70,
                                             0x40, 0x78, 0x4D, 0xF8, 0x15, 0xAA, 0x8D, 0xB7};
        std::copy(std::begin(defaultNmk), std::end(defaultNmk), expected.begin() + cfg::kNmk);
        sealConfigBlock(expected);
        EXPECT_EQ(stack.network->device(kOld)->configBlock, expected);
        std::filesystem::remove(file);
    }
}

TEST(OperationsOverSim, DeviceSilentAfterItsCommitFailsTheUpgradeAtTheRestart) {
    for (const Path path : kPaths) {
        SCOPED_TRACE(pathName(path));
        // The device takes the commit and then stays dark far longer than the upgrade waits for it.
        SimStack stack(kOld, nlohmann::json::array(), {{"restartMs", {{"firmwareCommit", 600000}}}});
        BackupDir backups;
        const auto file =
            writeUpgradeFile("silent", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
        FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
        upgrade.setBackupDir(backups.path);
        upgrade.setRestartBoundMs(3000);
        std::vector<UpgradeStep> steps;
        upgrade.setStepReporter([&](UpgradeStep step) { steps.push_back(step); });
        const auto outcome = runUpgrade(upgrade, path, file, kOld);
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.failedStep, UpgradeStep::Restart) << outcome.detail;
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back(), UpgradeStep::Restart);
        // The commit went through; the upgrade gave up while the device was still restarting.
        const auto device = stack.network->device(kOld);
        EXPECT_EQ(device->firmware, "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
        EXPECT_FALSE(device->up);
        std::filesystem::remove(file);
    }
}

TEST(OperationsOverSim, ALostCommitConfirmationIsJudgedByWhatTheRestartedDeviceRuns) {
    for (const Path path : kPaths) {
        SCOPED_TRACE(pathName(path));
        // The commit takes effect; only its confirmation is lost.
        SimStack stack(kOld, fault("drop", "commit"));
        BackupDir backups;
        const auto file =
            writeUpgradeFile("unconfirmed", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
        FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
        upgrade.setBackupDir(backups.path);
        int countdownAtRestart = -1;
        upgrade.setStepReporter([&](UpgradeStep step) {
            if (step == UpgradeStep::Restart)
                countdownAtRestart = stack.progress.restartSecondsLeft();
        });
        const auto outcome = runUpgrade(upgrade, path, file, kOld);
        EXPECT_TRUE(outcome.ok) << stepName(outcome.failedStep) << ": " << outcome.detail;
        EXPECT_NE(outcome.detail.find("not confirmed"), std::string::npos) << outcome.detail;
        EXPECT_EQ(stack.network->device(kOld)->firmware, "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
        // The wait for the restart counted down from its bound, and stopped counting once the device was back.
        EXPECT_GT(countdownAtRestart, 0);
        EXPECT_EQ(stack.progress.restartSecondsLeft(), -1);
        std::filesystem::remove(file);
    }
    // A commit refused outright is no commit: the device still runs its old firmware, and the upgrade says so.
    SimStack refused(kOld, fault("fail", "commit"));
    BackupDir backups;
    const auto file = writeUpgradeFile("refused", "3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");
    FirmwareUpgrade upgrade(*refused.operations, refused.pacing);
    upgrade.setBackupDir(backups.path);
    const auto outcome = upgrade.upgradeDevice(file, kOld);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(refused.network->device(kOld)->firmware, "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511");
    std::filesystem::remove(file);
}
