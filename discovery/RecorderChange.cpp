#include "discovery/RecorderChange.h"

#include <algorithm>

const char* changeOutcomeWord(ChangeOutcome outcome) {
    switch (outcome) {
    case ChangeOutcome::Modified:
        return "modified";
    case ChangeOutcome::LoginRefused:
        return "login refused";
    case ChangeOutcome::NoLoginAnswer:
        return "no answer to the login";
    case ChangeOutcome::Refused:
        return "refused";
    case ChangeOutcome::NoAnswer:
        return "no answer";
    case ChangeOutcome::NotSent:
        break;
    }
    return "not sent";
}

std::string changeResultText(const ChangeResult& result) {
    std::string text = changeOutcomeWord(result.outcome);
    if (result.outcome != ChangeOutcome::Modified && !result.message.empty()) {
        text += ": " + result.message;
    }
    return text;
}

std::chrono::milliseconds lateAnswerWindow(std::chrono::milliseconds timeout) {
    return std::min(timeout, std::chrono::milliseconds(5000));
}

namespace {

ChangeOutcome modifyOutcome(const std::string& status) {
    return status == modifyResultText(0) ? ChangeOutcome::Modified : ChangeOutcome::Refused;
}

} // namespace

ChangeResult sendChange(DiscoveryEngine& engine, ModifyResultWait& results, const PlannedChange& change,
                        std::string_view user, std::string_view password, std::chrono::milliseconds timeout) {
    const auto deadline = ModifyResultWait::Clock::now() + timeout;
    ChangeResult result{change, ChangeOutcome::NotSent, {}};
    const DiscoveryEngine::LoginOutcome login = engine.login(change.row, user, password, timeout);
    if (login.status == DiscoveryEngine::LoginStatus::NotSent) {
        return result;
    }
    if (login.status == DiscoveryEngine::LoginStatus::TimedOut) {
        result.outcome = ChangeOutcome::NoLoginAnswer;
        result.message = LOGIN_TIMEOUT_TEXT;
        return result;
    }
    if (!login.accepted()) {
        const auto text = login.text();
        result.outcome = ChangeOutcome::LoginRefused;
        result.message = text ? std::string(*text) : "login result " + std::to_string(login.result);
        return result;
    }
    // Cleared before the request goes: its answer may come before modifyIp() returns.
    results.clear();
    if (!engine.modifyIp(change.row, change.address, change.mask, change.gateway)) {
        return result;
    }
    const auto status = results.waitUntil(deadline);
    result.outcome = status ? modifyOutcome(*status) : ChangeOutcome::NoAnswer;
    result.message = status.value_or("");
    return result;
}

bool waitOutLateAnswer(DiscoveryEngine& engine, ModifyResultWait& results, ChangeResult& result,
                       std::chrono::milliseconds window) {
    if (result.outcome == ChangeOutcome::NoLoginAnswer) {
        // The next login clears what came before it was sent, not what comes while it waits.
        return engine.drainLateLoginAnswer(window);
    }
    if (result.outcome != ChangeOutcome::NoAnswer) {
        return false;
    }
    // The engine still awaits this recorder's result, and only from its addresses.
    const auto status = results.waitUntil(ModifyResultWait::Clock::now() + window);
    if (!status) {
        return false;
    }
    result.outcome = modifyOutcome(*status);
    result.message = *status;
    return true;
}

ChangeResult changeRecorder(DiscoveryEngine& engine, ModifyResultWait& results, const PlannedChange& change,
                            std::string_view user, std::string_view password,
                            std::chrono::milliseconds timeout) {
    ChangeResult result = sendChange(engine, results, change, user, password, timeout);
    waitOutLateAnswer(engine, results, result, lateAnswerWindow(timeout));
    return result;
}
