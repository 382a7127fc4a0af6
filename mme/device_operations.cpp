#include "mme/device_operations.h"

#include "mme/checksum.h"
#include "mme/confirmations.h"

#include <algorithm>
#include <cstring>

namespace zrq406::mme {

DeviceOperations::DeviceOperations(Exchange& exchange, Progress& progress)
    : m_exchange(exchange), m_progress(progress) {}

MacAddress DeviceOperations::hostMac() {
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    return adapter != nullptr ? adapter->hostMac : MacAddress{};
}

bool DeviceOperations::statusExchange(const Frame& request, MmType type, const ExchangeTiming& timing) {
    const auto frame = m_exchange.run(request, type, timing);
    if (!frame)
        return false;
    const auto status = parseStatus(*frame);
    return status && *status == 0;
}

bool DeviceOperations::SetKey(const Key& nmk, const MacAddress* remote, const Key* dak) {
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (adapter == nullptr)
        return false;
    // The key always goes to the attached device, which forwards a remote key itself.
    const MacAddress local = adapter->localDeviceMac;
    const Frame request = remote && dak ? buildSetRemoteKeyRequest(local, hostMac(), nmk, *remote, *dak)
                                        : buildSetLocalKeyRequest(local, hostMac(), nmk);
    return statusExchange(request, MmType::SetKey, timing::kSetKey);
}

KeyResult DeviceOperations::SetNetworkKey(std::string_view networkPassword, bool remoteFlag, const MacAddress& remote,
                                          std::string_view devicePassword) {
    switch (ValidateNetworkPassword(networkPassword)) {
    case PasswordProblem::Length:
        return KeyResult::PasswordLength;
    case PasswordProblem::Character:
        return KeyResult::PasswordCharacter;
    case PasswordProblem::None:
        break;
    }
    const Key nmk = DeriveNmk(networkPassword);
    if (!remoteFlag)
        return SetKey(nmk, nullptr, nullptr) ? KeyResult::Done : KeyResult::Refused;
    const Key dak = DeriveDak(devicePassword);
    return SetKey(nmk, &remote, &dak) ? KeyResult::Done : KeyResult::Refused;
}

bool DeviceOperations::SetRemoteKey(std::string_view devicePassword, const Key& nmk, const MacAddress& remote) {
    const Key dak = DeriveDak(devicePassword);
    return SetKey(nmk, &remote, &dak);
}

bool DeviceOperations::FactoryReset(const MacAddress& device) {
    if (m_exchange.adapters().current() == nullptr)
        return false;
    return statusExchange(buildFactoryResetRequest(device, hostMac()), MmType::FactoryReset, timing::kFactoryReset);
}

namespace {

// The checksum that devices send with the bytes of a read answer. Zero stands for none sent: a device that does
// not fill the field is not refused for it.
bool answerIntact(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> data) {
    const auto sent = ByteReader(frame).u32le(off::kRdCnfChecksum);
    return !sent || *sent == 0 || *sent == blockChecksum(data);
}

} // namespace

const char* blockProblemText(BlockProblem problem) {
    switch (problem) {
    case BlockProblem::None:
        return "no problem";
    case BlockProblem::NoAnswer:
        return "the device did not answer";
    case BlockProblem::Refused:
        return "the device refused to read it";
    case BlockProblem::AnswerDamaged:
        return "its bytes arrived damaged";
    case BlockProblem::BadLength:
        return "it announces a length that no configuration block has";
    case BlockProblem::BadChecksum:
        return "its checksum does not match its bytes";
    case BlockProblem::WrongDevice:
        return "it names another device";
    }
    return "unknown problem";
}

BlockProblem DeviceOperations::readBlock(const MacAddress& device, std::uint32_t offset, std::uint16_t length,
                                         std::uint8_t* out, const ExchangeTiming& timing) {
    const Frame request = buildReadModuleRequest(device, hostMac(), kModuleConfig, length, offset);
    const auto frame = m_exchange.run(request, MmType::ReadModule, timing);
    if (!frame)
        return BlockProblem::NoAnswer;
    const auto confirm = parseReadModule(*frame, length);
    if (!confirm)
        return BlockProblem::AnswerDamaged;
    if (confirm->status != 0)
        return BlockProblem::Refused;
    if (!answerIntact(*frame, confirm->data))
        return BlockProblem::AnswerDamaged;
    std::memcpy(out, confirm->data.data(), length);
    return BlockProblem::None;
}

bool DeviceOperations::ReadConfigBlock(const MacAddress& device, ConfigBlock& block) {
    return ReadConfigBlockPrefix(device, block, kConfigBlockMax);
}

BlockProblem DeviceOperations::readPrefixOnce(ConfigBlock& block, std::size_t upTo) {
    if (const auto problem = readBlock(m_destination, 0, kMaxBlock, block.data(), timing::kConfigRead);
        problem != BlockProblem::None)
        return problem;
    const std::size_t total = configBlockLength(block);
    // A length outside what a configuration block can be would overrun the buffer; such a block is not read.
    if (total < kConfigBlockMin || total > kConfigBlockMax)
        return BlockProblem::BadLength;
    // The block of the device asked, not of another: a damaged MAC written back would make the device unreachable.
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    MacAddress identity = m_destination;
    if (identity == MacAddress::localDevice() && adapter != nullptr)
        identity = adapter->localDeviceMac;
    if (identity != MacAddress::localDevice() && !std::equal(identity.bytes.begin(), identity.bytes.end(),
                                                             block.begin() + static_cast<std::ptrdiff_t>(cfg::kMac)))
        return BlockProblem::WrongDevice;
    const std::size_t end = std::min(total, std::max(upTo, kMaxBlock));
    for (std::size_t offset = kMaxBlock; offset < end; offset += kMaxBlock) {
        const auto length = static_cast<std::uint16_t>(std::min(kMaxBlock, total - offset));
        if (const auto problem = readBlock(m_destination, static_cast<std::uint32_t>(offset), length,
                                           block.data() + offset, timing::kConfigRead);
            problem != BlockProblem::None)
            return problem;
    }
    if (end == total && !configBlockValid(std::span<const std::uint8_t>(block).first(total)))
        return BlockProblem::BadChecksum;
    return BlockProblem::None;
}

bool DeviceOperations::ReadConfigBlockPrefix(const MacAddress& device, ConfigBlock& block, std::size_t upTo) {
    m_blockProblem = BlockProblem::NoAnswer;
    if (m_exchange.adapters().current() == nullptr)
        return false;
    m_destination = device;
    // Silence and refusals are final; what arrived damaged is asked for again.
    for (int attempt = 0; attempt < kBlockReadTries; ++attempt) {
        m_blockProblem = readPrefixOnce(block, upTo);
        if (m_blockProblem == BlockProblem::None || m_blockProblem == BlockProblem::NoAnswer ||
            m_blockProblem == BlockProblem::Refused)
            break;
    }
    return m_blockProblem == BlockProblem::None;
}

bool DeviceOperations::ReadConfigFields(const MacAddress& device, ConfigBlock& block) {
    if (!ReadConfigBlockPrefix(device, block, kMaxBlock))
        return false;
    const std::size_t total = configBlockLength(block);
    std::size_t lastRead = 0;
    for (const std::size_t offset : cfg::kLedOffsets) {
        const std::size_t start = offset / kMaxBlock * kMaxBlock;
        if (offset >= total || start == lastRead)
            continue;
        const auto length = static_cast<std::uint16_t>(std::min(kMaxBlock, total - start));
        m_blockProblem = readBlock(m_destination, static_cast<std::uint32_t>(start), length, block.data() + start,
                                   timing::kConfigRead);
        if (m_blockProblem != BlockProblem::None)
            return false;
        lastRead = start;
    }
    return true;
}

bool DeviceOperations::WriteModule(std::uint8_t module, double progressBase, double progressTotal,
                                   const MacAddress& device, std::span<const std::uint8_t> image) {
    if (m_exchange.adapters().current() == nullptr)
        return false;
    m_destination = device;
    for (std::size_t offset = 0; offset < image.size(); offset += kMaxBlock) {
        const auto block = image.subspan(offset, std::min(kMaxBlock, image.size() - offset));
        const Frame request =
            buildWriteModuleRequest(m_destination, hostMac(), module, static_cast<std::uint32_t>(offset), block);
        if (!statusExchange(request, MmType::WriteModule, timing::kWriteModule))
            return false;
        if (progressTotal > 0)
            m_progress.written((progressBase + static_cast<double>(offset + block.size())) / progressTotal);
    }
    return true;
}

bool DeviceOperations::Commit(const MacAddress& device, std::uint8_t moduleSet) {
    const auto status = commitStatus(device, moduleSet);
    return status && *status == 0;
}

std::optional<std::uint8_t> DeviceOperations::commitStatus(const MacAddress& device, std::uint8_t moduleSet) {
    if (m_exchange.adapters().current() == nullptr)
        return std::nullopt;
    const auto frame =
        m_exchange.run(buildCommitRequest(device, hostMac(), moduleSet), MmType::CommitModules, timing::kCommit);
    return frame ? parseStatus(*frame) : std::nullopt;
}

bool DeviceOperations::WriteConfigBlock(bool commitAll, double progressBase, double progressTotal,
                                        const MacAddress& device, std::span<std::uint8_t> image) {
    m_commitUnconfirmed = false;
    const std::size_t length = configBlockLength(image);
    // Refused before anything is written: a block announcing a length it cannot have would be cut or overrun.
    if (length < kConfigBlockMin || length > kConfigBlockMax || length > image.size())
        return false;
    sealConfigBlock(image);
    m_commitUnconfirmed = false;
    if (!WriteModule(kModuleConfig, progressBase, commitAll ? progressTotal : 0, device, image.first(length)))
        return false;
    const auto status = commitStatus(device, commitAll ? kCommitFirmwareAndConfig : kCommitConfigOnly);
    // A refusal is final; silence is not: the device may have carried out the commit and be restarting.
    m_commitUnconfirmed = !status;
    return status && *status == 0;
}

ReadResult DeviceOperations::ReadQosBlock(const MacAddress& device, std::array<std::uint8_t, kQosLength>& out) {
    if (m_exchange.adapters().current() == nullptr)
        return ReadResult::NoAnswer;
    const Frame request = buildReadModuleRequest(device, hostMac(), kModuleConfig, kQosLength, kQosOffset);
    for (int attempt = 0; attempt < kBlockReadTries; ++attempt) {
        const auto frame = m_exchange.run(request, MmType::ReadModule, timing::kQosRead);
        if (!frame)
            return ReadResult::NoAnswer;
        const auto confirm = parseReadModule(*frame, kQosLength);
        if (confirm && confirm->status != 0)
            return ReadResult::Refused;
        // Settings read damaged would be taken as the device's and written back with the user's changes.
        if (!confirm || !answerIntact(*frame, confirm->data))
            continue;
        std::memcpy(out.data(), confirm->data.data(), kQosLength);
        return ReadResult::Done;
    }
    return ReadResult::NoAnswer;
}

} // namespace zrq406::mme
