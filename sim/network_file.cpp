#include "sim/network_file.h"

#include "mme/key_derivation.h"
#include "platform/atomic_file.h"
#include "platform/hex_text.h"
#include "sim/config_block.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace zrq406::sim {

namespace {

using Json = nlohmann::ordered_json;

constexpr double kMaxMs = 600000;
constexpr std::string_view kDefaultFirmware = "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712";
constexpr std::string_view kDefaultPlatform = "ZRQPLC1";
constexpr std::string_view kDefaultProduct = "TALVERN ZRQ406-CE-12";
constexpr std::string_view kDefaultAdapterDescription = "Simulated Ethernet adapter";

constexpr std::string_view kBuiltInText = R"({
  "settings": {
    "attachedLatencyMs": 1,
    "remoteLatencyMs": 5,
    "flashMsPerBlock": 0.2,
    "restartMs": {"firmwareCommit": 3000, "configCommit": 800, "factoryReset": 5000, "restart": 4000},
    "carrierMapSlots": 2,
    "rateDrift": 20
  },
  "hostAdapters": [
    {"name": "sim0", "mac": "02:5a:52:00:00:01", "description": "Simulated Ethernet adapter",
     "device": "00:b0:52:5a:00:01"}
  ],
  "devices": [
    {
      "mac": "00:b0:52:5a:00:01",
      "password": "KQHT-MVZB-RLPE-XWAD",
      "networkPassword": "HomePlugAV",
      "firmware": "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712",
      "platform": "ZRQPLC1",
      "product": "TALVERN ZRQ406-CE-12",
      "led": true,
      "tei": 1,
      "hosts": [
        {"comment": "this computer", "mac": "ac:ed:5c:4e:21:07", "id": 1},
        {"comment": "the router", "mac": "98:9b:cb:12:34:56", "id": 2}
      ],
      "rates": {
        "00:b0:52:5a:00:02": {"tx": 98, "rx": 94},
        "00:b0:52:5a:00:03": {"tx": 72, "rx": 69, "slots": 3},
        "00:b0:52:5a:00:04": {"tx": 113, "rx": 109,
          "dips": {"firstAfterMin": 60, "everyMin": 180, "forMin": 12, "toPercent": 40}}
      },
      "noise": [
        {"comment": "a phone charger beside it: nothing from :03 gets through there",
         "fromMHz": 10.2, "toMHz": 13.9, "dB": 60, "peers": ["00:b0:52:5a:00:03"]}
      ]
    },
    {
      "mac": "00:b0:52:5a:00:02",
      "password": "GTNE-WHFU-YBSK-QCLM",
      "networkPassword": "HomePlugAV",
      "firmware": "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712",
      "platform": "ZRQPLC1",
      "product": "TALVERN ZRQ406-CE-12",
      "led": true,
      "tei": 2,
      "hosts": [{"mac": "dc:a6:32:0a:1b:2c", "id": 1}],
      "rates": {
        "00:b0:52:5a:00:03": {"tx": 64, "rx": 61},
        "00:b0:52:5a:00:04": {"tx": 88, "rx": 90}
      }
    },
    {
      "comment": "older firmware: always offered an upgrade",
      "mac": "00:b0:52:5a:00:03",
      "password": "PZRA-DJVX-TMQE-HKWB",
      "networkPassword": "HomePlugAV",
      "firmware": "ZRQPLC1-MAC-3-3-3348-00-2400-CE-0511",
      "platform": "ZRQPLC1",
      "product": "TALVERN ZRQ406-CE-12",
      "led": true,
      "tei": 3,
      "hosts": [{"mac": "3c:2a:f4:61:70:88", "id": 1}],
      "rates": {
        "00:b0:52:5a:00:04": {"tx": 60, "rx": 66}
      }
    },
    {
      "comment": "LEDs switched off",
      "mac": "00:b0:52:5a:00:04",
      "password": "WMCY-LBKS-FEUG-NATR",
      "networkPassword": "HomePlugAV",
      "firmware": "ZRQPLC1-MAC-3-3-3348-00-2764-NA-0712",
      "platform": "ZRQPLC1",
      "product": "TALVERN ZRQ406-NA-12",
      "led": false,
      "tei": 4,
      "hosts": [{"mac": "f0:18:98:3d:5e:11", "id": 1}, {"mac": "a4:c3:61:08:9c:40", "id": 2}]
    }
  ]
}
)";

struct RequestNameEntry {
    mme::MmType type;
    std::string_view name;
};
constexpr RequestNameEntry kRequestNames[] = {
    {mme::MmType::SoftwareVersion, "software-version"},
    {mme::MmType::WriteModule, "write-module"},
    {mme::MmType::ReadModule, "read-module"},
    {mme::MmType::CommitModules, "commit"},
    {mme::MmType::NetworkInfo, "network-info"},
    {mme::MmType::SetKey, "set-key"},
    {mme::MmType::Attributes, "attributes"},
    {mme::MmType::FactoryReset, "factory-reset"},
    {mme::MmType::PushButton, "push-button"},
    {mme::MmType::Restart, "restart"},
    {mme::MmType::Hosts, "hosts"},
    {mme::MmType::LinkStatistics, "link-statistics"},
    {mme::MmType::CarrierMap, "carrier-map"},
};

std::string pointerToken(std::string_view key) {
    std::string token;
    for (const char c : key) {
        if (c == '~')
            token += "~0";
        else if (c == '/')
            token += "~1";
        else
            token += c;
    }
    return token;
}

std::string child(const std::string& pointer, std::string_view key) {
    return pointer + "/" + pointerToken(key);
}
std::string child(const std::string& pointer, std::size_t index) {
    return pointer + "/" + std::to_string(index);
}

bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

