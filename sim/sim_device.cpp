#include "sim/sim_device.h"

#include "mme/checksum.h"
#include "mme/key_derivation.h"
#include "mme/sha256.h"
#include "sim/config_block.h"
#include "sim/link_model.h"

#include <algorithm>
#include <cmath>

namespace zrq406::sim {

namespace {

constexpr std::size_t kMinWireFrame = 60;
constexpr std::size_t kLongestFrame = 1514;
constexpr std::uint8_t kRoleStation = 0;
constexpr std::uint8_t kRoleCoordinator = 2;

std::size_t moduleCapacity(std::uint8_t module) {
    return module == mme::kModuleFirmware ? fw::kMaxLength : cfg::kMaxLength;
}

void putMac(mme::Frame& frame, std::size_t offset, const MacAddress& mac) {
    std::copy(mac.bytes.begin(), mac.bytes.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
}

// The 4-byte cookie of a request (its bytes 20-23), copied into the confirmation at `offset`.
void echoCookie(mme::Frame& frame, std::size_t offset, std::span<const std::uint8_t> request) {
    mme::putU32le(frame, offset, mme::ByteReader(request).u32le(mme::hdr::kPayload).value_or(0));
}

std::string statusText(std::uint8_t code, std::string_view what) {
    return "status " + std::to_string(code) + " (" + std::string(what) + ")";
}

} // namespace

void SimDevice::Staging::write(std::size_t offset, std::span<const std::uint8_t> block) {
    const std::size_t end = offset + block.size();
    if (bytes.size() < end) {
        bytes.resize(end, 0);
        written.resize(end, false);
    }
    std::copy(block.begin(), block.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    for (std::size_t i = offset; i < end; ++i) {
        if (!written[i]) {
            written[i] = true;
            ++writtenCount;
        }
    }
}

bool SimDevice::Staging::complete(std::size_t length) const {
    if (length > written.size())
        return false;
    return std::all_of(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(length),
                       [](bool w) { return w; });
}

void SimDevice::Staging::clear() {
    bytes.clear();
    bytes.shrink_to_fit();
    written.clear();
    written.shrink_to_fit();
    writtenCount = 0;
}

SimDevice::SimDevice(DeviceDescription description)
    : m_description(std::move(description)), m_dak(mme::DeriveDak(m_description.password)),
      m_config(m_description.configBlock), m_firmware(m_description.firmware) {}

mme::Key SimDevice::nmk() const {
    return mme::nmkOf(m_config);
}

void SimDevice::goDown(SimClock::time_point until) {
    m_downUntil = std::max(m_downUntil, until);
    m_stagedConfig.clear();
    m_stagedFirmware.clear();
}

namespace {

// The setting of `mac`'s link in `rates`, as its schedule has it `elapsedMs` in; nothing when not set.
std::optional<RateStep> rateSetting(const DeviceDescription& d, const MacAddress& peer, double elapsedMs) {
    std::optional<RateStep> setting;
    if (const auto it = d.rates.find(peer); it != d.rates.end())
        setting = RateStep{0, it->second, false};
    if (const auto it = d.rateSchedule.find(peer); it != d.rateSchedule.end()) {
        for (const RateStep& step : it->second) {
            if (step.afterMs <= elapsedMs)
                setting = step;
        }
    }
    return setting;
}

} // namespace

std::optional<Rate> SimDevice::rateTowards(const SimDevice& peer, double elapsedMs) const {
    const auto rate = describedRateTowards(peer, elapsedMs);
    if (!rate)
        return rate;
    const std::optional<RateDips> dips = linkSetting(peer).dips;
    const bool dipping = dips && inDip(*dips, elapsedMs);
    const auto drifted = [&](std::uint8_t field, const MacAddress& from, const MacAddress& to) {
        double factor = driftFactor(linkSeed(from, to), m_description.rateDriftPercent, elapsedMs);
        if (dipping)
            factor *= dips->toPercent / 100.0;
        return static_cast<std::uint8_t>(std::clamp(std::lround(field * factor), 0L, 255L));
    };
    return Rate{drifted(rate->tx, mac(), peer.mac()), drifted(rate->rx, peer.mac(), mac())};
}

LinkSetting SimDevice::linkSetting(const SimDevice& peer) const {
    LinkSetting setting;
    const auto take = [&](const DeviceDescription& d, const MacAddress& other) {
        const auto it = d.links.find(other);
        if (it == d.links.end())
            return;
        if (!setting.slots)
            setting.slots = it->second.slots;
        if (!setting.dips)
            setting.dips = it->second.dips;
    };
    take(m_description, peer.mac());
    take(peer.m_description, mac());
    return setting;
}

int SimDevice::slotsTowards(const SimDevice& peer) const {
    return linkSetting(peer).slots.value_or(m_description.carrierMapSlots);
}

std::vector<NoiseBand> SimDevice::noiseFrom(const MacAddress& transmitter) const {
    std::vector<NoiseBand> bands;
    for (const NoiseBand& band : m_description.noise) {
        if (band.peers.empty() || std::find(band.peers.begin(), band.peers.end(), transmitter) != band.peers.end())
            bands.push_back(band);
    }
    return bands;
}

std::optional<Rate> SimDevice::describedRateTowards(const SimDevice& peer, double elapsedMs) const {
    if (const auto own = rateSetting(m_description, peer.mac(), elapsedMs))
        return own->drop ? std::nullopt : std::optional<Rate>(own->rate);
    if (const auto mirrored = rateSetting(peer.m_description, mac(), elapsedMs)) {
        if (mirrored->drop)
            return std::nullopt;
        return Rate{mirrored->rate.rx, mirrored->rate.tx};
    }
    // Both directions come from one value of the unordered pair, so that the two ends agree.
    const bool lower = mac() < peer.mac();
    const MacAddress& a = lower ? mac() : peer.mac();
    const MacAddress& b = lower ? peer.mac() : mac();
    std::uint32_t h = 2166136261u;
    for (const auto byte : a.bytes)
        h = (h ^ byte) * 16777619u;
    for (const auto byte : b.bytes)
        h = (h ^ byte) * 16777619u;
    if (m_description.position && peer.m_description.position) {
        // Attenuation grows with the length of wire between them: about 200 Mbit/s side by side, falling by one
        // per metre to a floor of 10, the two directions a few per cent apart.
        const double distance = std::abs(*m_description.position - *peer.m_description.position);
        const double base = std::max(10.0, 200.0 - distance);
        const double skew = 1.0 - static_cast<double>(h % 7) / 100.0;
        const auto strong = static_cast<std::uint8_t>(std::lround(std::min(base, 255.0)));
        const auto weak = static_cast<std::uint8_t>(std::lround(std::min(base * skew, 255.0)));
        return lower ? Rate{strong, weak} : Rate{weak, strong};
    }
    const auto first = static_cast<std::uint8_t>(60 + h % 61);
    const auto second = static_cast<std::uint8_t>(60 + (h >> 8) % 61);
    return lower ? Rate{first, second} : Rate{second, first};
}

DeviceSnapshot SimDevice::snapshot(SimClock::time_point now) const {
    DeviceSnapshot s;
    s.mac = mac();
    s.nmk = nmk();
    s.dak = m_dak;
    s.ledOn = !mme::ledsOff(m_config);
    s.firmware = m_firmware.version;
    s.firmwareImage = m_firmware;
    s.platform = m_description.platform;
    s.product = mme::productText(m_config);
    s.configBlock = m_config;
    s.tei = m_description.tei;
    s.up = isUp(now);
    s.stagedConfigBytes = m_stagedConfig.writtenCount;
    s.stagedFirmwareBytes = m_stagedFirmware.writtenCount;
    s.pairing = pairing(now);
    return s;
}

mme::Frame SimDevice::confirmation(mme::MmType type, const MacAddress& requester, std::size_t length) const {
    return mme::makeFrame(std::max(length, kMinWireFrame), requester, mac(), mme::confirmationOf(type));
}

Answer SimDevice::statusAnswer(mme::MmType type, const MacAddress& requester, std::uint8_t code,
                               std::string text) const {
    Answer answer;
    answer.frame = confirmation(type, requester, mme::hdr::kPayload + 1);
    answer.frame[mme::off::kStatus] = code;
    answer.status = code;
    answer.result = std::move(text);
    return answer;
}

Answer SimDevice::softwareVersion(const MacAddress& requester, std::span<const std::uint8_t> request) const {
    const std::string& version = m_firmware.version;
    Answer answer;
    // The whole answer of a device: the text in its 128-byte field, then the upgrade flag and the cookie.
    answer.frame = confirmation(mme::MmType::SoftwareVersion, requester, mme::off::kSwEnd);
    answer.frame[mme::off::kStatus] = 0;
    answer.frame[mme::off::kSwDeviceId] = m_description.deviceId;
    answer.frame[mme::off::kSwVersionLength] = static_cast<std::uint8_t>(version.size() + 1);
    std::copy(version.begin(), version.end(), answer.frame.begin() + mme::off::kSwVersion);
    answer.frame[mme::off::kSwUpgradeable] = 1;
    echoCookie(answer.frame, mme::off::kSwCookie, request);
    answer.result = "ok";
    return answer;
}

Answer SimDevice::attributes(const MacAddress& requester, std::span<const std::uint8_t> request) const {
    Answer answer;
    answer.frame = confirmation(mme::MmType::Attributes, requester, mme::off::kAttrPlatform + mme::off::kAttrBlockSize);
    mme::putU16le(answer.frame, mme::off::kStatus, 0);
    echoCookie(answer.frame, mme::off::kAttrCookie, request);
    answer.frame[mme::off::kAttrReportType] = mme::ByteReader(request).u8(mme::hdr::kPayload + 4).value_or(0);
    mme::putU16le(answer.frame, mme::off::kAttrSize, static_cast<std::uint16_t>(mme::off::kAttrBlockSize));
    // The platform text keeps to its 17 bytes, the field the programs read; the rest of the block stays zero.
    const std::string& platform = m_description.platform;
    std::copy_n(platform.begin(), std::min(platform.size(), mme::kPlatformTextWidth),
                answer.frame.begin() + mme::off::kAttrPlatform);
    answer.result = "ok";
    return answer;
}

Answer SimDevice::readModule(const MacAddress& requester, std::span<const std::uint8_t> request) const {
    const std::uint8_t module = request[mme::off::kRdModule];
    const std::uint16_t length = mme::getU16le(request, mme::off::kRdLength);
    const std::uint32_t offset = mme::getU32le(request, mme::off::kRdOffset);
    std::uint8_t code = 0;
    std::string text = "ok";
    if (module != mme::kModuleConfig) {
        code = status::kBadParameter;
        text = statusText(code, "module " + std::to_string(module) + " cannot be read");
    } else if (length == 0 || length > mme::kMaxBlock) {
        code = status::kOutOfRange;
        text = statusText(code, "length " + std::to_string(length));
    } else if (std::size_t{offset} + length > m_config.size()) {
        code = status::kOutOfRange;
        text =
            statusText(code, "bytes " + std::to_string(offset) + ".." + std::to_string(std::size_t{offset} + length) +
                                 " outside the block of " + std::to_string(m_config.size()));
    }
    const std::size_t dataLength = code == 0 ? length : 0;
    Answer answer;
    answer.frame = confirmation(mme::MmType::ReadModule, requester, mme::off::kRdCnfData + dataLength);
    answer.frame[mme::off::kStatus] = code;
    answer.frame[mme::off::kRdCnfModule] = module;
    mme::putU16le(answer.frame, mme::off::kRdCnfLength, length);
    mme::putU32le(answer.frame, mme::off::kRdCnfOffset, offset);
    if (code == 0) {
        const auto data = std::span<const std::uint8_t>(m_config).subspan(offset, length);
        mme::putU32le(answer.frame, mme::off::kRdCnfChecksum, mme::blockChecksum(data));
        std::copy(data.begin(), data.end(), answer.frame.begin() + mme::off::kRdCnfData);
    }
    answer.status = code;
    answer.result = std::move(text);
    return answer;
}

Answer SimDevice::writeModule(const MacAddress& requester, std::span<const std::uint8_t> request) {
    const std::uint8_t module = request[mme::off::kWrModule];
    const std::uint16_t length = mme::getU16le(request, mme::off::kWrLength);
    const std::uint32_t offset = mme::getU32le(request, mme::off::kWrOffset);
    const std::uint32_t checksum = mme::getU32le(request, mme::off::kWrChecksum);
    std::uint8_t code = 0;
    std::string text = "ok";
    if (module != mme::kModuleFirmware && module != mme::kModuleConfig) {
        code = status::kBadParameter;
        text = statusText(code, "no module " + std::to_string(module));
    } else if (length == 0 || length > mme::kMaxBlock) {
        code = status::kOutOfRange;
        text = statusText(code, "length " + std::to_string(length));
    } else if (std::size_t{offset} + length > moduleCapacity(module)) {
        code = status::kOutOfRange;
        text = statusText(code, "block at " + std::to_string(offset) + " beyond the module");
    } else if (request.size() < mme::off::kWrData + length) {
        code = status::kShortFrame;
        text = statusText(code, "the frame holds less than the block length");
    } else if (mme::blockChecksum(request.subspan(mme::off::kWrData, length)) != checksum) {
        code = status::kBadChecksum;
        text = statusText(code, "block checksum mismatch");
    }
    Answer answer;
    answer.frame = confirmation(mme::MmType::WriteModule, requester, mme::off::kWrData);
    answer.frame[mme::off::kStatus] = code;
    answer.frame[mme::off::kWrCnfModule] = module;
    mme::putU16le(answer.frame, mme::off::kWrCnfLength, length);
    mme::putU32le(answer.frame, mme::off::kWrCnfOffset, offset);
    answer.status = code;
    if (code == 0) {
        Staging& staging = module == mme::kModuleFirmware ? m_stagedFirmware : m_stagedConfig;
        staging.write(offset, request.subspan(mme::off::kWrData, length));
        answer.firmwareBlockWritten = module == mme::kModuleFirmware;
        text = "staged module " + std::to_string(module) + " bytes " + std::to_string(offset) + ".." +
               std::to_string(std::size_t{offset} + length);
    }
    answer.result = std::move(text);
    return answer;
}

Answer SimDevice::commit(const MacAddress& requester, std::span<const std::uint8_t> request) {
    const std::uint8_t set = request[mme::off::kCommitSet];
    const auto answerWith = [&](std::uint8_t code, std::string text) {
        Answer answer = statusAnswer(mme::MmType::CommitModules, requester, code, std::move(text));
        answer.frame[mme::off::kCommitCnfSet] = set;
        return answer;
    };
    const auto refuse = [&](std::uint8_t code, std::string_view what) {
        return answerWith(code, statusText(code, what));
    };
    if (set != mme::kCommitConfigOnly && set != mme::kCommitFirmwareAndConfig)
        return refuse(status::kBadParameter, "module set " + std::to_string(set));
    const bool withFirmware = set == mme::kCommitFirmwareAndConfig;

    // Everything is checked before anything becomes active, so a refused commit leaves the device as it was.
    std::optional<std::vector<std::uint8_t>> config;
    if (m_stagedConfig.writtenCount > 0) {
        const std::size_t length = configBlockLength(m_stagedConfig.bytes);
        if (length < cfg::kMinLength || length > cfg::kMaxLength || !m_stagedConfig.complete(length))
            return refuse(status::kInvalidConfig, "staged configuration block has a bad length or gaps");
        const auto block = std::span<const std::uint8_t>(m_stagedConfig.bytes).first(length);
        if (!configBlockValid(block))
            return refuse(status::kInvalidConfig, "staged configuration block checksum mismatch");
        config.emplace(block.begin(), block.end());
    }
    std::optional<FirmwareIdentity> firmware;
    if (withFirmware && m_stagedFirmware.writtenCount > 0) {
        const auto& bytes = m_stagedFirmware.bytes;
        std::size_t length = 0;
        if (m_stagedFirmware.complete(fw::kLength + 4))
            length = mme::getU32le(bytes, fw::kLength);
        if (length < fw::kHeaderLength || length > bytes.size() || !m_stagedFirmware.complete(length))
            return refuse(status::kInvalidFirmware, "staged firmware image is incomplete");
        firmware = firmwareImageIdentity(std::span<const std::uint8_t>(bytes).first(length));
        if (!firmware)
            return refuse(status::kInvalidFirmware, "staged firmware image is not valid");
    }
    if (!config && !firmware)
        return refuse(status::kNothingStaged, "nothing staged");

    std::string text = "committed";
    if (config) {
        m_config = std::move(*config);
        text += " configuration block (" + std::to_string(m_config.size()) + " bytes)";
    }
    if (firmware) {
        m_firmware = std::move(*firmware);
        text += std::string(config ? " and" : "") + " firmware " + m_firmware.version;
    }
    Answer answer = answerWith(0, text);
    answer.stateChanged = true;
    answer.restartMs = withFirmware ? m_description.restart.firmwareCommitMs : m_description.restart.configCommitMs;
    return answer;
}

Answer SimDevice::networkInfo(const MacAddress& requester, const std::vector<const SimDevice*>& all,
                              double elapsedMs) const {
    // A frame holds at most this many station entries.
    constexpr std::size_t kMaxStations = (kLongestFrame - mme::off::kNiStations) / mme::off::kNiStationSize;
    std::vector<const SimDevice*> members;
    std::vector<Rate> rates;
    for (const SimDevice* member : all) {
        if (const auto rate = rateTowards(*member, elapsedMs)) {
            members.push_back(member);
            rates.push_back(*rate);
        }
    }
    Answer answer;
    if (members.empty()) {
        answer.frame = confirmation(mme::MmType::NetworkInfo, requester, mme::off::kNiNetworks + 1);
        answer.result = "no network (alone)";
        return answer;
    }
    const std::size_t count = std::min(members.size(), kMaxStations);
    answer.frame =
        confirmation(mme::MmType::NetworkInfo, requester, mme::off::kNiStations + count * mme::off::kNiStationSize);
    mme::Frame& f = answer.frame;
    f[mme::off::kNiNetworks] = 1;
    // The network identifier follows from the key, so devices with the same key report the same network.
    const mme::Key key = nmk();
    const auto digest = mme::Sha256::digest(key);
    std::copy_n(digest.begin(), 7, f.begin() + mme::off::kNiNid);
    f[mme::off::kNiNid + 6] &= 0x3F;
    f[mme::off::kNiSnid] = digest[7] & 0x0F;
    f[mme::off::kNiTei] = m_description.tei;
    const SimDevice* coordinator = this;
    for (const SimDevice* member : members) {
        if (member->m_description.tei < coordinator->m_description.tei)
            coordinator = member;
    }
    f[mme::off::kNiRole] = coordinator == this ? kRoleCoordinator : kRoleStation;
    putMac(f, mme::off::kNiCcoMac, coordinator->mac());
    f[mme::off::kNiCcoTei] = coordinator->m_description.tei;
    f[mme::off::kNiStationCount] = static_cast<std::uint8_t>(count);
    for (std::size_t i = 0; i < count; ++i) {
        const SimDevice& member = *members[i];
        const std::size_t at = mme::off::kNiStations + i * mme::off::kNiStationSize;
        const Rate rate = rates[i];
        putMac(f, at, member.mac());
        f[at + 6] = member.m_description.tei;
        putMac(f, at + 7, member.m_description.bridgedMac);
        f[at + 13] = rate.tx;
        f[at + 14] = rate.rx;
    }
    answer.result = std::to_string(count) + " station" + (count == 1 ? "" : "s");
    return answer;
}

void SimDevice::setNmk(const mme::Key& nmk) {
    mme::setNmk(m_config, nmk);
    sealConfigBlock(m_config);
}

Answer SimDevice::setLocalKey(const MacAddress& requester, std::span<const std::uint8_t> request) {
    if (request[mme::off::kKeyEks] != 1)
        return keyConfirmation(requester, status::kBadParameter,
                               statusText(status::kBadParameter, "key selector " + std::to_string(request[20])));
    mme::Key key{};
    std::copy_n(request.begin() + mme::off::kKeyNmk, key.size(), key.begin());
    const bool changed = key != nmk();
    setNmk(key);
    Answer answer = keyConfirmation(requester, 0, changed ? "new network key" : "same network key");
    answer.stateChanged = changed;
    return answer;
}

Answer SimDevice::keyConfirmation(const MacAddress& requester, std::uint8_t result, std::string text) const {
    return statusAnswer(mme::MmType::SetKey, requester, result, std::move(text));
}

bool SimDevice::acceptForwardedKey(const mme::Key& nmk, const mme::Key& dak) {
    if (dak != m_dak)
        return false;
    setNmk(nmk);
    return true;
}

Answer SimDevice::factoryReset(const MacAddress& requester) {
    const FactorySettings& factory = m_description.factory;
    ConfigBlockFields fields;
    fields.mac = mac();
    std::copy(m_dak.begin(), m_dak.end(), fields.identity.begin());
    fields.hfid = factoryDeviceText(mac());
    fields.nmk = factory.nmk;
    fields.product = factory.product;
    fields.ledOn = factory.ledOn;
    fields.length = factory.configLength;
    m_config = makeConfigBlock(fields);
    if (factory.firmwareGiven)
        m_firmware = *firmwareImageIdentity(makeFirmwareImage(factory.firmware));
    Answer answer = statusAnswer(mme::MmType::FactoryReset, requester, 0, "factory settings restored");
    answer.stateChanged = true;
    answer.restartMs = m_description.restart.factoryResetMs;
    return answer;
}

void SimDevice::pressPairButton(SimClock::time_point now, SimClock::time_point until) {
    m_pairingFrom = now;
    m_pairingUntil = until;
}

Answer SimDevice::pushButtonAnswer(const MacAddress& requester, std::uint8_t result, std::uint8_t membership,
                                   std::string text) const {
    Answer answer;
    answer.frame = mme::makeStandardFrame(kMinWireFrame, requester, mac(), mme::confirmationOf(mme::MmType::PushButton));
    answer.frame[mme::off::kPbStatus] = result;
    answer.frame[mme::off::kPbMembership] = membership;
    answer.status = result;
    answer.result = std::move(text);
    return answer;
}

Answer SimDevice::restart(const MacAddress& requester) const {
    Answer answer = statusAnswer(mme::MmType::Restart, requester, 0, "restarting");
    answer.restartMs = m_description.restart.restartMs;
    return answer;
}

Answer SimDevice::hosts(const MacAddress& requester) const {
    constexpr std::size_t kMaxHosts = (kLongestFrame - mme::off::kHosts) / mme::off::kHostEntrySize;
    const std::size_t count = std::min(m_description.hosts.size(), kMaxHosts);
    Answer answer;
    answer.frame =
        confirmation(mme::MmType::Hosts, requester, mme::off::kHosts + count * mme::off::kHostEntrySize);
    answer.frame[mme::off::kStatus] = 0;
    mme::putU32le(answer.frame, mme::off::kHostCount, static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = mme::off::kHosts + i * mme::off::kHostEntrySize;
        putMac(answer.frame, at, m_description.hosts[i].mac);
        answer.frame[at + 6] = m_description.hosts[i].id;
    }
    answer.result = std::to_string(count) + " host" + (count == 1 ? "" : "s");
    return answer;
}

Answer SimDevice::failure(mme::MmType type, const MacAddress& requester, std::uint8_t code) const {
    const std::string text = statusText(code, "injected failure");
    switch (type) {
    case mme::MmType::NetworkInfo: {
        // Network information has no status field: the failing form reports no network.
        Answer answer;
        answer.frame = confirmation(type, requester, mme::off::kNiNetworks + 1);
        answer.status = code;
        answer.result = "no network (injected failure)";
        return answer;
    }
    case mme::MmType::Attributes: {
        // A refusal keeps the answer's length, its block zero.
        Answer answer;
        answer.frame = confirmation(type, requester, mme::off::kAttrPlatform + mme::off::kAttrBlockSize);
        mme::putU16le(answer.frame, mme::off::kStatus, code);
        answer.status = code;
        answer.result = text;
        return answer;
    }
    case mme::MmType::PushButton:
        return pushButtonAnswer(requester, code, 0, text);
    case mme::MmType::SoftwareVersion: {
        Answer answer;
        answer.frame = confirmation(type, requester, mme::off::kSwEnd);
        answer.frame[mme::off::kStatus] = code;
        answer.status = code;
        answer.result = text;
        return answer;
    }
    default:
        return statusAnswer(type, requester, code, text);
    }
}

} // namespace zrq406::sim
