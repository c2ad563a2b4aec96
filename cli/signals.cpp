// Only async-signal-safe calls in the handler: tcsetattr and write.
#include "cli/signals.h"

#include <csignal>
#include <initializer_list>
#include <termios.h>
#include <unistd.h>

namespace cli {
namespace {

struct termios gTerminal;               // before the dialog took it over
volatile sig_atomic_t gTerminalSaved = 0; // whether gTerminal holds it

void EndRun(int signal)
{
    if (gTerminalSaved) {
        // Leave the dialog's screen, show the cursor, reset the colours.
        static const char kReset[] = "\033[0m\033[?25h\033[?1049l\r\n";
        ssize_t ignored = write(STDOUT_FILENO, kReset, sizeof kReset - 1);
        (void)ignored;
        tcsetattr(STDIN_FILENO, TCSANOW, &gTerminal);
    }
    std::signal(signal, SIG_DFL);
    raise(signal);
}

} // namespace

void EndRunsOnSignals()
{
    struct sigaction action {};
    action.sa_handler = EndRun;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        // A signal ignored from the start (SIGHUP under nohup) stays ignored.
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

void RememberTerminal()
{
    if (tcgetattr(STDIN_FILENO, &gTerminal) == 0)
        gTerminalSaved = 1;
}

void ForgetTerminal() { gTerminalSaved = 0; }

} // namespace cli
