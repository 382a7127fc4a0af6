#pragma once

#include "mme/frame_builder.h"
#include "mme/mme_frame.h"
#include "platform/mac_address.h"
#include "sim/firmware_image.h"
#include "sim/network_description.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zrq406::sim {

// Status values of the simulated devices' confirmations (0 is success).
namespace status {
constexpr std::uint8_t kBadParameter = 0x01;    // unknown module, module set, key form or zero length
constexpr std::uint8_t kOutOfRange = 0x02;      // block outside the module, or longer than 1024 bytes
constexpr std::uint8_t kShortFrame = 0x03;      // the block does not fit in the received frame
constexpr std::uint8_t kBadChecksum = 0x04;     // the block's checksum does not match its bytes
constexpr std::uint8_t kNothingStaged = 0x05;   // commit without a written image
constexpr std::uint8_t kInvalidConfig = 0x06;   // staged configuration block: bad length, gaps or checksum
constexpr std::uint8_t kInvalidFirmware = 0x07; // staged firmware image: not a valid image
constexpr std::uint8_t kWrongDak = 0x08;        // forwarded key refused by the remote device
constexpr std::uint8_t kUnreachable = 0x09;     // forwarded key: no such device, or it is restarting
constexpr std::uint8_t kNotOffered = 0x0A;      // link statistics or carrier map from a device that refuses them
constexpr std::uint8_t kNoLink = 0x0B;          // link statistics or carrier map: no link to that peer
} // namespace status

using SimClock = std::chrono::steady_clock;

// What a device did with one request: the confirmation it sends and what follows.
struct Answer {
    mme::Frame frame; // the confirmation, padded to 60 bytes
    std::uint8_t status = 0;
    std::string result;        // for the request log: "ok" or what was wrong
    bool stateChanged = false; // the active images or the key changed: save
    double restartMs = 0;      // above 0: the device restarts once the confirmation is out
    bool firmwareBlockWritten = false;
    bool silent = false; // the device sends nothing (a message it does not offer)
};

// A copy of a device's state, for inspection.
struct DeviceSnapshot {
    MacAddress mac;
    mme::Key nmk{};
    mme::Key dak{};
    bool ledOn = true;
    std::string firmware;
    FirmwareIdentity firmwareImage;
    std::string platform;
    std::string product;
    std::vector<std::uint8_t> configBlock;
    std::uint8_t tei = 0;
    bool up = true;
    bool attached = false;
    std::size_t stagedConfigBytes = 0;
    std::size_t stagedFirmwareBytes = 0;
    bool pairing = false; // its pair button's two minutes are running
};

// One simulated ZRQ406 device: its active configuration block and firmware, the images written but not
// yet committed, and its restart state. It answers the requests addressed to it; routing over the power line,
// faults and timing belong to the network around it. Not thread-safe: the network serialises access.
class SimDevice {
public:
    explicit SimDevice(DeviceDescription description);

