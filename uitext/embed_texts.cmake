# Writes OUTPUT, a C++ source that holds the English language files UTILITY and UPGRADE_TOOL as the texts built
# into the programs. Run at build time, so the built-in texts are always those of lang/.
function(embedded_literal file variable)
    file(READ "${file}" hex HEX)
    # Every byte as a \xNN escape, 32 bytes to a line of adjacent string literals.
    string(REPEAT "[0-9a-f]" 64 line)
    string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    string(REPLACE "\n" "\"\n    \"" escaped "${escaped}")
    set(${variable} "    \"${escaped}\"" PARENT_SCOPE)
endfunction()

embedded_literal("${UTILITY}" utility)
embedded_literal("${UPGRADE_TOOL}" upgrade_tool)
file(WRITE "${OUTPUT}.tmp" "// Generated from lang/English.xml and lang/EnglishUpgrade.xml by uitext/embed_texts.cmake.
#include \"uitext/built_in_texts.h\"

namespace zrq406 {

namespace {
constexpr char kUtility[] =
${utility};
constexpr char kUpgradeTool[] =
${upgrade_tool};
} // namespace

std::string_view builtInEnglishTexts(LanguageProgram program) {
    if (program == LanguageProgram::UpgradeTool)
        return {kUpgradeTool, sizeof kUpgradeTool - 1};
    return {kUtility, sizeof kUtility - 1};
}

} // namespace zrq406
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
