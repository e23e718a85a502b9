// The first failure of the running session, recorded wherever it is found (worker or
// notification thread) and told to the window once by the worker at the session's end.
#pragma once

#include <atomic>
#include <string>

// Set once something has failed in the current session; the worker then ends it.
extern std::atomic<bool> g_bSessionFailed;

// Records cause as the session's failure unless one is already recorded (the first cause is
// the one worth telling; later ones are its consequences).
void RecordFailure(std::string cause);

// Takes the recorded cause and clears the failure for the next session.
std::string TakeFailure();
