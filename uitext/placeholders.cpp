#include "uitext/placeholders.h"

namespace zrq406 {

std::string fillPlaceholders(std::string_view text, std::initializer_list<std::string_view> values) {
    std::string out;
    auto next = values.begin();
    for (std::size_t at = 0; at < text.size();) {
        if (next != values.end() && text.compare(at, 2, "%s") == 0) {
            out.append(*next++);
            at += 2;
        } else {
            out += text[at++];
        }
    }
    return out;
}

std::string collapsePercent(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        out += text[at];
        if (text[at] == '%' && at + 1 < text.size() && text[at + 1] == '%')
            ++at;
    }
    return out;
}

} // namespace zrq406
