#include "app/link_history_reader.h"

#include <algorithm>

namespace zrq406::app {

LinkHistoryReader::LinkHistoryReader(std::filesystem::path path) : m_path(std::move(path)) {}

LinkHistoryReader::~LinkHistoryReader() = default;

LinkHistoryView LinkHistoryReader::read(ChartSpan span, std::time_t now, const std::optional<LinkChoice>& keep,
                                        const std::optional<MacAddress>& device) {
    LinkHistoryView view;
    view.chart.end = now;
    view.chart.start = now - spanSeconds(span);
    view.chart.top = 40;
    if (!m_history) {
        std::error_code ec;
        if (m_path.empty() || !std::filesystem::exists(m_path, ec))
            return view;
        auto history = std::make_unique<LinkHistory>(m_path);
        if (const HistoryOpenResult opened = history->open(); !opened) {
            view.result = opened.result;
            return view;
        }
        std::vector<DeviceSighting> devices;
        if (HistoryResult read = history->devices(devices); !read) {
            view.result = read;
            return view;
        }
        for (const DeviceSighting& d : devices)
            m_names[d.mac] = d.name.empty() ? d.mac.text() : d.name;
        m_history = std::move(history);
    }
    view.names = m_names;

    if (!m_period || m_period->first != span || m_period->second != now) {
        std::vector<LinkSeries> series;
        if (HistoryResult read = m_history->links(now - spanSeconds(span), std::nullopt, series); !read) {
            view.result = read;
            return view;
        }
        m_links = summarizeLinks(series);
        m_period.emplace(span, now);
    }
    view.links = m_links;

    const auto first = [&](const auto& matches) {
        const auto found = std::find_if(view.links.begin(), view.links.end(), matches);
        return found != view.links.end() ? static_cast<int>(found - view.links.begin()) : -1;
    };
    if (keep)
        view.chosen = first([&](const LinkSummary& l) { return l.from == keep->from && l.to == keep->to; });
    else if (device)
        view.chosen = first([&](const LinkSummary& l) { return l.from == *device || l.to == *device; });
    if (view.chosen < 0 && !view.links.empty())
        view.chosen = 0;
    if (view.chosen >= 0) {
        const LinkSummary& l = view.links[static_cast<std::size_t>(view.chosen)];
        if (HistoryResult read = buildLinkChart(*m_history, l.from, l.to, span, now, view.chart); !read)
            view.result = read;
    }
    return view;
}

} // namespace zrq406::app