std::string quote(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// Reads the document into a NetworkDescription; the first problem found is kept, with the pointer of the node.
class SchemaReader {
public:
    explicit SchemaReader(std::string name) : m_name(std::move(name)) {}

    std::optional<NetworkDescription> read(const Json& root);
    const std::string& error() const { return m_error; }

private:
    struct Settings {
        double attachedLatencyMs = 1;
        double remoteLatencyMs = 5;
        double flashMsPerBlock = 0.2;
        RestartTimes restart;
        int carrierMapSlots = 2;
        double rateDriftPercent = 0;
    };

    bool fail(const std::string& pointer, const std::string& what) {
        if (m_error.empty())
            m_error = m_name + ": " + (pointer.empty() ? std::string("top level") : pointer) + ": " + what;
        return false;
    }

    bool object(const Json& node, const std::string& pointer, std::initializer_list<std::string_view> allowed);
    bool text(const Json& node, const char* key, const std::string& pointer, std::string& out, std::size_t maxBytes,
              bool required = false);
    bool mac(const Json& node, const char* key, const std::string& pointer, std::optional<MacAddress>& out);
    bool unsignedNumber(const Json& node, const char* key, const std::string& pointer, std::uint64_t& out,
                        std::uint64_t min, std::uint64_t max);
    bool milliseconds(const Json& node, const char* key, const std::string& pointer, double& out);
    bool boolean(const Json& node, const char* key, const std::string& pointer, bool& out);
    // A link's "schedule": steps {"afterMs", "tx", "rx"} or {"afterMs", "drop": true}, in time order.
    bool rateSchedule(const Json& node, const std::string& pointer, std::vector<RateStep>& out);
    bool key(const Json& node, const std::string& pointer, std::optional<mme::Key>& out);
    bool restartTimes(const Json& node, const char* key, const std::string& pointer, RestartTimes& out);
    bool settings(const Json& node, const std::string& pointer);
    bool number(const Json& node, const char* key, const std::string& pointer, double& out, double min, double max,
                const std::string& what);
    bool dips(const Json& node, const std::string& pointer, RateDips& out);
    // A device's "noise": bands {"fromMHz", "toMHz", "dB", "peers"}.
    bool noise(const Json& node, const std::string& pointer, std::vector<NoiseBand>& out);
    bool device(const Json& node, const std::string& pointer, std::size_t index, DeviceDescription& out,
                bool& latencyGiven);
    bool fault(const Json& node, const std::string& pointer, const DeviceDescription& device, FaultSetting& out);
    bool factory(const Json& node, const std::string& pointer, DeviceDescription& device);
    bool validMacForDevice(const MacAddress& mac, const std::string& pointer);

    std::string m_name;
    std::string m_error;
    Settings m_settings;
};

bool SchemaReader::object(const Json& node, const std::string& pointer,
                          std::initializer_list<std::string_view> allowed) {
    if (!node.is_object())
        return fail(pointer, "must be an object");
    for (auto it = node.begin(); it != node.end(); ++it) {
        if (std::find(allowed.begin(), allowed.end(), it.key()) == allowed.end())
            return fail(child(pointer, it.key()), "unknown field");
        // A comment is kept when the file is saved again; only a text is kept, nothing nested.
        if (it.key() == "comment" && !it->is_string())
            return fail(child(pointer, it.key()), "must be a string");
    }
    return true;
}

bool SchemaReader::text(const Json& node, const char* key, const std::string& pointer, std::string& out,
                        std::size_t maxBytes, bool required) {
    const auto it = node.find(key);
    if (it == node.end())
        return required ? fail(child(pointer, key), "is missing") : true;
    if (!it->is_string())
        return fail(child(pointer, key), "must be a string");
    const auto& value = it->get_ref<const std::string&>();
    if (value.size() > maxBytes)
        return fail(child(pointer, key), "is longer than " + std::to_string(maxBytes) + " bytes");
    if (value.find('\0') != std::string::npos)
        return fail(child(pointer, key), "must not contain a NUL character");
    out = value;
    return true;
}

bool SchemaReader::mac(const Json& node, const char* key, const std::string& pointer, std::optional<MacAddress>& out) {
    const auto it = node.find(key);
    if (it == node.end())
        return true;
    if (!it->is_string())
        return fail(child(pointer, key), "must be a string");
    const auto parsed = MacAddress::parse(it->get_ref<const std::string&>());
    if (!parsed)
        return fail(child(pointer, key), "not a MAC address (" + quote(it->get_ref<const std::string&>()) +
                                             "; six hexadecimal bytes joined by ':')");
    out = parsed;
    return true;
}

bool SchemaReader::unsignedNumber(const Json& node, const char* key, const std::string& pointer, std::uint64_t& out,
                                  std::uint64_t min, std::uint64_t max) {
    const auto it = node.find(key);
    if (it == node.end())
        return true;
    // The parser keeps every non-negative whole number as unsigned; negative ones and fractions are refused.
    if (!it->is_number_unsigned() || it->get<std::uint64_t>() < min || it->get<std::uint64_t>() > max)
        return fail(child(pointer, key),
                    "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    out = it->get<std::uint64_t>();
    return true;
}

bool SchemaReader::milliseconds(const Json& node, const char* key, const std::string& pointer, double& out) {
    const auto it = node.find(key);
    if (it == node.end())
        return true;
    if (!it->is_number() || !(it->get<double>() >= 0) || it->get<double>() > kMaxMs)
        return fail(child(pointer, key), "must be a number of milliseconds from 0 to 600000");
    out = it->get<double>();
    return true;
}

bool SchemaReader::rateSchedule(const Json& node, const std::string& pointer, std::vector<RateStep>& out) {
    out.clear();
    const auto it = node.find("schedule");
    if (it == node.end())
        return true;
    const std::string at = child(pointer, "schedule");
    if (!it->is_array())
        return fail(at, "must be an array of steps");
    for (std::size_t i = 0; i < it->size(); ++i) {
        const Json& step = (*it)[i];
        const std::string stepAt = child(at, i);
        if (!object(step, stepAt, {"afterMs", "tx", "rx", "drop"}))
            return false;
        RateStep parsed;
        if (!step.contains("afterMs"))
            return fail(child(stepAt, "afterMs"), "is missing");
        if (!milliseconds(step, "afterMs", stepAt, parsed.afterMs) || !boolean(step, "drop", stepAt, parsed.drop))
            return false;
        if (!out.empty() && parsed.afterMs < out.back().afterMs)
            return fail(child(stepAt, "afterMs"), "must not be earlier than the step before");
        if (parsed.drop != (!step.contains("tx") && !step.contains("rx")))
            return fail(stepAt, parsed.drop ? "a dropped link has no tx or rx" : "needs both tx and rx, or drop");
        std::uint64_t tx = 0;
        std::uint64_t rx = 0;
        if (!parsed.drop && (!step.contains("tx") || !step.contains("rx")))
            return fail(stepAt, "needs both tx and rx");
        if (!unsignedNumber(step, "tx", stepAt, tx, 0, 255) || !unsignedNumber(step, "rx", stepAt, rx, 0, 255))
            return false;
        parsed.rate = Rate{static_cast<std::uint8_t>(tx), static_cast<std::uint8_t>(rx)};
        out.push_back(parsed);
    }
    return true;
}

bool SchemaReader::boolean(const Json& node, const char* key, const std::string& pointer, bool& out) {
    const auto it = node.find(key);
    if (it == node.end())
        return true;
    if (!it->is_boolean())
        return fail(child(pointer, key), "must be true or false");
    out = it->get<bool>();
    return true;
}

// "networkPassword" (the key derived from it) or "nmk" (32 hexadecimal digits), not both.
bool SchemaReader::key(const Json& node, const std::string& pointer, std::optional<mme::Key>& out) {
    const bool hasPassword = node.contains("networkPassword");
    const bool hasNmk = node.contains("nmk");
    if (hasPassword && hasNmk)
        return fail(child(pointer, "nmk"), "give either networkPassword or nmk, not both");
    if (hasPassword) {
        std::string password;
        if (!text(node, "networkPassword", pointer, password, 64))
            return false;
        if (password.empty())
            return fail(child(pointer, "networkPassword"), "must not be empty");
        out = mme::DeriveNmk(password);
    }
    if (hasNmk) {
        std::string hex;
        if (!text(node, "nmk", pointer, hex, 64))
            return false;
        const auto bytes = parseHexText(hex);
        if (!bytes || bytes->size() != 16)
            return fail(child(pointer, "nmk"), "must be 32 hexadecimal digits");
        mme::Key nmk{};
        std::copy(bytes->begin(), bytes->end(), nmk.begin());
        out = nmk;
    }
    return true;
}

bool SchemaReader::restartTimes(const Json& node, const char* key, const std::string& pointer, RestartTimes& out) {
    const auto it = node.find(key);
    if (it == node.end())
        return true;
    const std::string at = child(pointer, key);
    return object(*it, at, {"firmwareCommit", "configCommit", "factoryReset", "restart"}) &&
           milliseconds(*it, "firmwareCommit", at, out.firmwareCommitMs) &&
           milliseconds(*it, "configCommit", at, out.configCommitMs) &&
           milliseconds(*it, "factoryReset", at, out.factoryResetMs) &&
           milliseconds(*it, "restart", at, out.restartMs);
}

bool SchemaReader::settings(const Json& node, const std::string& pointer) {
    std::uint64_t slots = static_cast<std::uint64_t>(m_settings.carrierMapSlots);
    if (!object(
            node, pointer,
            {"attachedLatencyMs", "remoteLatencyMs", "flashMsPerBlock", "restartMs", "carrierMapSlots", "rateDrift"}) ||
        !milliseconds(node, "attachedLatencyMs", pointer, m_settings.attachedLatencyMs) ||
        !milliseconds(node, "remoteLatencyMs", pointer, m_settings.remoteLatencyMs) ||
        !milliseconds(node, "flashMsPerBlock", pointer, m_settings.flashMsPerBlock) ||
        !restartTimes(node, "restartMs", pointer, m_settings.restart) ||
        !unsignedNumber(node, "carrierMapSlots", pointer, slots, 0, mme::kMaxCarrierMapSlots) ||
        !number(node, "rateDrift", pointer, m_settings.rateDriftPercent, 0, 90, "a percentage"))
        return false;
    m_settings.carrierMapSlots = static_cast<int>(slots);
    return true;
}

bool SchemaReader::number(const Json& node, const char* key, const std::string& pointer, double& out, double min,
                          double max, const std::string& what) {
    const auto it = node.find(key);
    if (it == node.end())
        return true;
    if (!it->is_number() || !(it->get<double>() >= min) || it->get<double>() > max) {
        std::ostringstream range;
        range << "must be " << what << " from " << min << " to " << max;
        return fail(child(pointer, key), range.str());
    }
    out = it->get<double>();
    return true;
}

bool SchemaReader::dips(const Json& node, const std::string& pointer, RateDips& out) {
    return object(node, pointer, {"firstAfterMin", "everyMin", "forMin", "toPercent"}) &&
           number(node, "firstAfterMin", pointer, out.firstAfterMin, 0, 10080, "a number of minutes") &&
           number(node, "everyMin", pointer, out.everyMin, 1, 10080, "a number of minutes") &&
           number(node, "forMin", pointer, out.forMin, 0, 10080, "a number of minutes") &&
           number(node, "toPercent", pointer, out.toPercent, 0, 100, "a percentage");
}

bool SchemaReader::noise(const Json& node, const std::string& pointer, std::vector<NoiseBand>& out) {
    out.clear();
    const auto it = node.find("noise");
    if (it == node.end())
        return true;
    const std::string at = child(pointer, "noise");
    if (!it->is_array())
        return fail(at, "must be an array of bands");
    for (std::size_t i = 0; i < it->size(); ++i) {
        const Json& band = (*it)[i];
        const std::string bandAt = child(at, i);
        if (!object(band, bandAt, {"comment", "fromMHz", "toMHz", "dB", "peers"}))
            return false;
        NoiseBand parsed;
        for (const char* key : {"fromMHz", "toMHz", "dB"}) {
            if (!band.contains(key))
                return fail(child(bandAt, key), "is missing");
        }
        if (!number(band, "fromMHz", bandAt, parsed.fromMHz, 0, 100, "a frequency in MHz") ||
            !number(band, "toMHz", bandAt, parsed.toMHz, 0, 100, "a frequency in MHz") ||
            !number(band, "dB", bandAt, parsed.dB, 0, 200, "a number of dB"))
            return false;
        if (parsed.toMHz < parsed.fromMHz)
            return fail(child(bandAt, "toMHz"), "must not be below fromMHz");
        if (const auto peers = band.find("peers"); peers != band.end()) {
            if (!peers->is_array())
                return fail(child(bandAt, "peers"), "must be an array of MAC addresses");
            for (std::size_t k = 0; k < peers->size(); ++k) {
                const auto parsedMac = (*peers)[k].is_string()
                                           ? MacAddress::parse((*peers)[k].get_ref<const std::string&>())
                                           : std::nullopt;
                if (!parsedMac)
                    return fail(child(child(bandAt, "peers"), k),
                                "not a MAC address (six hexadecimal bytes joined by ':')");
                parsed.peers.push_back(*parsedMac);
            }
        }
        out.push_back(std::move(parsed));
    }
    return true;
}

bool SchemaReader::validMacForDevice(const MacAddress& address, const std::string& pointer) {
    if (address.isZero() || (address.bytes[0] & 0x01) != 0)
        return fail(pointer, "must be an individual address (not zero, group or broadcast)");
    if (address == MacAddress::localDevice())
        return fail(pointer, "00:b0:52:00:00:01 is the local-device address and cannot be a device's own");
    return true;
}

bool SchemaReader::fault(const Json& node, const std::string& pointer, const DeviceDescription& device,
                         FaultSetting& out) {
    if (!node.is_object())
        return fail(pointer, "must be an object");
    std::string kind;
    if (!text(node, "kind", pointer, kind, 32, true))
        return false;
    static const std::pair<std::string_view, FaultKind> kinds[] = {
        {"drop", FaultKind::Drop},           {"delay", FaultKind::Delay},         {"duplicate", FaultKind::Duplicate},
        {"fail", FaultKind::Fail},           {"malformed", FaultKind::Malformed}, {"corrupt", FaultKind::Corrupt},
        {"power-loss", FaultKind::PowerLoss}};
    const auto found = std::find_if(std::begin(kinds), std::end(kinds), [&](const auto& k) { return k.first == kind; });
    if (found == std::end(kinds))
        return fail(child(pointer, "kind"), "unknown fault kind " + quote(kind) +
                                                " (drop, delay, duplicate, fail, malformed, corrupt, power-loss)");
    out.kind = found->second;

    if (out.kind == FaultKind::PowerLoss) {
        if (!object(node, pointer, {"kind", "afterBlock", "downMs"}))
            return false;
        std::uint64_t after = 0;
        if (!node.contains("afterBlock"))
            return fail(child(pointer, "afterBlock"), "is missing");
        if (!unsignedNumber(node, "afterBlock", pointer, after, 1, 4096))
            return false;
        out.afterBlock = static_cast<int>(after);
        if (node.contains("downMs")) {
            double down = 0;
            if (!milliseconds(node, "downMs", pointer, down))
                return false;
            out.downMs = down;
        } else {
            out.downMs = device.restart.firmwareCommitMs;
        }
        return true;
    }

    switch (out.kind) {
    case FaultKind::Delay:
        if (!object(node, pointer, {"kind", "message", "nth", "share", "seed", "ms"}))
            return false;
        if (!node.contains("ms"))
            return fail(child(pointer, "ms"), "is missing");
        if (!milliseconds(node, "ms", pointer, out.delayMs))
            return false;
        break;
    case FaultKind::Fail: {
        if (!object(node, pointer, {"kind", "message", "nth", "share", "seed", "status"}))
            return false;
        std::uint64_t status = 1;
        if (!unsignedNumber(node, "status", pointer, status, 1, 255))
            return false;
        out.status = static_cast<std::uint8_t>(status);
        break;
    }
    case FaultKind::Malformed:
        if (!object(node, pointer, {"kind", "message", "nth", "share", "seed", "form"}))
            return false;
        break;
    case FaultKind::Corrupt: {
        if (!object(node, pointer, {"kind", "message", "nth", "share", "seed", "offset"}))
            return false;
        std::uint64_t offset = 36;
        if (!unsignedNumber(node, "offset", pointer, offset, 0, 1513))
            return false;
        out.offset = static_cast<std::size_t>(offset);
        break;
    }
    default:
        if (!object(node, pointer, {"kind", "message", "nth", "share", "seed"}))
            return false;
        break;
    }

    std::string message = "all";
    if (!text(node, "message", pointer, message, 32))
        return false;
    if (message != "all") {
        out.message = requestFromName(message);
        if (!out.message)
            return fail(
                child(pointer, "message"),
                "unknown request " + quote(message) +
                    " (software-version, write-module, read-module, commit, network-info, set-key, "
                    "attributes, factory-reset, push-button, restart, hosts, link-statistics, carrier-map or all)");
    }

    const bool hasNth = node.contains("nth");
    const bool hasShare = node.contains("share");
    if (hasNth == hasShare)
        return fail(pointer, "give either nth (the n-th request) or share (a random share of them)");
    if (hasNth) {
        std::uint64_t nth = 0;
        if (!unsignedNumber(node, "nth", pointer, nth, 1, 1000000))
            return false;
        out.nth = static_cast<int>(nth);
    } else {
        const auto& share = node["share"];
        if (!share.is_number() || !(share.get<double>() > 0) || share.get<double>() > 1)
            return fail(child(pointer, "share"), "must be a number above 0 and at most 1");
        out.share = share.get<double>();
    }
    std::uint64_t seed = 1;
    if (!unsignedNumber(node, "seed", pointer, seed, 0, 0xFFFFFFFFu))
        return false;
    out.seed = static_cast<std::uint32_t>(seed);

    if (out.kind == FaultKind::Malformed) {
        std::string form = "short";
        if (!text(node, "form", pointer, form, 32))
            return false;
        // Each form but "short" damages one message's answer.
        struct FormName {
            const char* name;
            MalformedForm form;
            std::optional<mme::MmType> message;
        };
        static const FormName kForms[] = {
            {"short", MalformedForm::Short, std::nullopt},
            {"stations", MalformedForm::Stations, mme::MmType::NetworkInfo},
            {"unterminated", MalformedForm::Unterminated, mme::MmType::SoftwareVersion},
            {"repeated-station", MalformedForm::RepeatedStation, mme::MmType::NetworkInfo},
            {"no-checksum", MalformedForm::NoChecksum, mme::MmType::ReadModule},
        };
        const auto known = std::find_if(std::begin(kForms), std::end(kForms),
                                        [&](const FormName& f) { return form == f.name; });
        if (known == std::end(kForms))
            return fail(child(pointer, "form"), "unknown form " + quote(form) +
                                                    " (short, stations, unterminated, repeated-station, no-checksum)");
        if (known->message && out.message != known->message)
            return fail(child(pointer, "form"), quote(form) + " needs \"message\": " +
                                                    quote(std::string(requestName(*known->message))));
        out.form = known->form;
    }
    return true;
}

bool SchemaReader::factory(const Json& node, const std::string& pointer, DeviceDescription& device) {
    if (!object(node, pointer, {"firmware", "networkPassword", "nmk", "led", "product", "configLength"}))
        return false;
    std::optional<mme::Key> nmk;
    std::uint64_t length = device.factory.configLength;
    if (!text(node, "firmware", pointer, device.factory.firmware, fw::kVersionWidth - 1) || !key(node, pointer, nmk) ||
        !boolean(node, "led", pointer, device.factory.ledOn) ||
        !text(node, "product", pointer, device.factory.product, cfg::kProductWidth - 1) ||
        !unsignedNumber(node, "configLength", pointer, length, cfg::kMinLength, cfg::kMaxLength))
        return false;
    if (device.factory.firmware.empty())
        return fail(child(pointer, "firmware"), "must not be empty");
    if (!firmwareImageIdentity(makeFirmwareImage(device.factory.firmware)))
        return fail(child(pointer, "firmware"), "must be printable ASCII (characters 32 to 126)");
    device.factory.firmwareGiven = node.contains("firmware");
    if (nmk)
        device.factory.nmk = *nmk;
    device.factory.configLength = static_cast<std::size_t>(length);
    return true;
}

bool SchemaReader::device(const Json& node, const std::string& pointer, std::size_t index, DeviceDescription& out,
                          bool& latencyGiven) {
    if (!object(node, pointer, {"comment",       "mac",       "password",  "networkPassword",
                                "nmk",           "firmware",  "platform",  "deviceId",
                                "product",       "led",       "tei",       "bridgedMac",
                                "configLength",  "rates",     "latencyMs", "flashMsPerBlock",
                                "restartMs",     "faults",    "factory",   "configBlock",
                                "firmwareImage", "position",  "pairing",   "hosts",
                                "noise",         "linkHealth"}))
        return false;
    std::optional<MacAddress> address;
    if (!node.contains("mac"))
        return fail(child(pointer, "mac"), "is missing");
    if (!mac(node, "mac", pointer, address) || !validMacForDevice(*address, child(pointer, "mac")))
        return false;
    out.mac = *address;

    // A device without a password of its own gets one made from its address, as printed on its label.
    out.password.clear();
    for (std::size_t i = 0; i < 6; ++i) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        if (i != 0 && i % 2 == 0)
            out.password += '-';
        out.password += kDigits[out.mac.bytes[i] >> 4];
        out.password += kDigits[out.mac.bytes[i] & 0x0F];
    }
    if (!text(node, "password", pointer, out.password, 255))
        return false;
    if (out.password.empty())
        return fail(child(pointer, "password"), "must not be empty");

    std::optional<mme::Key> nmk;
    if (!key(node, pointer, nmk))
        return false;

    std::string firmware(kDefaultFirmware);
    out.platform = std::string(kDefaultPlatform);
    std::string product(kDefaultProduct);
    bool ledOn = true;
    std::uint64_t deviceId = 2;
    std::uint64_t tei = index + 1;
    std::uint64_t configLength = kTypicalConfigLength;
    if (!text(node, "firmware", pointer, firmware, fw::kVersionWidth - 1) ||
        !text(node, "platform", pointer, out.platform, mme::kPlatformTextWidth) ||
        !unsignedNumber(node, "deviceId", pointer, deviceId, 0, 255) ||
        !text(node, "product", pointer, product, cfg::kProductWidth - 1) || !boolean(node, "led", pointer, ledOn) ||
        !unsignedNumber(node, "tei", pointer, tei, 1, 254) ||
        !unsignedNumber(node, "configLength", pointer, configLength, cfg::kMinLength, cfg::kMaxLength))
        return false;
    if (firmware.empty())
        return fail(child(pointer, "firmware"), "must not be empty");
    out.deviceId = static_cast<std::uint8_t>(deviceId);
    out.tei = static_cast<std::uint8_t>(tei);
    if (!ledOn && configLength <= cfg::kLedOffsets.back())
        return fail(child(pointer, "led"), "a configuration block of " + std::to_string(configLength) +
                                               " bytes has no room for the LED bytes");

    std::optional<MacAddress> bridged;
    if (!mac(node, "bridgedMac", pointer, bridged))
        return false;
    out.bridgedMac = bridged.value_or(out.mac);

    if (const auto rates = node.find("rates"); rates != node.end()) {
        const std::string at = child(pointer, "rates");
        if (!rates->is_object())
            return fail(at, "must be an object of peer addresses");
        for (auto it = rates->begin(); it != rates->end(); ++it) {
            const std::string peerAt = child(at, it.key());
            const auto peer = MacAddress::parse(it.key());
            if (!peer)
                return fail(peerAt, "not a MAC address (" + quote(it.key()) + ")");
            std::uint64_t tx = 0;
            std::uint64_t rx = 0;
            if (!object(*it, peerAt, {"tx", "rx", "schedule", "slots", "dips"}))
                return false;
            LinkSetting link;
            if (it->contains("slots")) {
                std::uint64_t slots = 0;
                if (!unsignedNumber(*it, "slots", peerAt, slots, 0, mme::kMaxCarrierMapSlots))
                    return false;
                link.slots = static_cast<int>(slots);
            }
            if (const auto d = it->find("dips"); d != it->end()) {
                RateDips parsed;
                if (!dips(*d, child(peerAt, "dips"), parsed))
                    return false;
                link.dips = parsed;
            }
            if (link.slots || link.dips)
                out.links[*peer] = link;
            if (!it->contains("tx") || !it->contains("rx"))
                return fail(peerAt, "needs both tx and rx");
            if (!unsignedNumber(*it, "tx", peerAt, tx, 0, 255) || !unsignedNumber(*it, "rx", peerAt, rx, 0, 255))
                return false;
            out.rates[*peer] = Rate{static_cast<std::uint8_t>(tx), static_cast<std::uint8_t>(rx)};
            if (!rateSchedule(*it, peerAt, out.rateSchedule[*peer]))
                return false;
            if (out.rateSchedule[*peer].empty())
                out.rateSchedule.erase(*peer);
        }
    }
    if (const auto position = node.find("position"); position != node.end()) {
        if (!position->is_number() || !(position->get<double>() >= 0) || position->get<double>() > 10000)
            return fail(child(pointer, "position"), "must be a number of metres from 0 to 10000");
        out.position = position->get<double>();
    } else {
        out.position.reset();
    }

    out.pairing = false;
    if (!boolean(node, "pairing", pointer, out.pairing))
        return false;
    if (!noise(node, pointer, out.noise))
        return false;
    out.linkHealth = LinkHealthOffer::Answer;
    if (node.contains("linkHealth")) {
        std::string offer;
        if (!text(node, "linkHealth", pointer, offer, 16))
            return false;
        if (offer == "answer")
            out.linkHealth = LinkHealthOffer::Answer;
        else if (offer == "silent")
            out.linkHealth = LinkHealthOffer::Silent;
        else if (offer == "refuse")
            out.linkHealth = LinkHealthOffer::Refuse;
        else
            return fail(child(pointer, "linkHealth"), "must be \"answer\", \"silent\" or \"refuse\"");
    }
    out.carrierMapSlots = m_settings.carrierMapSlots;
    out.rateDriftPercent = m_settings.rateDriftPercent;
    out.hosts.clear();
    if (const auto hosts = node.find("hosts"); hosts != node.end()) {
        const std::string at = child(pointer, "hosts");
        if (!hosts->is_array())
            return fail(at, "must be an array of hosts");
        for (std::size_t i = 0; i < hosts->size(); ++i) {
            const Json& host = (*hosts)[i];
            const std::string hostAt = child(at, i);
            if (!object(host, hostAt, {"comment", "mac", "id"}))
                return false;
            std::optional<MacAddress> hostMac;
            std::uint64_t id = i + 1;
            if (!host.contains("mac"))
                return fail(child(hostAt, "mac"), "is missing");
            if (!mac(host, "mac", hostAt, hostMac) || !unsignedNumber(host, "id", hostAt, id, 0, 255))
                return false;
            if (hostMac->isZero() || hostMac->isGroup())
                return fail(child(hostAt, "mac"), "must be an individual address (not zero, group or broadcast)");
            out.hosts.push_back(HostDescription{*hostMac, static_cast<std::uint8_t>(id)});
        }
    }

    latencyGiven = node.contains("latencyMs");
    out.flashMsPerBlock = m_settings.flashMsPerBlock;
    out.restart = m_settings.restart;
    if (!milliseconds(node, "latencyMs", pointer, out.latencyMs) ||
        !milliseconds(node, "flashMsPerBlock", pointer, out.flashMsPerBlock) ||
        !restartTimes(node, "restartMs", pointer, out.restart))
        return false;

    out.faults.clear();
    if (const auto faults = node.find("faults"); faults != node.end()) {
        const std::string at = child(pointer, "faults");
        if (!faults->is_array())
            return fail(at, "must be an array");
        for (std::size_t i = 0; i < faults->size(); ++i) {
            FaultSetting setting;
            if (!fault((*faults)[i], child(at, i), out, setting))
                return false;
            out.faults.push_back(setting);
        }
    }

    out.factory.firmware = firmware;
    out.factory.nmk = mme::kDefaultNmk;
    out.factory.ledOn = true;
    out.factory.product = product;
    out.factory.configLength = static_cast<std::size_t>(configLength);
    if (const auto it = node.find("factory"); it != node.end() && !factory(*it, child(pointer, "factory"), out))
        return false;

    // The active configuration block: the saved one when there is one, else built from the fields.
    const mme::Key dak = mme::DeriveDak(out.password);
    if (const auto it = node.find("configBlock"); it != node.end()) {
        const std::string at = child(pointer, "configBlock");
        if (!it->is_string())
            return fail(at, "must be a string of hexadecimal digits");
        auto bytes = parseHexText(it->get_ref<const std::string&>());
        if (!bytes)
            return fail(at, "must be a string of hexadecimal digits");
        if (bytes->size() < cfg::kMinLength || bytes->size() > cfg::kMaxLength)
            return fail(at, "holds " + std::to_string(bytes->size()) + " bytes; a block has 1024 to 16384");
        if (configBlockLength(*bytes) != bytes->size())
            return fail(at, "its length field says " + std::to_string(configBlockLength(*bytes)) +
                                " bytes but it holds " + std::to_string(bytes->size()));
        if (!configBlockValid(*bytes))
            return fail(at, "its checksum does not match");
        if (node.contains("configLength") && configLength != bytes->size())
            return fail(child(pointer, "configLength"),
                        "differs from the length of configBlock (" + std::to_string(bytes->size()) + " bytes)");
        out.configBlock = std::move(*bytes);
        // Fields written beside the block win where they were edited by hand.
        bool changed = false;
        if (nmk && mme::nmkOf(out.configBlock) != *nmk) {
            mme::setNmk(out.configBlock, *nmk);
            changed = true;
        }
        if (node.contains("product") && mme::productText(out.configBlock) != product) {
            mme::setProductText(out.configBlock, product);
            changed = true;
        }
        if (node.contains("led") && mme::ledsOff(out.configBlock) == ledOn) {
            if (!ledOn && !mme::hasLeds(out.configBlock))
                return fail(child(pointer, "led"), "the configuration block has no room for the LED bytes");
            mme::setLeds(out.configBlock, ledOn);
            changed = true;
        }
        if (changed)
            sealConfigBlock(out.configBlock);
    } else {
        ConfigBlockFields fields;
        fields.mac = out.mac;
        std::copy(dak.begin(), dak.end(), fields.identity.begin());
        fields.hfid = factoryDeviceText(out.mac);
        fields.nmk = nmk.value_or(mme::kDefaultNmk);
        fields.product = product;
        fields.ledOn = ledOn;
        fields.length = static_cast<std::size_t>(configLength);
        out.configBlock = makeConfigBlock(fields);
    }

    if (const auto it = node.find("firmwareImage"); it != node.end()) {
        const std::string at = child(pointer, "firmwareImage");
        std::uint64_t length = 0;
        std::uint64_t checksum = 0;
        if (!object(*it, at, {"length", "checksum"}))
            return false;
        if (!it->contains("length") || !it->contains("checksum"))
            return fail(at, "needs both length and checksum");
        if (!unsignedNumber(*it, "length", at, length, fw::kHeaderLength, fw::kMaxLength) ||
            !unsignedNumber(*it, "checksum", at, checksum, 0, 0xFFFFFFFFu))
            return false;
        out.firmware =
            FirmwareIdentity{firmware, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(checksum)};
    } else {
        // The image carries its version as devices report it: printable ASCII only.
        auto identity = firmwareImageIdentity(makeFirmwareImage(firmware));
        if (!identity)
            return fail(child(pointer, "firmware"), "must be printable ASCII (characters 32 to 126)");
        out.firmware = std::move(*identity);
    }
    return true;
}

std::optional<NetworkDescription> SchemaReader::read(const Json& root) {
    if (!object(root, "", {"comment", "settings", "hostAdapters", "devices"}))
        return std::nullopt;
    if (const auto it = root.find("settings"); it != root.end() && !settings(*it, "/settings"))
        return std::nullopt;

    NetworkDescription description;
    std::vector<bool> latencyGiven;
    if (const auto it = root.find("devices"); it != root.end()) {
        if (!it->is_array())
            return fail("/devices", "must be an array"), std::nullopt;
        std::set<MacAddress> macs;
        std::map<int, std::size_t> teis;
        for (std::size_t i = 0; i < it->size(); ++i) {
            const std::string at = child("/devices", i);
            DeviceDescription device;
            bool given = false;
            if (!this->device((*it)[i], at, i, device, given))
                return std::nullopt;
            if (!macs.insert(device.mac).second)
                return fail(child(at, "mac"), "another device has the address " + device.mac.text()), std::nullopt;
            if (const auto [tei, added] = teis.emplace(device.tei, i); !added)
                return fail(child(at, "tei"), "TEI " + std::to_string(device.tei) + " is already used by " +
                                                  child("/devices", tei->second)),
                       std::nullopt;
            description.devices.push_back(std::move(device));
            latencyGiven.push_back(given);
        }
        for (std::size_t i = 0; i < description.devices.size(); ++i) {
            for (const auto& [peer, rate] : description.devices[i].rates) {
                if (!macs.contains(peer))
                    return fail(child(child(child("/devices", i), "rates"), peer.text()), "no device has this address"),
                           std::nullopt;
            }
        }
    }

    std::set<std::string> names;
    std::set<MacAddress> attached;
    auto findDevice = [&](const MacAddress& address) {
        return std::find_if(description.devices.begin(), description.devices.end(),
                            [&](const DeviceDescription& d) { return d.mac == address; });
    };
    if (const auto it = root.find("hostAdapters"); it != root.end()) {
        if (!it->is_array())
            return fail("/hostAdapters", "must be an array"), std::nullopt;
        for (std::size_t i = 0; i < it->size(); ++i) {
            const std::string at = child("/hostAdapters", i);
            const Json& node = (*it)[i];
            if (!object(node, at, {"comment", "name", "mac", "description", "device", "impostors"}))
                return std::nullopt;
            HostAdapterDescription adapter;
            adapter.description = std::string(kDefaultAdapterDescription);
            std::optional<MacAddress> address;
            if (!text(node, "name", at, adapter.name, 15, true) ||
                !text(node, "description", at, adapter.description, 200) || !mac(node, "mac", at, address) ||
                !mac(node, "device", at, adapter.device))
                return std::nullopt;
            const bool nameOk =
                !adapter.name.empty() && std::all_of(adapter.name.begin(), adapter.name.end(), [](char c) {
                    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
                });
            if (!nameOk)
                return fail(child(at, "name"), "must be 1 to 15 letters, digits, '-', '_' or '.'"), std::nullopt;
            if (!names.insert(adapter.name).second)
                return fail(child(at, "name"), "another host adapter is named " + quote(adapter.name)), std::nullopt;
            adapter.mac =
                address.value_or(MacAddress{{0x02, 0x5A, 0x52, 0x00, 0x00, static_cast<std::uint8_t>(i + 1)}});
            if (address && !validMacForDevice(*address, child(at, "mac")))
                return std::nullopt;
            if (findDevice(adapter.mac) != description.devices.end())
                return fail(child(at, "mac"), "a device has the same address"), std::nullopt;
            if (adapter.device) {
                if (findDevice(*adapter.device) == description.devices.end())
                    return fail(child(at, "device"), "no device has the address " + adapter.device->text()),
                           std::nullopt;
                if (!attached.insert(*adapter.device).second)
                    return fail(child(at, "device"), "the device is already attached to another host adapter"),
                           std::nullopt;
            }
            if (const auto list = node.find("impostors"); list != node.end()) {
                if (!list->is_array())
                    return fail(child(at, "impostors"), "must be an array of MAC addresses"), std::nullopt;
                for (std::size_t k = 0; k < list->size(); ++k) {
                    const std::string where = child(child(at, "impostors"), k);
                    const auto parsed =
                        (*list)[k].is_string() ? MacAddress::parse((*list)[k].get_ref<const std::string&>()) : std::nullopt;
                    if (!parsed)
                        return fail(where, "not a MAC address (six hexadecimal bytes joined by ':')"), std::nullopt;
                    if (!validMacForDevice(*parsed, where))
                        return std::nullopt;
                    if (findDevice(*parsed) != description.devices.end())
                        return fail(where, "a device has the same address"), std::nullopt;
                    adapter.impostors.push_back(*parsed);
                }
            }
            description.hostAdapters.push_back(std::move(adapter));
        }
        for (std::size_t i = 0; i < description.hostAdapters.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (description.hostAdapters[i].mac == description.hostAdapters[j].mac)
                    return fail(child(child("/hostAdapters", i), "mac"), "another host adapter has the same address"),
                           std::nullopt;
            }
        }
    } else {
        HostAdapterDescription adapter;
        adapter.name = "sim0";
        adapter.description = std::string(kDefaultAdapterDescription);
        adapter.mac = MacAddress{{0x02, 0x5A, 0x52, 0x00, 0x00, 0x01}};
        if (!description.devices.empty()) {
            adapter.device = description.devices.front().mac;
            attached.insert(*adapter.device);
        }
        description.hostAdapters.push_back(std::move(adapter));
    }

    for (std::size_t i = 0; i < description.devices.size(); ++i) {
        if (!latencyGiven[i])
            description.devices[i].latencyMs = attached.contains(description.devices[i].mac)
                                                   ? m_settings.attachedLatencyMs
                                                   : m_settings.remoteLatencyMs;
    }
    return description;
}

