#include "cli/commands.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace zrq406;

namespace {

std::string help(std::vector<std::string> words) {
    words.insert(words.begin(), "zrq406");
    words.push_back("--help");
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::runCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, nullptr), 0) << err.str();
    return out.str();
}

std::string shipped(const std::string& relative) {
    // The test environment names the source tree.
    std::ifstream in(std::filesystem::path(std::getenv("ZRQ406_TEST_SOURCE_DIR")) / relative);
    EXPECT_TRUE(in) << relative;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> matches(const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it)
        found.insert((*it)[1]);
    return found;
}

// The commands of the help's "Subcommands:" block: two spaces, the name, then its description.
std::set<std::string> helpCommands(const std::string& text) {
    return matches(text.substr(text.find("Subcommands:")), std::regex(R"(\n  ([a-z][a-z-]+)  )"));
}

std::set<std::string> options(const std::string& text) {
    return matches(text, std::regex(R"((?:^|[^\w-])(--?[a-z][a-z-]*))"));
}

std::string roffPlain(std::string page) {
    // Escaped hyphens and font changes stand between the words a reader sees.
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    return std::regex_replace(page, std::regex(R"(\\f[BIRP])"), "");
}

} // namespace

// The manual page and the bash completion are written by hand: when a command or option is added, renamed or
// dropped, this says which of them fell behind.
TEST(CliDocumentationTest, ManualPageAndCompletionNameEveryCommandAndOptionOfTheHelp) {
    const std::string page = roffPlain(shipped("docs/man/zrq406.1"));
    const std::string completion = shipped("desktop/zrq406.bash-completion");
    const std::string commandsSection =
        page.substr(page.find(".SH COMMANDS"), page.find(".SH EXIT") - page.find(".SH COMMANDS"));

    const std::string top = help({});
    const std::set<std::string> commands = helpCommands(top);
    ASSERT_GE(commands.size(), 10u);
    EXPECT_EQ(matches(commandsSection, std::regex(R"(\.TP\n\.B[IR]? ([a-z][a-z-]+))")), commands);
    std::smatch listed;
    ASSERT_TRUE(std::regex_search(completion, listed, std::regex(R"re(local commands="([^"]*)")re")));
    EXPECT_EQ(matches(" " + std::string(listed[1]), std::regex(R"(\s([a-z][a-z-]+))")), commands);

    const std::set<std::string> pageOptions = options(page);
    std::string offered;
    for (const std::string& list : matches(completion, std::regex(R"re((?:options|globals)="([^"]*)")re")))
        offered += " " + list;
    const std::set<std::string> completionOptions = options(offered);
    std::set<std::string> helpOptions = options(top.substr(0, top.find("Subcommands:")));
    for (const std::string& command : commands) {
        const std::string text = help({command});
        // Options up to the command's own subcommands, then those of each subcommand.
        for (const std::string& option :
             options(text.substr(text.find("Options:"), text.find("Subcommands:") - text.find("Options:"))))
            helpOptions.insert(option);
        if (text.find("Subcommands:") == std::string::npos)
            continue;
        for (const std::string& sub : helpCommands(text)) {
            const std::string subText = help({command, sub});
            for (const std::string& option : options(subText.substr(subText.find("Options:"))))
                helpOptions.insert(option);
        }
    }
    for (const std::string& option : helpOptions) {
        EXPECT_TRUE(pageOptions.count(option)) << option << " is missing from zrq406.1";
        if (option != "-h") {
            EXPECT_TRUE(completionOptions.count(option)) << option << " is missing from the completion";
        }
    }
    for (const std::string& option : completionOptions)
        EXPECT_TRUE(helpOptions.count(option)) << "the completion offers " << option << ", which zrq406 lacks";
}
