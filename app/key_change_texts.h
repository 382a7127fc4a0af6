#pragma once

#include "mme/key_derivation.h"

#include <string>
#include <string_view>
#include <vector>

namespace zrq406::app {

// The texts of a network key change, composed from the language file's messages as plain text: language texts
// are never used as formats, and no list of devices is ever cut.

// Why a network password was refused: for its length the first sentence of msg21 (up to and including its first
// ".") followed directly by msg22; for a character all of msg21. Empty for PasswordProblem::None.
std::string networkPasswordProblemText(mme::PasswordProblem problem, std::string_view msg21, std::string_view msg22);

// The question before keys are sent (msg35 Text and Text2). Each text holds a three-character placeholder with
// "0" in its middle: the first text's part before it, a line feed, the devices (one per line), a line feed, the
// second text's part before it, two line feeds, and its part after it. A text without "0" gives no head, and the
// second one is then all tail.
std::string keyConfirmationText(std::string_view text, std::string_view text2, const std::vector<std::string>& devices);

// The outcome when devices did not take the key (msg36 Text and Text2): the first text, a line feed, every failed
// device on a line of its own, a line feed, the second text.
std::string keyFailureText(std::string_view text, std::string_view text2, const std::vector<std::string>& failed);

} // namespace zrq406::app