    // The settings the device was made from (timing, faults, factory settings, rates).
    const DeviceDescription& description() const { return m_description; }
    // Its own address, kept through upgrades and resets.
    const MacAddress& mac() const { return m_description.mac; }
    // The network membership key in the active configuration block.
    mme::Key nmk() const;
    // The device access key, derived from its device password.
    const mme::Key& dak() const { return m_dak; }
    // The active configuration block, its own length long.
    const std::vector<std::uint8_t>& configBlock() const { return m_config; }
    // The active firmware image.
    const FirmwareIdentity& firmware() const { return m_firmware; }
    // False while it restarts.
    bool isUp(SimClock::time_point now) const { return now >= m_downUntil; }
    // Silent until `until`; whatever was written and not committed is lost.
    void goDown(SimClock::time_point until);
    // The average rates from this device towards `peer` `elapsedMs` after the network was loaded: its own setting
    // (or the last step of its schedule reached), else the peer's mirrored, else derived from the distance of the
    // two when both have a position, else a fixed value in 60..120 made from both addresses. Nothing when the
    // schedule has dropped the link.
    // The rates then drift over the day and dip as the network file says (unchanged at load time).
    std::optional<Rate> rateTowards(const SimDevice& peer, double elapsedMs = 0) const;
    // The rates as described, before drift and dips.
    std::optional<Rate> describedRateTowards(const SimDevice& peer, double elapsedMs = 0) const;
    // The slots and dips of its link to `peer`: its own entry's, else the peer's.
    LinkSetting linkSetting(const SimDevice& peer) const;
    // The carrier map slots of its link to `peer` (0: nothing sent on it yet).
    int slotsTowards(const SimDevice& peer) const;
    // The noise bands that act on what it receives from `transmitter`.
    std::vector<NoiseBand> noiseFrom(const MacAddress& transmitter) const;
    // Its pair button: pressed at `now`, open until `until`; ended once the device has paired or left.
    void pressPairButton(SimClock::time_point now, SimClock::time_point until);
    void endPairing() { m_pairingUntil.reset(); }
    bool pairing(SimClock::time_point now) const { return m_pairingUntil && now < *m_pairingUntil; }
    SimClock::time_point pairButtonPressed() const { return m_pairingFrom; }
    // Takes another network's key (pairing), or a random one (leave).
    void takeNetworkKey(const mme::Key& nmk) { setNmk(nmk); }
    // A copy of its state as of `now`.
    DeviceSnapshot snapshot(SimClock::time_point now) const;

    // Answers to the requests of the catalogue; `request` is the whole received frame, at least as long as the
    // request's fixed fields.
    Answer softwareVersion(const MacAddress& requester, std::span<const std::uint8_t> request) const;
    Answer attributes(const MacAddress& requester, std::span<const std::uint8_t> request) const;
    Answer readModule(const MacAddress& requester, std::span<const std::uint8_t> request) const;
    Answer writeModule(const MacAddress& requester, std::span<const std::uint8_t> request);
    Answer commit(const MacAddress& requester, std::span<const std::uint8_t> request);
    // `members`: the other devices of its network that are up; those whose link has dropped are left out.
    Answer networkInfo(const MacAddress& requester, const std::vector<const SimDevice*>& members,
                       double elapsedMs = 0) const;
    // The local form of the set-key request: the device takes the key itself.
    Answer setLocalKey(const MacAddress& requester, std::span<const std::uint8_t> request);
    // The confirmation of a set-key request with the given status (the remote form is decided by the network).
    Answer keyConfirmation(const MacAddress& requester, std::uint8_t result, std::string text) const;
    // A key forwarded by another device: taken only under this device's own access key.
    bool acceptForwardedKey(const mme::Key& nmk, const mme::Key& dak);
    Answer factoryReset(const MacAddress& requester);
    // The push button's confirmation: status at 17, membership state at 18, no OUI.
    Answer pushButtonAnswer(const MacAddress& requester, std::uint8_t result, std::uint8_t membership,
                            std::string text) const;
    // Restarts with its key, name and settings kept.
    Answer restart(const MacAddress& requester) const;
    // The hosts behind it.
    Answer hosts(const MacAddress& requester) const;
    // A confirmation of `type` carrying a failing `code` (a device that refuses).
    Answer failure(mme::MmType type, const MacAddress& requester, std::uint8_t code) const;

private:
    // Bytes written into a module since the last restart, with a record of which were written.
    struct Staging {
        std::vector<std::uint8_t> bytes;
        std::vector<bool> written;
        std::size_t writtenCount = 0;
        void write(std::size_t offset, std::span<const std::uint8_t> block);
        bool complete(std::size_t length) const;
        void clear();
    };

    mme::Frame confirmation(mme::MmType type, const MacAddress& requester, std::size_t length) const;
    Answer statusAnswer(mme::MmType type, const MacAddress& requester, std::uint8_t code, std::string text) const;
    void setNmk(const mme::Key& nmk);

    DeviceDescription m_description;
    mme::Key m_dak{};
    std::vector<std::uint8_t> m_config;
    FirmwareIdentity m_firmware;
    Staging m_stagedConfig;
    Staging m_stagedFirmware;
    SimClock::time_point m_downUntil{};
    SimClock::time_point m_pairingFrom{};
    std::optional<SimClock::time_point> m_pairingUntil;
};

} // namespace zrq406::sim
