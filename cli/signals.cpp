// Only async-signal-safe calls in the handlers: kill, waitpid, write,
// tcsetattr, signal, raise and _exit.
#include "cli/signals.h"

#include "savefile/held_signals.h"

#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

struct termios gTerminal;               // before the dialog took it over
volatile sig_atomic_t gTerminalSaved = 0; // whether gTerminal holds it
volatile sig_atomic_t gChild = 0;         // the image's process, while it runs

// After the save: the line each signal writes, made before any can come
// and never freed (a signal may come while the process exits), and the
// run's status.
const std::vector<std::string> *gAfterSave = nullptr;
int gSavedStatus = 0;

void EndRun(int signal)
{
    if (gChild > 0) {
        kill(gChild, SIGKILL);
        waitpid(gChild, nullptr, 0);
    }
    GiveBackTerminal(true);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void EndSavedRun(int signal)
{
    const std::string &line = (*gAfterSave)[static_cast<size_t>(signal)];
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    _exit(gSavedStatus);
}

std::string SignalName(int signal)
{
    if (signal >= SIGRTMIN && signal <= SIGRTMAX)
        return "SIGRTMIN+" + std::to_string(signal - SIGRTMIN);
    const char *name = sigabbrev_np(signal);
    return name ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

// The signals that end a run, but those ignored from the start (SIGHUP
// under nohup), which stay ignored.
std::vector<int> HeededSignals()
{
    sigset_t all;
    sigfillset(&all);
    return savefile::HeededSignals(all);
}

} // namespace

void EndRunsOnSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = EndRun;
    sigemptyset(&action.sa_mask);
    for (int s : HeededSignals())
        sigaction(s, &action, nullptr);
}

void EndRunsAfterSave(const std::string &file, int status)
{
    std::vector<int> heeded = HeededSignals();
    auto *lines = new std::vector<std::string>(NSIG);
    for (int s : heeded)
        (*lines)[static_cast<size_t>(s)] = "sambrel: " + SignalName(s) + " came after " + file + " was saved\n";
    gAfterSave = lines;
    gSavedStatus = status;
    struct sigaction action {};
    action.sa_handler = EndSavedRun;
    sigfillset(&action.sa_mask);
    for (int s : heeded)
        sigaction(s, &action, nullptr);
}

void RememberTerminal()
{
    if (tcgetattr(STDIN_FILENO, &gTerminal) == 0)
        gTerminalSaved = 1;
}

void ForgetTerminal() { gTerminalSaved = 0; }

void GiveBackTerminal(bool screen)
{
    if (!gTerminalSaved)
        return;
    if (screen) {
        // What a dialog, or an image's process drawing one, may have
        // changed, set back: first a string or sequence left open ended
        // (CAN, then ST), so that the terminal reads what follows, and
        // VT52 mode left; then colours and attributes, the character set,
        // the cursor and keypad keys' modes, mouse (X10 too) and focus
        // reports, bracketed paste, the keys' modifiers reported (xterm's
        // modifyOtherKeys), reverse video, the scrolling region, origin
        // and insert modes, the cursor's style, the cursor shown; then the
        // dialog's screen left.
        static const char kReset[] = "\030\033\\\033<\033[0m\033(B\017\033[?1l\033>\033[?9l\033[?1000l\033[?1002l"
                                     "\033[?1003l\033[?1004l\033[?1006l\033[?1015l\033[?2004l\033[>4m\033[?5l"
                                     "\033[r\033[?6l\033[4l\033[?7h\033[0 q\033[?25h\033[?1049l\r\n";
        ssize_t ignored = write(STDOUT_FILENO, kReset, sizeof kReset - 1);
        (void)ignored;
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &gTerminal);
}

void EndChildWithRun(pid_t child) { gChild = child; }

} // namespace cli
