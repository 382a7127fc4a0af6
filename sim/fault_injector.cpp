#include "sim/fault_injector.h"

namespace zrq406::sim {

namespace {

std::string formName(MalformedForm form) {
    switch (form) {
    case MalformedForm::Short:
        return "cut short";
    case MalformedForm::Stations:
        return "more stations claimed than sent";
    case MalformedForm::Unterminated:
        return "version text unterminated";
    case MalformedForm::RepeatedStation:
        return "first station listed twice";
    case MalformedForm::NoChecksum:
        return "checksum left out";
    }
    return "malformed";
}

std::string formatMs(double ms) {
    std::string text = std::to_string(ms);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

} // namespace

FaultInjector::FaultInjector(std::vector<FaultSetting> faults) {
    for (FaultSetting& setting : faults) {
        const std::uint32_t seed = setting.seed;
        m_faults.push_back(Armed{std::move(setting), std::mt19937(seed), false});
    }
}

bool FaultInjector::hits(Armed& fault, mme::MmType type, int typeCount, int allCount) {
    const FaultSetting& setting = fault.setting;
    if (setting.message && *setting.message != type)
        return false;
    if (setting.nth > 0)
        return (setting.message ? typeCount : allCount) == setting.nth;
    // The draw is made for every matching request, so a seed gives the same sequence whatever else happens.
    return std::bernoulli_distribution(setting.share)(fault.random);
}

FaultDecision FaultInjector::onRequest(mme::MmType type) {
    const int typeCount = ++m_counts[type];
    const int allCount = ++m_allCount;
    FaultDecision decision;
    for (Armed& fault : m_faults) {
        if (fault.setting.kind == FaultKind::PowerLoss || !hits(fault, type, typeCount, allCount))
            continue;
        const FaultSetting& setting = fault.setting;
        switch (setting.kind) {
        case FaultKind::Drop:
            decision.drop = true;
            decision.notes.push_back("dropped by fault");
            break;
        case FaultKind::Delay:
            decision.delayMs += setting.delayMs;
            decision.notes.push_back("delayed " + formatMs(setting.delayMs) + " ms by fault");
            break;
        case FaultKind::Duplicate:
            decision.copies = 2;
            decision.notes.push_back("duplicated by fault");
            break;
        case FaultKind::Fail:
            decision.failStatus = setting.status;
            decision.notes.push_back("failed by fault");
            break;
        case FaultKind::Malformed:
            decision.malformed = setting.form;
            decision.notes.push_back(formName(setting.form) + " by fault");
            break;
        case FaultKind::Corrupt:
            decision.corruptOffset = setting.offset;
            decision.notes.push_back("byte " + std::to_string(setting.offset) + " corrupted by fault");
            break;
        case FaultKind::PowerLoss:
            break;
        }
    }
    return decision;
}

std::optional<double> FaultInjector::onFirmwareBlockWritten() {
    ++m_firmwareBlocks;
    for (Armed& fault : m_faults) {
        if (fault.setting.kind == FaultKind::PowerLoss && !fault.fired &&
            m_firmwareBlocks == fault.setting.afterBlock) {
            fault.fired = true;
            return fault.setting.downMs.value_or(0);
        }
    }
    return std::nullopt;
}

} // namespace zrq406::sim
