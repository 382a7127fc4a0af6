#include "platform/program_version.h"

#include "zrq406_version.h"

namespace zrq406 {

std::string_view programVersion() {
    return ZRQ406_VERSION_TEXT;
}

} // namespace zrq406
