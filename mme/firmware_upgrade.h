#pragma once

#include "mme/device_operations.h"
#include "mme/upgrade_file.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrq406::mme {

// A firmware version text cut into what the upgrade compares, e.g. "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712":
// firmware fields 3, 3, 3348, 0, 2764 (the numeric fields before the region), region "CE", trailing "0712"
// (the configuration build).
struct VersionParts {
    std::vector<unsigned long> firmware;
    std::string region;
    std::string trailing;
};
VersionParts splitVersion(std::string_view text);

enum class VersionVerdict {
    ProductMismatch, // the device is not of the upgrade file's product
    Japanese,        // the device runs Japanese firmware, which these files never replace
    RegionChange,    // the file is for another region
    FirmwareOlder,   // the firmware would move backwards
    FirmwareDiffers, // firmware and configuration block are written
    ConfigOnly,      // only the configuration block is written
    Same             // nothing to write
};
// The upgrade rule: the firmware part may only move forward; the region and the product may not change.
VersionVerdict compareVersions(std::string_view fileVersion, std::string_view deviceVersion,
                               std::string_view deviceProduct, std::string_view productWord = "TALVERN ZRQ406");

enum class UpgradeStep { None, CheckFile, ReadConfig, Product, Version, Backup, WriteFirmware, WriteConfig, Restart };
// A short name of the step for messages ("write the firmware image").
const char* stepName(UpgradeStep step);

struct UpgradeOutcome {
    bool ok = false;
    UpgradeStep failedStep = UpgradeStep::None;
    std::string detail;
    VersionVerdict verdict = VersionVerdict::Same;
    std::filesystem::path backup; // where the device's previous configuration block was saved
    // The upgraded device is a remote one that now runs on the default network key while the network uses a
    // private one: it cannot be reached to see it restart until the network is put on the default key.
    bool leftNetwork = false;
};

// Reports each step as it starts, for a caller that shows it.
using StepReporter = std::function<void(UpgradeStep step)>;

// Upgrades a device from an upgrade file: checks the file, reads the device's configuration block, carries its
// identity into the new block, saves the old block, writes the images, commits and waits for the restart.
class FirmwareUpgrade {
public:
    FirmwareUpgrade(DeviceOperations& operations, const Pacing& pacing);

    // Where the device's current configuration block is saved before the first write.
    void setBackupDir(std::filesystem::path dir) { m_backupDir = std::move(dir); }
    void setStepReporter(StepReporter reporter) { m_reporter = std::move(reporter); }
    // How long a restarting device may stay silent before the upgrade is reported as failed (scaled).
    void setRestartBoundMs(double ms) { m_restartBoundMs = ms; }
    void setManufacturerAndModel(std::string manufacturer, std::string model);

    // The configuration utility's upgrade of one device on the current adapter.
    UpgradeOutcome upgradeDevice(const std::string& path, const MacAddress& device);
    // The upgrade tool's sequence for one device; advances progress().basePercent to 50.
    UpgradeOutcome upgradeToolSequence(const std::string& path, const MacAddress& device);

private:
    struct Prepared;
    bool prepare(const std::string& path, const MacAddress& device, bool upgradeTool, Prepared& prepared,
                 UpgradeOutcome& outcome);
    // The firmware version text the device reports, asked as the caller's program asks for it.
    std::optional<std::string> deviceVersion(const MacAddress& device, bool upgradeTool);
    // True, with a successful outcome, when the committed device has left the network's private key.
    bool leftNetwork(const Prepared& prepared, UpgradeOutcome& outcome);
    // Saves the device's current configuration block into the backup folder; every path calls it before its
    // first write.
    bool saveBackup(const MacAddress& device, const Prepared& prepared, UpgradeOutcome& outcome);
    // Waits for the device to answer again, up to the bound, with the moment it is given up in the progress.
    bool waitForRestart(const MacAddress& device, double firstWaitMs, ConfigBlock& block, UpgradeOutcome& outcome);
    // A commit whose confirmation was lost may still have been carried out: the device restarting decides.
    enum class Commit { Confirmed, Unconfirmed, Failed };
    Commit writeAndCommit(bool commitAll, double progressBase, double progressTotal, const MacAddress& device,
                          std::span<std::uint8_t> block);
    bool unconfirmedLeavesNetwork(const Prepared& prepared, UpgradeOutcome& outcome);
    // True when the restarted device reports the file's firmware; else a failed outcome that says what it runs.
    bool runsFileFirmware(const MacAddress& device, bool upgradeTool, const Prepared& prepared, Commit commit,
                          UpgradeOutcome& outcome);
    bool fail(UpgradeOutcome& outcome, UpgradeStep step, std::string detail);
    void report(UpgradeStep step);

    DeviceOperations& m_operations;
    const Pacing& m_pacing;
    std::filesystem::path m_backupDir;
    StepReporter m_reporter;
    double m_restartBoundMs = 5 * 60 * 1000;
    std::string m_manufacturer{kManufacturerWord};
    std::string m_model{kModelWord};
};

} // namespace zrq406::mme
