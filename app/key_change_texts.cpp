#include "app/key_change_texts.h"

#include <algorithm>

namespace zrq406::app {

namespace {

// The part of a text before its placeholder, less the placeholder's first character.
std::string_view headOf(std::string_view text) {
    const auto zero = text.find('0');
    if (zero == std::string_view::npos || zero == 0)
        return {};
    return text.substr(0, zero - 1);
}

// The part of a text after its placeholder, less the placeholder's last character.
std::string_view tailOf(std::string_view text) {
    const auto zero = text.find('0');
    if (zero == std::string_view::npos)
        return text;
    text.remove_prefix(std::min(text.size(), zero + 2));
    return text;
}

} // namespace

std::string networkPasswordProblemText(mme::PasswordProblem problem, std::string_view msg21, std::string_view msg22) {
    switch (problem) {
    case mme::PasswordProblem::Length: {
        const auto stop = msg21.find('.');
        std::string text(msg21.substr(0, stop == std::string_view::npos ? msg21.size() : stop + 1));
        text += msg22;
        return text;
    }
    case mme::PasswordProblem::Character:
        return std::string(msg21);
    case mme::PasswordProblem::None:
        break;
    }
    return {};
}

std::string keyConfirmationText(std::string_view text, std::string_view text2,
                                const std::vector<std::string>& devices) {
    std::string list;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (i > 0)
            list += " \n";
        list += devices[i];
    }
    std::string message(headOf(text));
    message += '\n';
    message += list;
    message += '\n';
    message += headOf(text2);
    message += "\n\n";
    message += tailOf(text2);
    return message;
}

std::string keyAdviceMessageKey(KeyAdvice advice) {
    switch (advice) {
    case KeyAdvice::None:
        return {};
    case KeyAdvice::EnterPassword:
        return "msg70";
    case KeyAdvice::CheckDevice:
        return "msg71";
    case KeyAdvice::RunAgain:
        return "msg72";
    case KeyAdvice::AwaitsOthers:
        return "msg73";
    case KeyAdvice::FindOut:
        return "msg74";
    }
    return {};
}

std::string keyChangeReportText(const KeyChangeOutcome& outcome, const MessageLookup& message) {
    if (outcome.result == KeyChangeResult::Done)
        return {};
    const bool nothingChanged = outcome.result == KeyChangeResult::NotProved;
    std::string text = message(nothingChanged ? kKeyNothingChanged : kKeyChangeStopped, "Text");
    for (const DeviceKeyState& device : outcome.devices) {
        std::string state;
        if (device.trouble == KeyTrouble::PasswordRefused)
            state = message(kKeyTroubleWords, "Text");
        else if (device.trouble == KeyTrouble::NotReached)
            state = message(kKeyTroubleWords, "Text2");
        else if (nothingChanged)
            continue;
        else
            state = message(kKeyWords, device.key == DeviceKey::New   ? "Text"
                                       : device.key == DeviceKey::Old ? "Text2"
                                                                      : "Text3");
        text += '\n' + device.mac.text();
        if (!device.name.empty())
            text += " (" + device.name + ")";
        text += ": " + state;
        if (const std::string advice = keyAdviceMessageKey(device.advice); !advice.empty())
            text += " - " + message(advice, "Text");
    }
    return text;
}

} // namespace zrq406::app
