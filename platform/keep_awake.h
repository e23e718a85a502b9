// Keeping the computer awake while a session records: an idle timeout that would suspend it
// mid-take is held off, and let go the moment the session ends.
//
// Only the system's automatic sleep is held off: a sleep the person asks for (Suspend, the
// lid) still happens. The recording never depends on it: where the system offers no way to
// hold sleep off, refuses, or does not answer within a second, the session records as
// before, with at most a line on standard error.
//
// Linux: logind's idle inhibitor on the system bus (a file descriptor, so even a killed
// process lets it go) and the desktop portal's suspend inhibitor on the session bus (held by
// the connection, which a killed process loses too). Windows: a power request, or where
// that cannot be made, the worker's execution state.
//
// Threads: one session's worker calls all three, in this order, and they start no thread and
// no timer: its polls carry the work. While no session runs nothing is held: no bus
// connection, no thread, no timer, not even one left behind by an earlier session.
#pragma once

#include <string>

// Right after capture started: asks, naming the file in the reason ("Recording to NAME.mp3").
// Returns at once; the answers are taken by ServeKeepAwake.
void BeginKeepAwake(const std::wstring& outputPath);

// At every poll of the worker: takes the answers that have come, and gives up on those that
// have not come a second after BeginKeepAwake.
void ServeKeepAwake();

// At the session's end, after BeginKeepAwake (and harmless without it): lets the computer
// sleep again, and drops whatever is still being asked. Returns within a second whatever the
// buses do.
void EndKeepAwake();
