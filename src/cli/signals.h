// A stop flag set by SIGINT and SIGTERM, for commands that run until stopped
// (listen, slave, poll). The handler only sets the flag; the command checks it
// between steps and ends cleanly.
#pragma once

namespace mkptool {

// Installs the handlers (sigaction, without SA_RESTART so a blocking call
// returns early) and clears the flag.
void InstallStopSignals();
bool StopRequested();
// Sets the flag as a signal would (for code that wants to stop the loop itself).
void RequestStop();

}  // namespace mkptool
