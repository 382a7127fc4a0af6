#pragma once

#include <string>

namespace zrq406 {

enum class MessageIcon { None, Information, Warning, Exclamation, Stop };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

// Every message box of the programs goes through one of these: the GUIs show a real box, the command-line
// tool prints, and tests answer from a script.
class MessageService {
public:
    virtual ~MessageService() = default;
    virtual MessageAnswer show(const Message& message) = 0;
};

} // namespace zrq406
