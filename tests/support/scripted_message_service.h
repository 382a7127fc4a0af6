#pragma once

#include "platform/message_service.h"

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zrq406::test {

// A message service for tests: records every message shown and answers from a script (Ok when the script is
// empty), so that no test ever waits on a box.
class ScriptedMessageService : public MessageService {
public:
    MessageAnswer show(const Message& message) override;

    // Queues the answer to the next message not yet answered.
    void queueAnswer(MessageAnswer answer);
    // Every message shown so far, in order.
    std::vector<Message> shown() const;
    // The texts of every message shown so far, in order.
    std::vector<std::string> texts() const;
    // Forgets the messages shown so far (the script stays).
    void clear();
    // Called with every message as it is shown, on the thread that shows it (to look at the window meanwhile).
    void setOnShow(std::function<void(const Message&)> onShow);

private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_shown;
    std::deque<MessageAnswer> m_answers;
    std::function<void(const Message&)> m_onShow;
};

} // namespace zrq406::test
