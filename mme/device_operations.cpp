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

bool DeviceOperations::readBlock(const MacAddress& device, std::uint32_t offset, std::uint16_t length,
                                 std::uint8_t* out, const ExchangeTiming& timing) {
    const Frame request = buildReadModuleRequest(device, hostMac(), kModuleConfig, length, offset);
    const auto frame = m_exchange.run(request, MmType::ReadModule, timing);
    if (!frame)
        return false;
    const auto confirm = parseReadModule(*frame, length);
    if (!confirm || confirm->status != 0)
        return false;
    std::memcpy(out, confirm->data.data(), length);
    return true;
}

bool DeviceOperations::ReadConfigBlock(const MacAddress& device, ConfigBlock& block) {
    return ReadConfigBlockPrefix(device, block, kConfigBlockMax);
}

bool DeviceOperations::ReadConfigBlockPrefix(const MacAddress& device, ConfigBlock& block, std::size_t upTo) {
    if (m_exchange.adapters().current() == nullptr)
        return false;
    m_destination = device;
    if (!readBlock(m_destination, 0, kMaxBlock, block.data(), timing::kConfigRead))
        return false;
    const std::size_t total = configBlockLength(block);
    // A length outside what a configuration block can be would overrun the buffer; such a block is not read.
    if (total < kConfigBlockMin || total > kConfigBlockMax)
        return false;
    const std::size_t end = std::min(total, std::max(upTo, kMaxBlock));
    for (std::size_t offset = kMaxBlock; offset < end; offset += kMaxBlock) {
        const auto length = static_cast<std::uint16_t>(std::min(kMaxBlock, total - offset));
        if (!readBlock(m_destination, static_cast<std::uint32_t>(offset), length, block.data() + offset,
                       timing::kConfigRead))
            return false;
    }
    return true;
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
        if (!readBlock(m_destination, static_cast<std::uint32_t>(start), length, block.data() + start,
                       timing::kConfigRead))
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
    if (m_exchange.adapters().current() == nullptr)
        return false;
    return statusExchange(buildCommitRequest(device, hostMac(), moduleSet), MmType::CommitModules, timing::kCommit);
}

bool DeviceOperations::WriteConfigBlock(bool commitAll, double progressBase, double progressTotal,
                                        const MacAddress& device, std::span<std::uint8_t> image) {
    const std::size_t length = configBlockLength(image);
    // Refused before anything is written: a block announcing a length it cannot have would be cut or overrun.
    if (length < kConfigBlockMin || length > kConfigBlockMax || length > image.size())
        return false;
    sealConfigBlock(image);
    if (!WriteModule(kModuleConfig, progressBase, commitAll ? progressTotal : 0, device, image.first(length)))
        return false;
    return Commit(device, commitAll ? kCommitFirmwareAndConfig : kCommitConfigOnly);
}

ReadResult DeviceOperations::ReadQosBlock(const MacAddress& device, std::array<std::uint8_t, kQosLength>& out) {
    if (m_exchange.adapters().current() == nullptr)
        return ReadResult::NoAnswer;
    const Frame request = buildReadModuleRequest(device, hostMac(), kModuleConfig, kQosLength, kQosOffset);
    const auto frame = m_exchange.run(request, MmType::ReadModule, timing::kQosRead);
    const auto confirm = frame ? parseReadModule(*frame, kQosLength) : std::nullopt;
    if (!confirm)
        return ReadResult::NoAnswer;
    if (confirm->status != 0)
        return ReadResult::Refused;
    std::memcpy(out.data(), confirm->data.data(), kQosLength);
    return ReadResult::Done;
}

} // namespace zrq406::mme
