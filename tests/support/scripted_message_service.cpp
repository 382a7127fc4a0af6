#include "tests/support/scripted_message_service.h"

namespace zrq406::test {

MessageAnswer ScriptedMessageService::show(const Message& message) {
    std::function<void(const Message&)> onShow;
    {
        const std::lock_guard lock(m_mutex);
        onShow = m_onShow;
    }
    if (onShow)
        onShow(message);
    const std::lock_guard lock(m_mutex);
    m_shown.push_back(message);
    if (m_answers.empty())
        return MessageAnswer::Ok;
    const MessageAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void ScriptedMessageService::queueAnswer(MessageAnswer answer) {
    const std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<Message> ScriptedMessageService::shown() const {
    const std::lock_guard lock(m_mutex);
    return m_shown;
}

std::vector<std::string> ScriptedMessageService::texts() const {
    const std::lock_guard lock(m_mutex);
    std::vector<std::string> result;
    result.reserve(m_shown.size());
    for (const Message& message : m_shown)
        result.push_back(message.text);
    return result;
}

void ScriptedMessageService::setOnShow(std::function<void(const Message&)> onShow) {
    const std::lock_guard lock(m_mutex);
    m_onShow = std::move(onShow);
}

void ScriptedMessageService::clear() {
    const std::lock_guard lock(m_mutex);
    m_shown.clear();
}

} // namespace zrq406::test
