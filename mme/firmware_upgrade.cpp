#include "mme/firmware_upgrade.h"

#include "mme/discovery.h"
#include "mme/key_derivation.h"
#include "platform/atomic_file.h"
#include "platform/display_text.h"
#include "platform/paths.h"
#include "platform/text_field.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <type_traits>

namespace zrq406::mme {

namespace {

// Waits of the upgrade around the device's restart, in milliseconds (scaled by the pacing).
constexpr double kRestartWaitAfterFirmwareMs = 40000;
constexpr double kRestartWaitAfterConfigMs = 2000;
constexpr double kToolRestartWaitMs = 4000;
constexpr double kToolSecondRestartWaitMs = 1000;
constexpr double kToolStepPauseMs = 100;
constexpr double kRereadPauseMs = 400;

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool allLetters(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

std::vector<std::string_view> splitDash(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dash = text.find('-', start);
        fields.push_back(text.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start));
        if (dash == std::string_view::npos)
            return fields;
        start = dash + 1;
    }
}

// The region marker of a product text such as "TALVERN ZRQ406-CE-12".
std::string productRegion(std::string_view product) {
    for (const char* marker : {"-CE-", "-NA-", "-JP-"})
        if (product.find(marker) != std::string_view::npos)
            return std::string(marker + 1, 2);
    return {};
}

std::string timeStamp() {
    return localTimeText(std::time(nullptr), "%Y%m%d-%H%M%S");
}

} // namespace

VersionParts splitVersion(std::string_view text) {
    VersionParts parts;
    const auto fields = splitDash(text);
    if (fields.size() < 2)
        return parts;
    std::size_t end = fields.size() - 1;
    parts.trailing = std::string(fields[end]);
    if (end >= 1 && allLetters(fields[end - 1])) {
        parts.region = std::string(fields[end - 1]);
        --end;
    }
    std::size_t first = end;
    while (first > 0 && allDigits(fields[first - 1]))
        --first;
    for (std::size_t i = first; i < end; ++i)
        parts.firmware.push_back(std::stoul(std::string(fields[i].substr(0, 9))));
    return parts;
}

VersionVerdict compareVersions(std::string_view fileVersion, std::string_view deviceVersion,
                               std::string_view deviceProduct, std::string_view productWord) {
    if (deviceProduct.substr(0, productWord.size()) != productWord)
        return VersionVerdict::ProductMismatch;
    if (deviceVersion.find("-JP-") != std::string_view::npos)
        return VersionVerdict::Japanese;
    const VersionParts file = splitVersion(fileVersion);
    const VersionParts device = splitVersion(deviceVersion);
    const std::string deviceRegion = device.region.empty() ? productRegion(deviceProduct) : device.region;
    if (!file.region.empty() && !deviceRegion.empty() && file.region != deviceRegion)
        return VersionVerdict::RegionChange;
    if (device.firmware.empty() || file.firmware != device.firmware) {
        if (!device.firmware.empty() && file.firmware < device.firmware)
            return VersionVerdict::FirmwareOlder;
        return VersionVerdict::FirmwareDiffers;
    }
    return file.trailing == device.trailing ? VersionVerdict::Same : VersionVerdict::ConfigOnly;
}

const char* stepName(UpgradeStep step) {
    switch (step) {
    case UpgradeStep::None:
        return "none";
    case UpgradeStep::CheckFile:
        return "check the upgrade file";
    case UpgradeStep::ReadConfig:
        return "read the device's configuration block";
    case UpgradeStep::Product:
        return "check the product";
    case UpgradeStep::Version:
        return "compare the versions";
    case UpgradeStep::Backup:
        return "save the configuration block";
    case UpgradeStep::WriteFirmware:
        return "write the firmware image";
    case UpgradeStep::WriteConfig:
        return "write and commit the configuration block";
    case UpgradeStep::Restart:
        return "wait for the device to restart";
    }
    return "?";
}

struct FirmwareUpgrade::Prepared {
    UpgradeFile file;
    ConfigBlock current{};
    ConfigBlock next{};
    std::size_t configLength = 0;
    std::string deviceVersion;
    bool leavesNetwork = false;
};

FirmwareUpgrade::FirmwareUpgrade(DeviceOperations& operations, const Pacing& pacing)
    : m_operations(operations), m_pacing(pacing) {}

void FirmwareUpgrade::setManufacturerAndModel(std::string manufacturer, std::string model) {
    m_manufacturer = std::move(manufacturer);
    m_model = std::move(model);
}

void FirmwareUpgrade::report(UpgradeStep step) {
    if (m_reporter)
        m_reporter(step);
}

