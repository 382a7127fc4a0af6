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
    // The key always goes to the attached device, which forwards a remote key itself; never to a device that
    // discovery did not find.
    const MacAddress local = adapter->localDeviceMac;
    if (local.isZero() || local.isGroup())
        return false;
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

std::optional<PushButtonConfirm> DeviceOperations::PushButton(const MacAddress& device, PushButtonAction action) {
    if (m_exchange.adapters().current() == nullptr)
        return std::nullopt;
    const auto frame =
        m_exchange.run(buildPushButtonRequest(device, hostMac(), action), MmType::PushButton, timing::kPushButton);
    return frame ? parsePushButton(*frame) : std::nullopt;
}

bool DeviceOperations::Restart(const MacAddress& device) {
    if (m_exchange.adapters().current() == nullptr)
        return false;
    return statusExchange(buildRestartRequest(device, hostMac()), MmType::Restart, timing::kRestart);
}

std::optional<HostsConfirm> DeviceOperations::Hosts(const MacAddress& device) {
    if (m_exchange.adapters().current() == nullptr)
        return std::nullopt;
    const auto frame = m_exchange.run(buildHostsRequest(device, hostMac()), MmType::Hosts, timing::kHosts);
    return frame ? parseHosts(*frame) : std::nullopt;
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

BlockProblem DeviceOperations::checkBlockAnswer(const std::optional<Frame>& frame, std::uint16_t length,
                                                std::uint8_t* out) {
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

// One device's read of its configuration block, a block at a time: the first block (read again from the start
// while what arrives is damaged, up to kBlockReadTries times), the rest of the prefix asked for, then the blocks
// that hold the LED bytes. Several readers run together, one request each in flight, so that the devices of a
// scan answer in the same wait.
class DeviceOperations::BlockReader {
public:
    BlockReader(const MacAddress& device, const MacAddress& identity, ConfigBlock& block, std::size_t upTo,
                bool leds)
        : m_device(device), m_identity(identity), m_block(block), m_upTo(std::max(upTo, kMaxBlock)), m_leds(leds) {}

    bool finished() const { return m_finished; }
    BlockProblem problem() const { return m_problem; }
    // The read request for the next block; only while not finished.
    Frame request(const MacAddress& host) const {
        return buildReadModuleRequest(m_device, host, kModuleConfig, m_length, static_cast<std::uint32_t>(m_offset));
    }

    void take(const std::optional<Frame>& answer) {
        const BlockProblem problem = checkBlockAnswer(answer, m_length, m_block.data() + m_offset);
        if (problem != BlockProblem::None)
            return fail(problem);
        if (m_offset == 0) {
            const std::size_t total = configBlockLength(m_block);
            // A length outside what a configuration block can be would overrun the buffer; such a block is not read.
            if (total < kConfigBlockMin || total > kConfigBlockMax)
                return fail(BlockProblem::BadLength);
            // The block of the device asked, not of another: a damaged MAC written back would make the device
            // unreachable.
            if (m_identity != MacAddress::localDevice() &&
                !std::equal(m_identity.bytes.begin(), m_identity.bytes.end(),
                            m_block.begin() + static_cast<std::ptrdiff_t>(cfg::kMac)))
                return fail(BlockProblem::WrongDevice);
            m_total = total;
            m_prefixEnd = std::min(total, m_upTo);
        }
        advance();
    }

private:
    void advance() {
        const std::size_t next = m_offset + kMaxBlock;
        if (!m_inLeds && next < m_prefixEnd)
            return ask(next);
        if (!m_inLeds && m_prefixEnd == m_total && !configBlockValid(std::span<const std::uint8_t>(m_block).first(m_total)))
            return fail(BlockProblem::BadChecksum);
        if (m_leds) {
            // The LED blocks beyond the prefix, each once.
            for (const std::size_t offset : cfg::kLedOffsets) {
                const std::size_t start = offset / kMaxBlock * kMaxBlock;
                if (offset < m_total && start >= m_prefixEnd && (!m_inLeds || start > m_offset)) {
                    m_inLeds = true;
                    return ask(start);
                }
            }
        }
        m_finished = true;
        m_problem = BlockProblem::None;
    }

    void ask(std::size_t offset) {
        m_offset = offset;
        m_length = static_cast<std::uint16_t>(std::min(kMaxBlock, m_total - offset));
    }

    // Silence and refusals are final, and so is a failure in the LED blocks; a prefix that arrived damaged is read
    // again from its first block.
    void fail(BlockProblem problem) {
        m_problem = problem;
        const bool damaged = problem != BlockProblem::NoAnswer && problem != BlockProblem::Refused;
        if (damaged && !m_inLeds && ++m_attempt < kBlockReadTries) {
            m_offset = 0;
            m_length = static_cast<std::uint16_t>(kMaxBlock);
            m_total = kMaxBlock;
            return;
        }
        m_finished = true;
    }

    MacAddress m_device;
    MacAddress m_identity;
    ConfigBlock& m_block;
    std::size_t m_upTo;
    bool m_leds;
    std::size_t m_offset = 0;
    std::uint16_t m_length = static_cast<std::uint16_t>(kMaxBlock);
    std::size_t m_total = kMaxBlock;
    std::size_t m_prefixEnd = kMaxBlock;
    bool m_inLeds = false;
    int m_attempt = 0;
    bool m_finished = false;
    BlockProblem m_problem = BlockProblem::NoAnswer;
};

std::vector<BlockProblem> DeviceOperations::runReaders(std::vector<BlockReader>& readers) {
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    std::vector<BlockProblem> problems(readers.size(), BlockProblem::NoAnswer);
    if (adapter == nullptr)
        return problems;
    const MacAddress host = adapter->hostMac;
    for (;;) {
        std::vector<std::size_t> asking;
        std::vector<Frame> requests;
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if (readers[i].finished())
                continue;
            asking.push_back(i);
            requests.push_back(readers[i].request(host));
        }
        if (requests.empty())
            break;
        const auto answers = m_exchange.runAll(requests, timing::kConfigRead);
        for (std::size_t k = 0; k < asking.size(); ++k)
            readers[asking[k]].take(answers[k]);
    }
    for (std::size_t i = 0; i < readers.size(); ++i)
        problems[i] = readers[i].problem();
    return problems;
}

MacAddress DeviceOperations::identityOf(const MacAddress& device) {
    // A read through the local-device address names the attached device in its block.
    const link::AdapterRecord* adapter = m_exchange.adapters().current();
    if (device == MacAddress::localDevice() && adapter != nullptr)
        return adapter->localDeviceMac;
    return device;
}

bool DeviceOperations::ReadConfigBlock(const MacAddress& device, ConfigBlock& block) {
    return ReadConfigBlockPrefix(device, block, kConfigBlockMax);
}

bool DeviceOperations::ReadConfigBlockPrefix(const MacAddress& device, ConfigBlock& block, std::size_t upTo) {
    std::vector<BlockReader> readers{BlockReader(device, identityOf(device), block, upTo, false)};
    m_blockProblem = runReaders(readers).front();
    return m_blockProblem == BlockProblem::None;
}

bool DeviceOperations::ReadConfigFields(const MacAddress& device, ConfigBlock& block) {
    std::vector<BlockReader> readers{BlockReader(device, identityOf(device), block, kMaxBlock, true)};
    m_blockProblem = runReaders(readers).front();
    return m_blockProblem == BlockProblem::None;
}

std::vector<BlockProblem> DeviceOperations::ReadConfigFieldsOf(std::span<const MacAddress> devices,
                                                               std::span<ConfigBlock> blocks, std::size_t upTo,
                                                               bool leds) {
    std::vector<BlockReader> readers;
    readers.reserve(devices.size());
    for (std::size_t i = 0; i < devices.size() && i < blocks.size(); ++i)
        readers.emplace_back(devices[i], identityOf(devices[i]), blocks[i], upTo, leds);
    return runReaders(readers);
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
