#include "cli/console_message_service.h"

#include <ostream>

namespace zrq406::cli {

ConsoleMessageService::ConsoleMessageService(std::ostream& out) : m_out(out) {}

MessageAnswer ConsoleMessageService::show(const Message& message) {
    m_out << "zrq406: " << message.text << '\n';
    return message.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

} // namespace zrq406::cli
