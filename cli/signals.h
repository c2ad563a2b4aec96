// Signals that end a run (SIGINT, SIGTERM, SIGHUP, SIGQUIT): the terminal
// is given back as it was, nothing is saved, and the process ends by the
// same signal, so that its status (128 + the signal's number) says it was
// stopped. A write to a closed pipe is an error to report, not a death.
#ifndef SAMBREL_CLI_SIGNALS_H
#define SAMBREL_CLI_SIGNALS_H

namespace cli {

void EndRunsOnSignals();

// The terminal's settings before the dialog took it over, for a signal to
// restore; called by the terminal user before it starts.
void RememberTerminal();
void ForgetTerminal();

} // namespace cli

#endif
