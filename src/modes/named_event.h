// Named manual-reset events, shared by name within the process. The registers
// automaton announces each of its steps through one, which the register
// transmit tests without waiting.
#pragma once

#include <chrono>
#include <string>

namespace mkp {

// The events live in a process-wide registry. Create makes the event of that
// name, not signalled, or takes one more hold on an existing one (kept as it
// is); Release gives up one hold, and the event goes with its last. The others
// act on the event of that name, if any. Names are cut to 255 characters.
void CreateNamedEvent(const std::string& name);
void ReleaseNamedEvent(const std::string& name);
bool NamedEventExists(const std::string& name);
void SetNamedEvent(const std::string& name);
void ResetNamedEvent(const std::string& name);
// True when the event exists and is set; never waits.
bool IsNamedEventSet(const std::string& name);

// The step event of a registers automaton prepared at the given moment:
// "_MKPTEST_REGISTERSA_EVENT" followed by the moment as days since
// 30 December 1899 (local time; the fraction is the time of day) with up to
// 15 significant digits and "." as the decimal separator.
std::string MakeStepEventName(std::chrono::system_clock::time_point when);
std::string MakeStepEventName();

}  // namespace mkp
