// Whether the terminal can show the dialog: a terminal type that the
// terminal database knows, with what drawing the dialog takes. Kept apart
// from the dialog: <term.h> defines macros with everyday names.
#include "cli/users.h"

#include <cstdlib>
#include <curses.h>
#include <term.h>
#include <unistd.h>

namespace cli {
namespace {

// Without these ncurses still starts, and draws the dialog as a garble of
// lines run together (TERM=dumb).
const struct {
    const char *capability;
    const char *what;
} kNeeded[] = {
    {"cup", "move the cursor"},
    {"clear", "clear the screen"},
};

} // namespace

bool TerminalUsable(std::string &why)
{
    const char *term = std::getenv("TERM");
    if (!term || !*term) {
        why = "TERM is not set, so the terminal cannot show the dialog";
        return false;
    }
    int error = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) {
        why = std::string("the terminal type '") + term + "' is unknown here";
        return false;
    }
    why.clear();
    for (const auto &needed : kNeeded) {
        const char *value = tigetstr(needed.capability);
        if (value == nullptr || value == reinterpret_cast<const char *>(-1)) {
            why = std::string("the terminal type '") + term + "' cannot " + needed.what + " (its terminfo entry has no " +
                  needed.capability + ")";
            break;
        }
    }
    del_curterm(cur_term);
    return why.empty();
}

} // namespace cli
