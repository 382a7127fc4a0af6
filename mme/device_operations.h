#pragma once

#include "mme/config_block.h"
#include "mme/confirmations.h"
#include "mme/exchange.h"
#include "mme/frame_builder.h"
#include "mme/key_derivation.h"
#include "mme/progress.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zrq406::mme {

constexpr std::size_t kConfigBlockMax = cfg::kMaxLength;
constexpr std::size_t kConfigBlockMin = cfg::kMinLength;
constexpr std::size_t kQosOffset = 524;
constexpr std::size_t kQosLength = 484;

using ConfigBlock = std::array<std::uint8_t, kConfigBlockMax>;

enum class KeyResult {
    Done,
    PasswordLength,    // the network password is not 8 to 64 characters; nothing was sent
    PasswordCharacter, // it holds a character outside 33..126; nothing was sent
    Refused            // no confirmation, or a failing status
};

enum class ReadResult { Done, NoAnswer, Refused };

// Why the last configuration block read failed (None after a read that passed every check).
enum class BlockProblem {
    None,
    NoAnswer,      // a block was not answered in time
    Refused,       // the device answered with a failing status
    AnswerDamaged, // an answer's bytes do not match the checksum that the device sent with them
    BadLength,     // the block announces a length that no configuration block has
    BadChecksum,   // the block's own checksum does not match its bytes
    WrongDevice    // the block names another device than the one asked
};
// The problem in plain words ("its checksum does not match its bytes").
const char* blockProblemText(BlockProblem problem);

// The operations that change devices. Each runs one or more exchanges on the current adapter, which the
// caller chose, and returns whether the device confirmed them.
class DeviceOperations {
public:
    DeviceOperations(Exchange& exchange, Progress& progress);

    // Validates the network password, derives its NMK (and the remote device's DAK) and sends the key to the
    // local device, which applies it itself or forwards it to `remote`.
    KeyResult SetNetworkKey(std::string_view networkPassword, bool remoteFlag, const MacAddress& remote,
                            std::string_view devicePassword);
    // Sends `nmk` to `remote` under the DAK of its device password.
    bool SetRemoteKey(std::string_view devicePassword, const Key& nmk, const MacAddress& remote);
    // Sends `nmk` (already derived) to the local device, or forwarded to `remote` under `dak`.
    bool SetKey(const Key& nmk, const MacAddress* remote, const Key* dak);
    bool FactoryReset(const MacAddress& device);
    // The push button of `device`: its answer (status and membership state), nothing when none came.
    std::optional<PushButtonConfirm> PushButton(const MacAddress& device, PushButtonAction action);
    // Asks the device to restart with its key, name and settings; true when it confirmed.
    bool Restart(const MacAddress& device);
    // The hosts behind the device, nothing when no sound answer came.
    std::optional<HostsConfirm> Hosts(const MacAddress& device);
    // Reads the device's whole configuration block and checks it before anyone uses, saves or writes it back: each
    // answer against the checksum sent with it, the announced length (1024..16384), the block's own checksum and
    // the MAC it holds against the device asked. A damaged read is read again, up to kBlockReadTries times in all;
    // lastBlockProblem() then tells why it failed.
    bool ReadConfigBlock(const MacAddress& device, ConfigBlock& block);
    // Reads only the first `upTo` bytes of the configuration block (at least the first 1024-byte block), checked
    // as above but for the block's own checksum, which only the whole block can show.
    bool ReadConfigBlockPrefix(const MacAddress& device, ConfigBlock& block, std::size_t upTo);
    BlockProblem lastBlockProblem() const { return m_blockProblem; }
    static constexpr int kBlockReadTries = 3;
    // Reads the first 1024-byte block and the blocks that hold the LED bytes: all that a scan shows.
    bool ReadConfigFields(const MacAddress& device, ConfigBlock& block);
    // The reads of ReadConfigBlockPrefix (up to `upTo`), and with `leds` those of ReadConfigFields, of every device
    // at once: one request per device in flight, checked and read again as for one device. Each device's block and
    // problem (None when read) stand at its index.
    std::vector<BlockProblem> ReadConfigFieldsOf(std::span<const MacAddress> devices, std::span<ConfigBlock> blocks,
                                                 std::size_t upTo = kMaxBlock, bool leds = true);
    // Writes the configuration block in 1024-byte blocks, then commits it (with the firmware image when
    // `commitAll`). With `commitAll`, progress = (base + bytes written) / total after each block.
    bool WriteConfigBlock(bool commitAll, double progressBase, double progressTotal, const MacAddress& device,
                          std::span<std::uint8_t> image);
    // Writes a module image in 1024-byte blocks without committing; progress as above.
    bool WriteModule(std::uint8_t module, double progressBase, double progressTotal, const MacAddress& device,
                     std::span<const std::uint8_t> image);
    bool Commit(const MacAddress& device, std::uint8_t moduleSet);
    // True when the last WriteConfigBlock failed at its commit alone: every block was confirmed but no answer to the
    // commit came, so the device may have carried it out all the same.
    bool lastCommitUnconfirmed() const { return m_commitUnconfirmed; }
    // The QoS settings (484 bytes at offset 524): Refused for a failing status, which the QoS page reports,
    // NoAnswer when no confirmation came, or none whose bytes matched their checksum in kBlockReadTries tries.
    ReadResult ReadQosBlock(const MacAddress& device, std::array<std::uint8_t, kQosLength>& out);

    Exchange& exchange() { return m_exchange; }
    Progress& progress() { return m_progress; }

private:
    // The status of a commit's confirmation, nothing when none came.
    std::optional<std::uint8_t> commitStatus(const MacAddress& device, std::uint8_t moduleSet);
    class BlockReader;
    // Checks a read answer of `length` bytes and copies them to `out`.
    static BlockProblem checkBlockAnswer(const std::optional<Frame>& frame, std::uint16_t length, std::uint8_t* out);
    // Runs the readers together until each has its block or its problem.
    std::vector<BlockProblem> runReaders(std::vector<BlockReader>& readers);
    // The MAC that the block read from `device` must hold.
    MacAddress identityOf(const MacAddress& device);
    bool statusExchange(const Frame& request, MmType type, const ExchangeTiming& timing);
    // The host MAC of the current adapter (all zero when none is current, in which case the exchange fails).
    MacAddress hostMac();

    Exchange& m_exchange;
    Progress& m_progress;
    MacAddress m_destination;
    BlockProblem m_blockProblem = BlockProblem::None;
    bool m_commitUnconfirmed = false;
};

} // namespace zrq406::mme
