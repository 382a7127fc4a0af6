#include "app/scan_recorder.h"

#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"

namespace zrq406::app {

std::string historyDamageText(CLoadUISetting& texts, HistoryDamage damage) {
    const char* field = "Text";
    switch (damage) {
    case HistoryDamage::Truncated:
        field = "Text2";
        break;
    case HistoryDamage::NewerSchema:
        field = "Text3";
        break;
    case HistoryDamage::ForeignTables:
        field = "Text4";
        break;
    case HistoryDamage::Unreadable:
        field = "Text5";
        break;
    case HistoryDamage::None:
    case HistoryDamage::NotDatabase:
        break;
    }
    return texts.LoadPageCaption("ZRQ406", "Messages", kLinkHistoryDamage, field);
}

std::string historyMovedAsideText(CLoadUISetting& texts, const std::filesystem::path& path,
                                  const HistoryOpenResult& opened) {
    return fillPlaceholders(texts.LoadPageCaption("ZRQ406", "Messages", kLinkHistoryMovedAside, "Text"),
                            {path.string(), historyDamageText(texts, opened.damage), opened.movedTo.string()});
}

ScanRecorder::ScanRecorder(std::filesystem::path path, int retentionDays)
    : m_path(std::move(path)), m_retentionDays(retentionDays) {}

ScanRecorder::~ScanRecorder() = default;

void ScanRecorder::setPath(std::filesystem::path path) {
    m_path = std::move(path);
    m_history.reset();
    m_failureTold = false;
}

std::string ScanRecorder::record(const HistoryScan& scan, CLoadUISetting& texts) {
    if (m_path.empty())
        return {};
    std::string notice;
    HistoryResult written;
    const auto tellMoved = [&](const HistoryOpenResult& opened) {
        if (!opened.movedTo.empty())
            notice = historyMovedAsideText(texts, m_path, opened);
    };
    if (!m_history) {
        auto history = std::make_unique<LinkHistory>(m_path, m_retentionDays);
        const HistoryOpenResult opened = history->open();
        tellMoved(opened);
        if (opened)
            m_history = std::move(history);
        else
            written = opened.result;
    }
    if (m_history) {
        written = m_history->append(scan);
        // Damage that shows only while in use: the file goes aside as one found damaged at the start would.
        if (written.status == HistoryStatus::Damaged) {
            const HistoryOpenResult opened = m_history->setAside(HistoryDamage::Unreadable);
            tellMoved(opened);
            written = opened ? m_history->append(scan) : opened.result;
            if (!opened)
                m_history.reset();
        }
    }
    if (written) {
        m_failureTold = false;
        return notice;
    }
    if (m_failureTold)
        return notice;
    m_failureTold = true;
    const std::string failed =
        fillPlaceholders(texts.LoadPageCaption("ZRQ406", "Messages", kLinkHistoryNotWritten, "Text"), {written.error});
    return notice.empty() ? failed : notice + "\n" + failed;
}

} // namespace zrq406::app
