// Language files with any content, queried as the programs query them.
#include "platform/message_service.h"
#include "uitext/load_ui_setting.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {
class SilentMessages : public zrq406::MessageService {
public:
    zrq406::MessageAnswer show(const zrq406::Message&) override { return zrq406::MessageAnswer::Ok; }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/zrq406-fuzz-lang-" + std::to_string(getpid()) + ".xml";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    SilentMessages messages;
    zrq406::CLoadUISetting settings(messages, zrq406::UiTextMode::Utility, "fuzz");
    if (settings.LoadXMLFile(path)) {
        (void)settings.LoadPageCaption("ZRQ406", "Utility", "Text");
        (void)settings.LoadFontSize("ZRQ406", "Font", "FontSize");
        (void)settings.LoadPageCaption("ZRQ406", "Messages", "msg21", "Text");
    }
    return 0;
}
