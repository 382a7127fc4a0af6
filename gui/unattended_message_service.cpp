#include "gui/unattended_message_service.h"

#include <cstdio>

namespace zrq406 {

MessageAnswer UnattendedMessageService::show(const Message& message) {
    std::fprintf(stderr, "%s\n", message.text.c_str());
    switch (message.buttons) {
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

} // namespace zrq406
