#pragma once

#include "app/key_change.h"
#include "mme/key_derivation.h"

#include <functional>
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

// The language file's text of a message key and field ("Text", "Text2", ...).
using MessageLookup = std::function<std::string(const std::string& key, const std::string& field)>;

// The message keys of a key change that did not reach every device.
inline constexpr char kKeyNothingChanged[] = "msg66"; // heading: a password did not prove, no key was changed
inline constexpr char kKeyChangeStopped[] = "msg67";  // heading: the change stopped half way
inline constexpr char kKeyWords[] = "msg68";          // Text: new key, Text2: old key, Text3: key unknown
inline constexpr char kKeyTroubleWords[] = "msg69";   // Text: password refused, Text2: not reached

// The language file's message key of an advice ("" for KeyAdvice::None).
std::string keyAdviceMessageKey(KeyAdvice advice);

// The report of a key change that did not put every device on the new key (empty for KeyChangeResult::Done): the
// heading, then a line per device concerned (when no key was changed, the devices whose password did not prove;
// else every device): its MAC text, its name in brackets when known, ": ", why it failed or the key it is on, and
// " - " and its advice when it has one.
std::string keyChangeReportText(const KeyChangeOutcome& outcome, const MessageLookup& message);

} // namespace zrq406::app