// "line:column" of a byte position (1-based, as the parser counts it).
std::string lineColumn(std::string_view text, std::size_t byte) {
    const std::size_t end = std::min(byte == 0 ? 0 : byte - 1, text.size());
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    return std::to_string(line) + ":" + std::to_string(end - lineStart + 1);
}

} // namespace

std::string_view requestName(mme::MmType type) {
    for (const auto& entry : kRequestNames) {
        if (entry.type == type)
            return entry.name;
    }
    return "unknown";
}

std::optional<mme::MmType> requestFromName(std::string_view name) {
    for (const auto& entry : kRequestNames) {
        if (entry.name == name)
            return entry.type;
    }
    return std::nullopt;
}

std::optional<NetworkFile> NetworkFile::parse(std::string_view text, const std::string& name, std::string& error) {
    NetworkFile file;
    try {
        file.m_document = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        // The library's message starts with its own position wording; keep only what is wrong.
        std::string what = e.what();
        if (const auto at = what.find(": ", what.find("parse error")); at != std::string::npos)
            what = what.substr(at + 2);
        error = name + ":" + lineColumn(text, e.byte) + ": " + what;
        return std::nullopt;
    } catch (const std::exception& e) {
        error = name + ": " + e.what();
        return std::nullopt;
    }
    SchemaReader reader(name);
    auto description = reader.read(file.m_document);
    if (!description) {
        error = reader.error();
        return std::nullopt;
    }
    file.m_description = std::move(*description);
    return file;
}

