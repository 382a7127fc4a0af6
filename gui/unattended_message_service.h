#pragma once

#include "platform/message_service.h"

namespace zrq406 {

// For runs nobody watches (start-up measurements of an installed copy): every box is answered at once, declining
// where it asks, and its text goes to standard error instead of a window.
class UnattendedMessageService : public MessageService {
public:
    MessageAnswer show(const Message& message) override;
};

} // namespace zrq406
