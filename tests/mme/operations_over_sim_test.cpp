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

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
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
    explicit SimStack(const MacAddress& mac = {}, nlohmann::json faults = nlohmann::json::array()) {
        auto description = nlohmann::json::parse(sim::NetworkFile::builtInText());
        for (auto& device : description["devices"])
            if (device["mac"] == mac.text())
                device["faults"] = faults;
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

std::string writeUpgradeFile(const std::string& name, const std::string& version, const std::string& image) {
    const auto path = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()) + ".bin");
    sim::ConfigBlockFields fields;
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
    ConfigBlock block{};
    EXPECT_FALSE(SimStack(kRemote, fault("malformed", "read-module", {{"form", "short"}}))
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
    // The first answer named the stations; the lying second one is no answer, so their rates stay unknown.
    EXPECT_EQ(stack.result.local.stationCount, 3u);
    EXPECT_EQ(stack.result.local.stations[0].transmitRate, 0u);
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
    const auto file = writeUpgradeFile("tool", "3-3-3348-00-2764-CE-0712", "INT6400-MAC-3-3-3348-00-2764-CE-0712");
    FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
    upgrade.setBackupDir(std::filesystem::temp_directory_path() / ("zrq406-backup-" + std::to_string(getpid())));
    const auto outcome = upgrade.upgradeToolSequence(file, kOld);
    ASSERT_TRUE(outcome.ok) << stepName(outcome.failedStep) << ": " << outcome.detail;
    EXPECT_EQ(stack.progress.basePercent.load(), 50);
    const auto device = stack.network->device(kOld);
    EXPECT_EQ(device->firmware, "INT6400-MAC-3-3-3348-00-2764-CE-0712");
    // The identity of the device survives; its key is the default one.
    EXPECT_EQ(
        std::vector<std::uint8_t>(device->configBlock.begin() + cfg::kMac, device->configBlock.begin() + cfg::kMac + 6),
        std::vector<std::uint8_t>(kOld.bytes.begin(), kOld.bytes.end()));
    EXPECT_EQ(nmkOf(device->configBlock), kDefaultNmk);
    std::filesystem::remove(file);
}

TEST(OperationsOverSim, UpgradeNamesTheStepThatFailed) {
    SimStack stack(kOld, fault("fail", "write-module"));
    const auto file = writeUpgradeFile("fail", "3-3-3348-00-2764-CE-0712", "INT6400-MAC-3-3-3348-00-2764-CE-0712");
    FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
    upgrade.setBackupDir(std::filesystem::temp_directory_path() / ("zrq406-backup-" + std::to_string(getpid())));
    const auto outcome = upgrade.upgradeDevice(file, kOld);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failedStep, UpgradeStep::WriteFirmware);
    EXPECT_FALSE(outcome.backup.empty()); // saved before the first write
    EXPECT_EQ(stack.network->device(kOld)->firmware, "INT6400-MAC-3-3-3348-00-2400-CE-0511");
    std::filesystem::remove(file);
}

TEST(OperationsOverSim, DeviceThatNeverComesBackFailsTheUpgradeWithinItsBound) {
    SimStack stack(kOld, nlohmann::json::array({{{"kind", "drop"}, {"message", "read-module"}, {"share", 1.0}}}));
    // Reads fail from the start: the upgrade stops before it writes anything.
    const auto file = writeUpgradeFile("bound", "3-3-3348-00-2764-CE-0712", "INT6400-MAC-3-3-3348-00-2764-CE-0712");
    FirmwareUpgrade upgrade(*stack.operations, stack.pacing);
    const auto outcome = upgrade.upgradeDevice(file, kOld);
    EXPECT_EQ(outcome.failedStep, UpgradeStep::ReadConfig);
    EXPECT_EQ(stack.network->device(kOld)->stagedFirmwareBytes, 0u);
    std::filesystem::remove(file);
}