std::string_view NetworkFile::builtInText() {
    return kBuiltInText;
}

NetworkFile NetworkFile::builtIn() {
    std::string error;
    auto file = parse(kBuiltInText, "built-in network", error);
    return std::move(*file);
}

void NetworkFile::recordState(std::size_t deviceIndex, const DeviceState& state) {
    auto& devices = m_document["devices"];
    if (!devices.is_array() || deviceIndex >= devices.size() || deviceIndex >= m_description.devices.size())
        return;
    const DeviceDescription& description = m_description.devices[deviceIndex];
    Json& node = devices[deviceIndex];
    node.erase("networkPassword");
    node["nmk"] = hexText(mme::nmkOf(state.configBlock));
    node["firmware"] = state.firmware.version;
    // The block itself is saved below; the product is repeated only where the file could read it back.
    const std::string product = mme::productText(state.configBlock);
    if (product.size() <= 63 && validUtf8(product))
        node["product"] = product;
    else
        node.erase("product");
    node["led"] = !mme::ledsOff(state.configBlock);
    node["configLength"] = state.configBlock.size();
    node["factory"] = Json{{"nmk", hexText(description.factory.nmk)},
                           {"led", description.factory.ledOn},
                           {"product", description.factory.product},
                           {"configLength", description.factory.configLength}};
    if (description.factory.firmwareGiven)
        node["factory"]["firmware"] = description.factory.firmware;
    node["firmwareImage"] = Json{{"length", state.firmware.length}, {"checksum", state.firmware.checksum}};
    node["configBlock"] = hexText(state.configBlock);
    // A pair button whose two minutes ended (paired, left, or run out) is not pressed again on the next load.
    if (!state.pairing)
        node.erase("pairing");
}

