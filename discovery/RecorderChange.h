#pragma once

// One recorder of an address plan given its new settings: the login with the recorder's identity,
// then the modify-IP request, and how that ended. The window's and the command line's assigning
// both change their recorders one at a time through this.

#include "discovery/DiscoveryEngine.h"
#include "discovery/ModifyIpPlan.h"
#include "discovery/ModifyResultWait.h"

#include <chrono>
#include <string>
#include <string_view>

enum class ChangeOutcome {
    Modified,      // the recorder took its new settings
    LoginRefused,  // message: the login result's text
    NoLoginAnswer, // message: "It is ouvertime."
    Refused,       // message: the recorder's modify-IP result
    NoAnswer,      // no modify-IP result in time
    NotSent,       // nothing reached the recorder (no such row, a failed send, a stop)
};

struct ChangeResult {
    PlannedChange change;
    ChangeOutcome outcome = ChangeOutcome::NotSent;
    std::string message; // the window's text for the outcome, when there is one
};

// "modified", "login refused", "no answer to the login", "refused", "no answer", "not sent".
const char* changeOutcomeWord(ChangeOutcome outcome);
// The word, followed by ": " and the message unless the recorder was modified.
std::string changeResultText(const ChangeResult& result);

// How long a recorder that did not answer in time is given to answer late before the next
// recorder is started: the timeout itself, at most five seconds.
std::chrono::milliseconds lateAnswerWindow(std::chrono::milliseconds timeout);

// Logs in to the change's row and sends it its new settings, within `timeout` for the login and
// its answer together. `results` must receive every status text of the engine's listener. The
// engine takes one login at a time: the caller runs one change at a time.
ChangeResult sendChange(DiscoveryEngine& engine, ModifyResultWait& results, const PlannedChange& change,
                        std::string_view user, std::string_view password, std::chrono::milliseconds timeout);

// Login and modify-IP answers name no recorder, and recorders that share a factory address answer
// from one address: a late answer to a recorder that timed out would count for the next one. After
// "no answer to the login" or "no answer", this waits up to `window` for that late answer and takes
// it; a late modify-IP result becomes the recorder's result. Returns at once after any other
// outcome. True when a late answer came.
bool waitOutLateAnswer(DiscoveryEngine& engine, ModifyResultWait& results, ChangeResult& result,
                       std::chrono::milliseconds window);

// sendChange, then waitOutLateAnswer for the window of `timeout`: what the window's and the
// command line's assigning run for each recorder.
ChangeResult changeRecorder(DiscoveryEngine& engine, ModifyResultWait& results, const PlannedChange& change,
                            std::string_view user, std::string_view password,
                            std::chrono::milliseconds timeout);
