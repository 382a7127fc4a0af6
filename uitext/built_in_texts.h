#pragma once

#include "uitext/language_choice.h"

#include <string_view>

namespace zrq406 {

// The English language file of a program as built into it (made from lang/ at build time), for when no language
// file can be read.
std::string_view builtInEnglishTexts(LanguageProgram program);

} // namespace zrq406
