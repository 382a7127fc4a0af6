#include "app/link_health.h"
#include "app/scan_cycle.h"
#include "cli/cli_support.h"
#include "cli/commands.h"
#include "platform/display_text.h"
#include "uitext/placeholders.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace zrq406::cli {

using nlohmann::json;

namespace {

json optionalJson(const std::optional<double>& value) {
    return value ? json(*value) : json(nullptr);
}

json sentJson(const std::optional<mme::TransmitCounters>& c) {
    if (!c)
        return nullptr;
    return {{"mpdusAcknowledged", c->mpdusAcknowledged}, {"mpdusCollided", c->mpdusCollided},
            {"mpdusFailed", c->mpdusFailed},             {"pbsPassed", c->pbsPassed},
            {"pbsFailed", c->pbsFailed}};
}

json receivedJson(const std::optional<mme::ReceiveCounters>& c) {
    if (!c)
        return nullptr;
    json intervals = json::array();
    for (const mme::RateInterval& i : c->intervals)
        intervals.push_back({{"rate", i.rate},
                             {"pbsPassed", i.pbsPassed},
                             {"pbsFailed", i.pbsFailed},
                             {"bitErrorsPassed", i.bitErrorsPassed},
                             {"bitErrorsFailed", i.bitErrorsFailed}});
    return {{"mpdusAcknowledged", c->mpdusAcknowledged},
            {"mpdusFailed", c->mpdusFailed},
            {"pbsPassed", c->pbsPassed},
            {"pbsFailed", c->pbsFailed},
            {"bitErrorsPassed", c->bitErrorsPassed},
            {"bitErrorsFailed", c->bitErrorsFailed},
            {"intervals", intervals}};
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A figure of the table: the rate of loss, "-" without traffic, "unknown" when nobody counted.
std::string figureText(const app::LinkDirectionHealth& link, const std::optional<double>& fraction) {
    if (fraction)
        return app::percentText(fraction);
    return link.counted() ? "-" : "unknown";
}

json macList(const std::vector<MacAddress>& macs) {
    json list = json::array();
    for (const MacAddress& mac : macs)
        list.push_back(mac.text());
    return list;
}

} // namespace

int runHealth(const GlobalOptions& options, const std::string& macText, Output& io) {
    std::optional<MacAddress> device;
    if (!macText.empty()) {
        device = parseMacArgument(macText, io);
        if (!device)
            return kBadInput;
    }
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    if (auto code = openAndScanLinks(tool, options, io))
        return *code;
    const app::HealthTable health = app::readLinkHealth(session, device);
    const auto& stations = health.rates.stations;
    if (device && std::find(stations.begin(), stations.end(), *device) == stations.end()) {
        io.err << "zrq406: " << device->text() << " is not a station of the network\n";
        return kRefused;
    }
    const std::uint32_t fieldMax = health.rates.rateFieldMax;
    if (options.json) {
        json links = json::array();
        for (const app::LinkDirectionHealth& l : health.links) {
            const double fec = l.fecBitErrorRate().value_or(-1);
            links.push_back({{"from", l.from.text()},
                             {"fromName", health.label(l.from)},
                             {"to", l.to.text()},
                             {"toName", health.label(l.to)},
                             {"rate", l.rateKnown ? json(l.rate) : json(nullptr)},
                             {"pbErrorRate", optionalJson(l.pbErrorRate())},
                             {"mpduFailureRate", optionalJson(l.mpduFailureRate())},
                             {"collisionRate", optionalJson(l.collisionRate())},
                             {"fecBitErrorPercent", fec < 0 ? json(nullptr) : json(fec)},
                             {"sent", sentJson(l.sent)},
                             {"received", receivedJson(l.received)}});
        }
        printJson(io.out, json{{"unit", "Mbit/s"},
                               {"rateFieldMax", fieldMax},
                               {"links", links},
                               {"silent", macList(health.silent)},
                               {"withoutStatistics", macList(health.withoutStatistics)}});
        return kDone;
    }
    std::vector<std::vector<std::string>> rows;
    for (const app::LinkDirectionHealth& l : health.links) {
        const auto fec = l.fecBitErrorRate();
        rows.push_back({health.label(l.from), health.label(l.to),
                        l.rateKnown ? app::rateText(l.rate, fieldMax) : "unknown", figureText(l, l.pbErrorRate()),
                        figureText(l, l.mpduFailureRate()), figureText(l, l.collisionRate()),
                        fec ? fixed(*fec, 4) + " %" : figureText(l, fec)});
    }
    printTable(io.out,
               {"From", "To", "Rate (Mbit/s)", "PB errors", "MPDU failures", "Collisions", "FEC bit errors"}, rows);
    io.out << "\nPB errors: the share of physical blocks that had to be sent again. FEC bit errors: the bits that "
              "error correction had to mend.\n";
    const app::HealthWords words;
    for (const MacAddress& mac : health.withoutStatistics)
        io.out << fillPlaceholders(words.noStatistics, {terminalText(health.label(mac)) + " (" + mac.text() + ")"})
               << '\n';
    for (const MacAddress& mac : health.silent)
        io.out << fillPlaceholders(words.silent, {terminalText(health.label(mac)) + " (" + mac.text() + ")"}) << '\n';
    return kDone;
}

int runCarriers(const GlobalOptions& options, const CarriersRequest& request, Output& io) {
    const auto receiver = parseMacArgument(request.device, io);
    if (!receiver)
        return kBadInput;
    const auto transmitter = parseMacArgument(request.peer, io);
    if (!transmitter)
        return kBadInput;
    if (*receiver == *transmitter) {
        io.err << "zrq406: a device has no link to itself: name two devices\n";
        return kBadInput;
    }
    if (request.slot && (*request.slot < 0 || *request.slot >= mme::kMaxCarrierMapSlots)) {
        io.err << "zrq406: --slot takes 0 to " << mme::kMaxCarrierMapSlots - 1 << '\n';
        return kBadInput;
    }
    Tool tool(options, io.err);
    app::Session& session = tool.session;
    if (auto code = openWithDevice(session, options, io))
        return *code;
    // A device off the network answers nothing, and a refusal cannot tell "no such link" from "not offered": both
    // ends are looked up among the stations first, so that neither is taken for a device without carrier maps.
    const mme::LocalNetworkRecord& local = session.discoveryResult().local;
    auto onNetwork = [&](const MacAddress& mac) {
        if (mac == local.mac)
            return true;
        for (std::uint32_t i = 0; i < local.stationCount && i < mme::kMaxStations; ++i)
            if (local.stations[i].mac == mac)
                return true;
        return false;
    };
    for (const MacAddress& mac : {*receiver, *transmitter}) {
        if (!onNetwork(mac)) {
            io.err << "zrq406: " << mac.text() << " is not a station of the network\n";
            return kRefused;
        }
    }
    app::CarrierMap map;
    const app::CarrierMapOutcome outcome =
        app::readCarrierMap(session, *receiver, *transmitter, request.slot, map);
    const app::HealthWords words;
    switch (outcome) {
    case app::CarrierMapOutcome::Read:
        break;
    case app::CarrierMapOutcome::NoMapYet:
        if (options.json) {
            printJson(io.out, json{{"receiver", receiver->text()},
                                   {"transmitter", transmitter->text()},
                                   {"slots", 0},
                                   {"carriers", json::array()}});
            return kDone;
        }
        io.out << receiver->text() << " has no carrier map of the frames from " << transmitter->text()
               << " yet: nothing has been sent on that link\n";
        return kDone;
    case app::CarrierMapOutcome::NoSuchSlot:
        io.err << "zrq406: " << receiver->text() << " has " << int{map.slots} << " slot" << (map.slots == 1 ? "" : "s")
               << " for this link; --slot takes 0 to " << map.slots - 1 << '\n';
        return kBadInput;
    case app::CarrierMapOutcome::NotOffered:
        io.err << "zrq406: " << fillPlaceholders(words.noCarrierMap, {receiver->text()}) << '\n';
        return kRefused;
    case app::CarrierMapOutcome::NoAnswer:
        io.err << "zrq406: " << receiver->text() << " did not answer with its carrier map of the link from "
               << transmitter->text() << '\n';
        return kRefused;
    }

    const std::vector<double> snr = app::carrierSnrDb(map, request.slot);
    const app::CarrierSummary summary = app::summarizeCarriers(map, request.slot);
    std::vector<int> slots;
    for (const app::CarrierSlot& s : map.read)
        slots.push_back(s.slot);
    auto bitsOf = [&](std::size_t carrier) {
        std::vector<int> bits;
        for (const app::CarrierSlot& s : map.read)
            bits.push_back(mme::bitsOfModulation(s.modulation[carrier]));
        return bits;
    };

    if (options.json) {
        json carriers = json::array();
        for (std::size_t k = 0; k < mme::kCarriers; ++k)
            carriers.push_back({{"index", k},
                                {"mhz", std::round(app::carrierFrequencyMhz(k) * 1000.0) / 1000.0},
                                {"bits", bitsOf(k)},
                                {"snrDb", snr[k]}});
        json bands = json::array();
        for (const app::CarrierBand& b : summary.bands)
            bands.push_back({{"fromMhz", std::round(b.fromMhz * 10) / 10},
                             {"toMhz", std::round(b.toMhz * 10) / 10},
                             {"carries", b.none ? "none" : "little"},
                             {"text", app::bandText(b, words)}});
        printJson(io.out, json{{"receiver", receiver->text()},
                               {"transmitter", transmitter->text()},
                               {"slots", map.slots},
                               {"slotsShown", slots},
                               {"summary",
                                {{"carriers", summary.carriers},
                                 {"active", summary.active},
                                 {"meanBits", summary.meanBits},
                                 {"rateMbps", summary.rateMbps},
                                 {"bands", bands}}},
                               {"carriers", carriers}});
        return kDone;
    }
    if (request.csv) {
        io.out << "carrier,mhz";
        for (int s : slots)
            io.out << ",bits_slot" << s;
        io.out << ",snr_db\r\n";
        for (std::size_t k = 0; k < mme::kCarriers; ++k) {
            io.out << k << ',' << fixed(app::carrierFrequencyMhz(k), 3);
            for (int b : bitsOf(k))
                io.out << ',' << b;
            io.out << ',' << fixed(snr[k], 1) << "\r\n";
        }
        return kDone;
    }
    std::vector<std::string> headings{"Carrier", "MHz"};
    for (int s : slots)
        headings.push_back("Slot " + std::to_string(s));
    headings.push_back("SNR (dB)");
    std::vector<std::vector<std::string>> rows;
    for (std::size_t k = 0; k < mme::kCarriers; ++k) {
        std::vector<std::string> row{std::to_string(k), fixed(app::carrierFrequencyMhz(k), 3)};
        for (int b : bitsOf(k))
            row.push_back(std::to_string(b));
        row.push_back(fixed(snr[k], 1));
        rows.push_back(std::move(row));
    }
    printTable(io.out, headings, rows);
    io.out << "\nCarrier map of the frames from " << transmitter->text() << " as " << receiver->text()
           << " receives them: " << int{map.slots} << " slot" << (map.slots == 1 ? "" : "s")
           << (request.slot ? ", slot " + std::to_string(*request.slot) + " shown" : std::string(", mean of them"))
           << "\n";
    io.out << "Active carriers: " << summary.active << " of " << summary.carriers << "\n";
    io.out << "Mean bits per active carrier: " << fixed(summary.meanBits, 1) << "\n";
    io.out << "The carriers allow about " << fixed(summary.rateMbps, 0) << " Mbit/s\n";
    if (summary.bands.empty())
        io.out << "Every band carries data\n";
    for (const app::CarrierBand& b : summary.bands)
        io.out << app::bandText(b, words) << "\n";
    return kDone;
}

} // namespace zrq406::cli
