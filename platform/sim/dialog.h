// Dialog templates as the handheld's dialog manager reads them (DLGTEMPLATE
// and its items), and what the user can do to a dialog.
#ifndef SAMBREL_SIM_DIALOG_H
#define SAMBREL_SIM_DIALOG_H

#include "platform/sim/public/coredll_types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The atom by which templates name the predefined button class.
constexpr WORD kButtonAtom = 0x80;

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::optional<WORD> classAtom; // set when the class is given by atom
    std::u16string className;      // the class name, from the atom when given so
    std::u16string text;
    std::optional<WORD> textOrdinal; // a resource id instead of a text

    bool IsButton() const;
    bool IsPushButton() const;
    bool IsDefaultPushButton() const;
    // Dialog control ids are 16 bits wide.
    int Id16() const { return static_cast<short>(static_cast<WORD>(id)); }
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::u16string menu;
    std::u16string windowClass;
    std::u16string caption;
    WORD pointSize = 0;
    std::u16string faceName;
    std::vector<DialogItem> items;

    // The id that Enter gives: the default push button's, else IDOK.
    WORD DefaultId() const;
    const DialogItem *FindItem(WORD id) const;
};

// Parses the template in bytes [p, p + size); nullopt when it is damaged or
// runs past its end.
std::optional<DialogTemplate> ParseDialogTemplate(const BYTE *p, size_t size);

// One thing the user does to a dialog.
struct DialogInput {
    // Command: a WM_COMMAND with this id from elsewhere than a button (as a
    // platform may send IDOK).
    enum Kind { Click, Enter, Escape, Close, Command } kind = Click;
    WORD id = 0; // the button, for Click; the id, for Command
};

} // namespace sim

#endif