std::string NetworkFile::text() const {
    // Texts that came from devices may hold any bytes; they are written replaced rather than thrown on.
    return m_document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string NetworkFile::mergedText(std::string_view onDisk, const std::set<std::size_t>& ownDevices) const {
    Json disk = Json::parse(onDisk, nullptr, false);
    const auto mine = m_document.find("devices");
    if (disk.is_discarded() || !disk.is_object() || mine == m_document.end() || !mine->is_array())
        return text();
    const auto theirs = disk.find("devices");
    if (theirs == disk.end() || !theirs->is_array() || theirs->size() != mine->size())
        return text();
    auto macOf = [](const Json& device) {
        const auto it = device.is_object() ? device.find("mac") : device.end();
        return it != device.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    for (std::size_t i = 0; i < mine->size(); ++i)
        if (macOf((*theirs)[i]) != macOf((*mine)[i]))
            return text();
    for (const std::size_t i : ownDevices)
        if (i < mine->size())
            (*theirs)[i] = (*mine)[i];
    return disk.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool NetworkFile::save(const std::filesystem::path& path, std::string& error) const {
    return writeText(path, text(), error);
}

bool NetworkFile::writeText(const std::filesystem::path& path, std::string_view content, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(path.has_parent_path() ? path.parent_path() : std::filesystem::path("."), ec);
    // The file holds device passwords.
    auto written = writeFileAtomically(path, content, FileAccess::OwnerOnly);
    if (!written)
        error = std::move(written.error);
    return written.ok;
}

} // namespace zrq406::sim
