// The people in front of the simulated handheld: one at a terminal, and one
// who answers the dialog from the command line and reads the message boxes
// on standard output.
#ifndef SAMBREL_CLI_USERS_H
#define SAMBREL_CLI_USERS_H

#include "platform/sim/public/handheld.h"
#include "cli/options.h"

#include <cstdio>
#include <memory>
#include <string>

namespace cli {

// The button whose label names the choice ("COM3:" for com3), matched
// without case, '&' or a trailing colon.
std::optional<sim::DialogInput> InputForChoice(const sim::DialogTemplate &dialog, Choice choice);

// Whether the terminal can show the dialog (TERM set and known); why not.
bool TerminalUsable(std::string &why);

class ChoosingUser : public sim::User {
public:
    ChoosingUser(Choice choice, std::FILE *out) : choice_(choice), out_(out) {}
    std::optional<sim::DialogInput> NextDialogInput(const sim::DialogTemplate &dialog) override;
    void Dismiss(const sim::MessageBoxRecord &box) override;

private:
    Choice choice_;
    std::FILE *out_;
    bool answered_ = false;
};

// Draws dialogs and message boxes with ncurses and takes the keyboard.
class TerminalUser : public sim::User {
public:
    // Who gives the terminal back: the user itself, as it goes; or, for
    // the image's process, sambrel, which then keeps the way out of any
    // run: Ctrl-C stays a signal to both (it no longer closes the
    // window), and the terminal's modes are set once, as it starts, so
    // that what runs after may not change them.
    enum class GivenBack { ByItself, BySambrel };
    explicit TerminalUser(GivenBack givenBack = GivenBack::ByItself) : givenBack_(givenBack) {}
    ~TerminalUser() override;
    std::optional<sim::DialogInput> NextDialogInput(const sim::DialogTemplate &dialog) override;
    void Dismiss(const sim::MessageBoxRecord &box) override;
    // Takes the terminal over now, rather than at the first dialog: the
    // image's process does so before its filter, as ncurses reads the
    // terminal's description from files.
    void Start();

private:
    GivenBack givenBack_;
    bool started_ = false;
};

} // namespace cli

#endif
