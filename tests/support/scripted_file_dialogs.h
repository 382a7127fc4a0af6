#pragma once

#include "gui/file_dialogs.h"

#include <deque>
#include <optional>
#include <string>

namespace zrq406::test {

// File dialogs for tests: each answer is the next one queued (nothing: the user cancelled).
class ScriptedFileDialogs : public FileDialogs {
public:
    void queueAnswer(std::optional<std::string> path) { m_answers.push_back(std::move(path)); }
    // The filter of the last dialog.
    const std::string& lastFilter() const { return m_lastFilter; }

    std::optional<std::string> openFile(QWidget*, const std::string& filter) override { return next(filter); }
    std::optional<std::string> saveFile(QWidget*, const std::string& filter, const std::string&) override {
        return next(filter);
    }

private:
    std::optional<std::string> next(const std::string& filter) {
        m_lastFilter = filter;
        if (m_answers.empty())
            return std::nullopt;
        auto answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    std::deque<std::optional<std::string>> m_answers;
    std::string m_lastFilter;
};

} // namespace zrq406::test