bool FirmwareUpgrade::fail(UpgradeOutcome& outcome, UpgradeStep step, std::string detail) {
    outcome.ok = false;
    outcome.failedStep = step;
    outcome.detail = std::move(detail);
    return false;
}

bool FirmwareUpgrade::prepare(const std::string& path, const MacAddress& device, bool upgradeTool, Prepared& prepared,
                              UpgradeOutcome& outcome) {
    report(UpgradeStep::CheckFile);
    std::string error;
    auto file = readUpgradeFile(path, m_manufacturer, m_model, error);
    if (!file)
        return fail(outcome, UpgradeStep::CheckFile, error);
    prepared.file = std::move(*file);

    report(UpgradeStep::ReadConfig);
    const link::AdapterRecord* adapter = m_operations.exchange().adapters().current();
    if (adapter == nullptr)
        return fail(outcome, UpgradeStep::ReadConfig, "no adapter is current");
    const MacAddress localDevice = adapter->localDeviceMac;
    const auto version = deviceVersion(device, upgradeTool);
    if (!version)
        return fail(outcome, UpgradeStep::ReadConfig, "the device did not report its firmware version");
    prepared.deviceVersion = *version;
    if (!m_operations.ReadConfigBlock(device, prepared.current))
        return fail(outcome, UpgradeStep::ReadConfig, "the device's configuration block could not be read");

    const std::string productWord = m_manufacturer + " " + m_model;
    outcome.verdict =
        compareVersions(prepared.file.version, prepared.deviceVersion, productText(prepared.current), productWord);
    switch (outcome.verdict) {
    case VersionVerdict::ProductMismatch:
        return fail(outcome, UpgradeStep::Product,
                    "the device reports the product \"" + productText(prepared.current) + "\", not " + productWord);
    case VersionVerdict::Japanese:
        return fail(outcome, UpgradeStep::Version,
                    "the device runs Japanese firmware " + prepared.deviceVersion + ", which is not upgraded");
    case VersionVerdict::RegionChange:
        return fail(outcome, UpgradeStep::Version,
                    "the file " + prepared.file.version + " is for another region than the device's " +
                        prepared.deviceVersion);
    case VersionVerdict::FirmwareOlder:
        return fail(outcome, UpgradeStep::Version,
                    "the file " + prepared.file.version + " is older than the device's " + prepared.deviceVersion);
    default:
        break;
    }

    // The new block keeps the device's identity and puts it on the default network key.
    prepared.configLength = configBlockLength(prepared.file.config);
    // The image may carry bytes past the block's announced length; only the block itself is kept.
    std::copy_n(prepared.file.config.begin(), std::min(prepared.file.config.size(), prepared.next.size()),
                prepared.next.begin());
    auto carry = [&](std::size_t offset, std::size_t width) {
        std::copy_n(prepared.current.begin() + static_cast<std::ptrdiff_t>(offset), width,
                    prepared.next.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    carry(cfg::kMac, 6);
    carry(cfg::kIdentity, cfg::kIdentityWidth);
    carry(cfg::kUserData, cfg::kUserDataWidth);
    std::copy(kDefaultNmk.begin(), kDefaultNmk.end(), prepared.next.begin() + cfg::kNmk);
    prepared.leavesNetwork = device != localDevice && nmkOf(prepared.current) != kDefaultNmk;
    return true;
}

std::optional<std::string> FirmwareUpgrade::deviceVersion(const MacAddress& device, bool upgradeTool) {
    LocalNetworkRecord answer;
    Discovery discovery(m_operations.exchange());
    if (!discovery.QuerySoftwareVersion(&device, answer, upgradeTool))
        return std::nullopt;
    return fieldText(answer.text);
}

bool FirmwareUpgrade::saveBackup(const MacAddress& device, const Prepared& prepared, UpgradeOutcome& outcome) {
    report(UpgradeStep::Backup);
    if (m_backupDir.empty())
        m_backupDir = paths::userDataDir() / "backups";
    std::error_code ec;
    std::filesystem::create_directories(m_backupDir, ec);
    std::string name = device.text();
    std::replace(name.begin(), name.end(), ':', '-');
    const auto path = m_backupDir / (name + "-" + timeStamp() + ".cfg");
    // The block holds the device's keys.
    const auto length = static_cast<std::ptrdiff_t>(configBlockLength(prepared.current));
    auto written = writeFileAtomically(path, std::span(prepared.current.begin(), prepared.current.begin() + length),
                                       FileAccess::OwnerOnly);
    if (!written)
        return fail(outcome, UpgradeStep::Backup, std::move(written.error));
    outcome.backup = path;
    return true;
}

bool FirmwareUpgrade::leftNetwork(const Prepared& prepared, UpgradeOutcome& outcome) {
    if (!prepared.leavesNetwork)
        return false;
    // The commit was confirmed; the device restarts on the default key, outside the network's private one, so
    // waiting to read it again could only time out.
    outcome.ok = true;
    outcome.leftNetwork = true;
    outcome.detail = "the device now uses the default network key and is reached again once the network does";
    return true;
}

bool FirmwareUpgrade::waitForRestart(const MacAddress& device, double firstWaitMs, ConfigBlock& block,
                                     UpgradeOutcome& outcome) {
    const auto giveUp = m_pacing.deadlineAfter(firstWaitMs + m_restartBoundMs);
    auto& progress = m_operations.progress();
    static_assert(std::is_same_v<Pacing::Clock, std::chrono::steady_clock>);
    progress.restartGiveUpNs = std::chrono::duration_cast<std::chrono::nanoseconds>(giveUp.time_since_epoch()).count();
    report(UpgradeStep::Restart);
    m_pacing.sleep(firstWaitMs);
    // The device is silent while it restarts; it has come back once its configuration block reads again.
    bool back = true;
    while (!m_operations.ReadConfigBlock(device, block)) {
        if (Pacing::Clock::now() >= giveUp) {
            back = false;
            break;
        }
        m_pacing.sleep(kRereadPauseMs);
    }
    progress.restartGiveUpNs = 0;
    if (!back)
        return fail(outcome, UpgradeStep::Restart, "the device did not answer again after its restart");
    return true;
}

FirmwareUpgrade::Commit FirmwareUpgrade::writeAndCommit(bool commitAll, double progressBase, double progressTotal,
                                                        const MacAddress& device, std::span<std::uint8_t> block) {
    if (m_operations.WriteConfigBlock(commitAll, progressBase, progressTotal, device, block))
        return Commit::Confirmed;
    return m_operations.lastCommitUnconfirmed() ? Commit::Unconfirmed : Commit::Failed;
}

bool FirmwareUpgrade::unconfirmedLeavesNetwork(const Prepared& prepared, UpgradeOutcome& outcome) {
    if (!prepared.leavesNetwork)
        return false;
    // Unreachable either way once it took the commit: whether it did cannot be seen from here.
    fail(outcome, UpgradeStep::WriteConfig,
         "the commit was not confirmed; if the device carried it out, it now uses the default network key");
    return true;
}

bool FirmwareUpgrade::runsFileFirmware(const MacAddress& device, bool upgradeTool, const Prepared& prepared,
                                       Commit commit, UpgradeOutcome& outcome) {
    const auto version = deviceVersion(device, upgradeTool);
    if (!version)
        return fail(outcome, UpgradeStep::Restart, "the device did not report its firmware version after the restart");
    if (splitVersion(*version).firmware != splitVersion(prepared.file.version).firmware) {
        if (commit == Commit::Unconfirmed)
            return fail(outcome, UpgradeStep::WriteConfig,
                        "the commit was not confirmed and the device still runs " + *version +
                            ": nothing was changed; try again");
        return fail(outcome, UpgradeStep::Restart,
                    "the device reports " + *version + " after the restart, not " + prepared.file.version);
    }
    if (commit == Commit::Unconfirmed)
        outcome.detail = "the commit was not confirmed, but the device restarted and runs " + *version;
    return true;
}

UpgradeOutcome FirmwareUpgrade::upgradeDevice(const std::string& path, const MacAddress& device) {
    UpgradeOutcome outcome;
    auto& progress = m_operations.progress();
    progress.reset();
    Prepared prepared;
    if (!prepare(path, device, false, prepared, outcome))
        return outcome;
    if (outcome.verdict == VersionVerdict::Same) {
        outcome.ok = true;
        progress.written(1.0);
        return outcome;
    }

    if (!saveBackup(device, prepared, outcome))
        return outcome;

    const double firmwareLength = static_cast<double>(prepared.file.firmware.size());
    const double configLength = static_cast<double>(prepared.configLength);
    const auto nextBlock = std::span(prepared.next);
    ConfigBlock reread{};
    if (outcome.verdict == VersionVerdict::FirmwareDiffers) {
        // Progress runs over the bytes actually written, so that it reaches 1 when the writes are done.
        const double total = firmwareLength + configLength;
        report(UpgradeStep::WriteFirmware);
        if (!m_operations.WriteModule(kModuleFirmware, 0, total, device, prepared.file.firmware)) {
            fail(outcome, UpgradeStep::WriteFirmware, "a block of the firmware image was not confirmed");
            return outcome;
        }
        report(UpgradeStep::WriteConfig);
        const Commit commit = writeAndCommit(true, firmwareLength, total, device, nextBlock);
        if (commit == Commit::Failed) {
            fail(outcome, UpgradeStep::WriteConfig, "the configuration block was not confirmed");
            return outcome;
        }
        progress.written(1.0);
        if (commit == Commit::Unconfirmed ? unconfirmedLeavesNetwork(prepared, outcome)
                                          : leftNetwork(prepared, outcome))
            return outcome;
        // The device must now run the firmware of the file; after a lost commit confirmation that decides.
        if (!waitForRestart(device, kRestartWaitAfterFirmwareMs, reread, outcome) ||
            !runsFileFirmware(device, false, prepared, commit, outcome))
            return outcome;
    } else {
        report(UpgradeStep::WriteConfig);
        const Commit commit = writeAndCommit(true, 0, configLength, device, nextBlock);
        if (commit == Commit::Failed) {
            fail(outcome, UpgradeStep::WriteConfig, "the configuration block was not confirmed");
            return outcome;
        }
        progress.written(1.0);
        if (commit == Commit::Unconfirmed ? unconfirmedLeavesNetwork(prepared, outcome)
                                          : leftNetwork(prepared, outcome))
            return outcome;
        if (!waitForRestart(device, kRestartWaitAfterConfigMs, reread, outcome))
            return outcome;
        if (commit == Commit::Unconfirmed) {
            if (!std::equal(nextBlock.begin(), nextBlock.begin() + static_cast<std::ptrdiff_t>(prepared.configLength),
                            reread.begin())) {
                fail(outcome, UpgradeStep::WriteConfig,
                     "the commit was not confirmed and the device kept its previous configuration block: nothing was "
                     "changed; try again");
                return outcome;
            }
            outcome.detail = "the commit was not confirmed, but the device restarted with the new configuration block";
        }
    }
    outcome.ok = true;
    return outcome;
}

UpgradeOutcome FirmwareUpgrade::upgradeToolSequence(const std::string& path, const MacAddress& device) {
    UpgradeOutcome outcome;
    auto& progress = m_operations.progress();
    progress.reset();
    // The first step prepares the device (the softloader step): it answers, its block is read and checked.
    Prepared prepared;
    if (!prepare(path, device, true, prepared, outcome))
        return outcome;
    if (!saveBackup(device, prepared, outcome))
        return outcome;
    progress.basePercent = 20;
    m_pacing.sleep(kToolStepPauseMs);

    report(UpgradeStep::WriteFirmware);
    progress.mapToBase(25, 20);
    const bool firmwareWritten = m_operations.WriteModule(
        kModuleFirmware, 0, static_cast<double>(prepared.file.firmware.size()), device, prepared.file.firmware);
    progress.mapToBase(0, 0);
    if (!firmwareWritten)
        return fail(outcome, UpgradeStep::WriteFirmware, "a block of the firmware image was not confirmed"), outcome;
    m_pacing.sleep(kToolStepPauseMs);

    report(UpgradeStep::WriteConfig);
    const Commit commit = writeAndCommit(true, 0, 0, device, std::span(prepared.next));
    if (commit == Commit::Failed)
        return fail(outcome, UpgradeStep::WriteConfig, "the configuration block was not confirmed"), outcome;
    progress.basePercent = 46;
    if (commit == Commit::Unconfirmed ? unconfirmedLeavesNetwork(prepared, outcome) : leftNetwork(prepared, outcome)) {
        progress.basePercent = 50;
        return outcome;
    }
    ConfigBlock reread{};
    if (!waitForRestart(device, kToolRestartWaitMs, reread, outcome))
        return outcome;
    if (commit == Commit::Unconfirmed && !runsFileFirmware(device, true, prepared, commit, outcome))
        return outcome;
    progress.basePercent = 48;

    // A device that came back without the new block gets it once more, committed on its own.
    const std::size_t length = prepared.configLength;
    sealConfigBlock(std::span(prepared.next));
    if (!std::equal(reread.begin(), reread.begin() + static_cast<std::ptrdiff_t>(length), prepared.next.begin())) {
        m_pacing.sleep(kToolStepPauseMs);
        report(UpgradeStep::WriteConfig);
        if (!m_operations.WriteConfigBlock(false, 0, 0, device, std::span(prepared.next)))
            return fail(outcome, UpgradeStep::WriteConfig, "the second write of the configuration block failed"),
                   outcome;
        if (!waitForRestart(device, kToolSecondRestartWaitMs, reread, outcome))
            return outcome;
    }
    progress.basePercent = 50;
    outcome.ok = true;
    return outcome;
}

} // namespace zrq406::mme
