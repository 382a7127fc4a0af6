#include "app/health_texts.h"

#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"

#include <algorithm>
#include <cstdio>

namespace zrq406::app {

namespace {

std::string text(CLoadUISetting& texts, const char* node, const char* field = "Text") {
    return texts.LoadPageCaption("ZRQ406", "LinkDetails", node, field);
}

std::string withComma(std::string text, bool german) {
    if (german)
        std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

} // namespace

HealthTexts HealthTexts::load(CLoadUISetting& texts, bool german) {
    HealthTexts t;
    t.heading = text(texts, "Health");
    t.columns = {texts.LoadPageCaption("ZRQ406", "LinkMap", "From"), texts.LoadPageCaption("ZRQ406", "LinkMap", "To")};
    for (const char* node : {"Rate", "PbErrorRate", "MpduFailureRate", "Collisions", "FecBitErrorRate"})
        t.columns.push_back(text(texts, node, "Text2"));
    t.unknown = text(texts, "Unknown");
    t.weakest = text(texts, "Weakest");
    t.summary = text(texts, "Summary");
    t.noBands = text(texts, "NoBands");
    t.noMap = text(texts, "NoMap");
    t.noCarrierMap = text(texts, "NoCarrierMap");
    t.noAnswer = text(texts, "NoAnswer");
    t.words.noData = text(texts, "Band");
    t.words.littleData = text(texts, "Band", "Text2");
    t.words.noStatistics = text(texts, "NoStatistics");
    t.words.silent = text(texts, "Silent");
    t.german = german;
    return t;
}

std::string decimalText(double value, int decimals, bool german) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return withComma(buffer, german);
}

ListRows healthRows(const HealthTable& table, const HealthTexts& texts) {
    const auto percent = [&](const std::optional<double>& fraction) {
        return fraction ? withComma(percentText(fraction), texts.german) : texts.unknown;
    };
    ListRows rows;
    for (const LinkDirectionHealth& link : table.links) {
        rows.push_back({table.label(link.from), table.label(link.to),
                        link.rateKnown ? rateText(link.rate, table.rates.rateFieldMax) : texts.unknown,
                        percent(link.pbErrorRate()), percent(link.mpduFailureRate()), percent(link.collisionRate()),
                        percent(link.fecBitErrorShare())});
    }
    return rows;
}

std::string carrierSummaryText(const CarrierMap& map, CarrierMapOutcome outcome, const std::string& receiverLabel,
                               const HealthTexts& texts, std::optional<int> slot) {
    if (outcome == CarrierMapOutcome::NoMapYet)
        return texts.noMap;
    if (outcome == CarrierMapOutcome::NotOffered)
        return fillPlaceholders(texts.noCarrierMap, {receiverLabel});
    if (outcome != CarrierMapOutcome::Read || map.read.empty())
        return texts.noAnswer;
    const CarrierSummary summary = summarizeCarriers(map, slot);
    std::string out = fillPlaceholders(texts.summary, {std::to_string(summary.active), std::to_string(summary.carriers),
                                                       decimalText(summary.meanBits, 1, texts.german),
                                                       decimalText(summary.rateMbps, 0, texts.german)});
    if (summary.bands.empty())
        out += "\n" + texts.noBands;
    for (const CarrierBand& band : summary.bands)
        out += "\n" + withComma(bandText(band, texts.words), texts.german) + ".";
    return out;
}

std::vector<std::string> healthNotes(const HealthTable& table, const HealthTexts& texts) {
    std::vector<std::string> notes;
    for (const MacAddress& device : table.withoutStatistics)
        notes.push_back(fillPlaceholders(texts.words.noStatistics, {table.label(device)}));
    for (const MacAddress& device : table.silent)
        notes.push_back(fillPlaceholders(texts.words.silent, {table.label(device)}));
    return notes;
}

} // namespace zrq406::app
