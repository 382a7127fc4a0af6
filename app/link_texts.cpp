#include "app/link_texts.h"

#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"

namespace zrq406::app {

namespace {

std::string text(CLoadUISetting& texts, const char* node) {
    return texts.LoadPageCaption("ZRQ406", "LinkMap", node);
}

std::string rateCell(const LinkRow& row, std::uint32_t rate, const LinkTable& table, const LinkTexts& texts) {
    if (!row.known)
        return texts.unknown;
    if (!row.listed)
        return texts.noLink;
    return rateText(rate, table.rateFieldMax);
}

} // namespace

LinkTexts LinkTexts::load(CLoadUISetting& texts) {
    LinkTexts t;
    t.caption = text(texts, "Text");
    t.heading = text(texts, "Heading");
    for (const char* column : {"From", "To", "Transmit", "Receive", "Weaker"})
        t.columns.push_back(text(texts, column));
    t.unknown = text(texts, "Unknown");
    t.noLink = text(texts, "NoLink");
    t.note = text(texts, "Note");
    t.local = text(texts, "Local");
    t.deviceName = text(texts, "DeviceName");
    t.linkName = text(texts, "LinkName");
    t.linkUnknown = text(texts, "LinkUnknown");
    t.empty = text(texts, "Empty");
    t.hosts = text(texts, "Hosts");
    t.noHosts = text(texts, "NoHosts");
    t.viewMap = text(texts, "ViewMap");
    t.viewMatrix = text(texts, "ViewMatrix");
    t.matrix = text(texts, "Matrix");
    t.choose = text(texts, "Choose");
    return t;
}

ListRows linkRows(const LinkTable& table, const LinkTexts& texts) {
    ListRows rows;
    for (const LinkRow& row : sortedWeakestFirst(table.rows)) {
        rows.push_back({table.label(row.from), table.label(row.to), rateCell(row, row.tx, table, texts),
                        rateCell(row, row.rx, table, texts), rateCell(row, weakerRate(row), table, texts)});
    }
    return rows;
}

std::string linkAccessibleName(const LinkTable& table, const LinkRow& row, const LinkTexts& texts) {
    const std::string from = table.label(row.from);
    const std::string to = table.label(row.to);
    if (!row.known)
        return fillPlaceholders(texts.linkUnknown, {from, to});
    return fillPlaceholders(texts.linkName,
                            {from, to, rateText(row.tx, table.rateFieldMax), rateText(row.rx, table.rateFieldMax)});
}

std::string deviceAccessibleName(const LinkTable& table, std::size_t station, const LinkTexts& texts) {
    if (station >= table.stations.size())
        return {};
    std::string name = table.label(table.stations[station]);
    if (station == 0)
        name += " (" + texts.local + ")";
    return fillPlaceholders(texts.deviceName, {name, table.stations[station].text()});
}

} // namespace zrq406::app
