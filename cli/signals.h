// Signals that end a run (every one that ends a process by default and
// can be caught: SIGINT, SIGTERM, SIGHUP, SIGQUIT and the rest): the
// terminal is given back as it was, nothing is saved, and the process ends
// by the same signal, so that its status (128 + the signal's number) says
// it was stopped. A write to a closed pipe is an error to report, not a
// death.
// Once the registry file is saved, that status would no longer tell the
// truth: a signal then ends the run with its own status and says so.
#ifndef SAMBREL_CLI_SIGNALS_H
#define SAMBREL_CLI_SIGNALS_H

#include <string>
#include <sys/types.h>

namespace cli {

void EndRunsOnSignals();

// From now on, every signal that would end the run (those a save holds
// back, but any ignored from the start) ends it with status instead, after
// a line on stderr: "sambrel: SIGTERM came after FILE was saved". Called
// right after the save, while those signals are still held.
void EndRunsAfterSave(const std::string &file, int status);

// The terminal's settings before the dialog took it over, for a signal to
// restore; called by the terminal user before it starts, and by sambrel
// before the image's process takes it over.
void RememberTerminal();
void ForgetTerminal();
// Restores the terminal remembered: its settings, and with screen the
// screen, cursor and colours the dialog changed, as a signal does. For the
// image's process, which may have ended without giving it back.
void GiveBackTerminal(bool screen);

// While the image's process runs (0: none), a signal that ends the run
// ends that process first, and waits for it, before the terminal is given
// back.
void EndChildWithRun(pid_t child);

} // namespace cli

#endif
