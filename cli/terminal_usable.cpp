// Whether the terminal can show the dialog: a terminal type that the
// terminal database knows. Kept apart from the dialog: <term.h> defines
// macros with everyday names.
#include "cli/users.h"

#include <cstdlib>
#include <curses.h>
#include <term.h>
#include <unistd.h>

namespace cli {

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
    del_curterm(cur_term);
    return true;
}

} // namespace cli
