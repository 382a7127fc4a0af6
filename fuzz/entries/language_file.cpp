#include "fuzz/entries/entries.h"
#include "platform/message_service.h"
#include "uitext/load_ui_setting.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace zrq406::fuzz {

namespace {
class SilentMessages : public MessageService {
public:
    MessageAnswer show(const Message&) override { return MessageAnswer::Ok; }
};
} // namespace

void languageFile(std::span<const std::uint8_t> data) {
    static const std::string path = "/tmp/zrq406-fuzz-lang-" + std::to_string(getpid()) + ".xml";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    SilentMessages messages;
    CLoadUISetting settings(messages, UiTextMode::Utility, "fuzz");
    if (settings.LoadXMLFile(path)) {
        (void)settings.LoadPageCaption("ZRQ406", "Utility", "Text");
        (void)settings.LoadFontSize("ZRQ406", "Font", "FontSize");
        (void)settings.LoadPageCaption("ZRQ406", "Messages", "msg21", "Text");
    }
}

} // namespace zrq406::fuzz
