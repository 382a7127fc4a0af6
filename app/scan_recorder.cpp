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

std::string historyRefusedText(CLoadUISetting& texts, const std::filesystem::path& path, HistoryDamage damage) {
    return fillPlaceholders(texts.LoadPageCaption("ZRQ406", "Messages", kLinkHistoryRefused, "Text"),
                            {path.string(), historyDamageText(texts, damage)});
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
    const auto deadline = LinkHistory::Clock::now() + kDeadline;
    std::string notice;
    HistoryResult written;
    HistoryDamage refused = HistoryDamage::None;
    const auto tellMoved = [&](const HistoryOpenResult& opened) {
        if (!opened.movedTo.empty())
            notice = historyMovedAsideText(texts, m_path, opened);
    };
    if (!m_history) {
        auto history = std::make_unique<LinkHistory>(m_path, m_retentionDays);
        history->setDeadline(deadline);
        const HistoryOpenResult opened = history->open();
        tellMoved(opened);
        if (opened) {
            m_history = std::move(history);
        } else {
            written = opened.result;
            refused = opened.damage;
        }
    }
    if (m_history) {
        m_history->setDeadline(deadline);
        written = m_history->append(scan);
        // Damage that shows only while in use: once the quick check confirms it, the file goes aside as one found
        // damaged at the start would.
        if (written.status == HistoryStatus::Damaged) {
            const HistoryOpenResult opened = m_history->setAside(HistoryDamage::Unreadable);
            tellMoved(opened);
            written = opened ? m_history->append(scan) : opened.result;
            if (!opened) {
                refused = opened.damage;
                m_history.reset();
            }
        }
    }
    if (written) {
        m_failureTold = false;
        return notice;
    }
    if (m_failureTold)
        return notice;
    m_failureTold = true;
    std::string failed;
    if (written.status == HistoryStatus::Busy)
        failed =
            fillPlaceholders(texts.LoadPageCaption("ZRQ406", "Messages", kLinkHistoryBusy, "Text"), {m_path.string()});
    else if (written.status == HistoryStatus::Refused)
        failed = historyRefusedText(texts, m_path, refused);
    else
        failed = fillPlaceholders(texts.LoadPageCaption("ZRQ406", "Messages", kLinkHistoryNotWritten, "Text"),
                                  {written.error});
    return notice.empty() ? failed : notice + "\n" + failed;
}

} // namespace zrq406::app
