#pragma once

#include "platform/message_service.h"

#include <iosfwd>

namespace zrq406::cli {

// Shows messages as lines on standard error; questions take their default answer (OK, Yes).
class ConsoleMessageService : public MessageService {
public:
    explicit ConsoleMessageService(std::ostream& out);
    MessageAnswer show(const Message& message) override;

private:
    std::ostream& m_out;
};

} // namespace zrq406::cli
