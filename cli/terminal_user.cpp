// The user at a terminal: dialogs and message boxes drawn with ncurses from
// their templates, answered with the keyboard the way Win32 dialogs are.
#include "cli/users.h"

#include "cli/signals.h"
#include "cli/wrap.h"
#include "text/codecs.h"
#include "text/shown.h"

#include <algorithm>
#include <clocale>
#include <termios.h>
#include <unistd.h>

#include <curses.h>

namespace cli {
namespace {

// Dialog units to character cells: a cell is four units wide, eight high.
int Cols(int units) { return (units + 3) / 4; }
int Rows(int units) { return (units + 7) / 8; }

// Whether a character would move the cursor or reorder the text around it
// rather than be drawn: C0 and C1 controls, DEL, and the bidirectional
// embeddings, overrides and isolates.
bool Moves(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || text::Reorders(c);
}

// Text drawn where it is put: a character that would move the cursor (a
// carriage return, a backspace) or reorder the text is drawn as U+FFFD, in
// the one cell it takes, so that an image's texts stay inside their box.
void Put(WINDOW *w, int row, int col, std::u16string text)
{
    std::replace_if(text.begin(), text.end(), Moves, u'\uFFFD');
    mvwaddstr(w, row, col, text::Utf8(text).c_str());
}

int Width(const std::u16string &text) { return static_cast<int>(text.size()); }

void DrawButton(WINDOW *w, const sim::DialogItem &item, bool focused)
{
    std::u16string label = item.text;
    label.erase(std::remove(label.begin(), label.end(), u'&'), label.end());
    bool isDefault = item.IsDefaultPushButton();
    std::u16string shown = (isDefault ? u"<" : u"[") + label + (isDefault ? u">" : u"]");
    int width = std::max(Cols(item.cx), Width(shown));
    int col = 1 + Cols(item.x) + (width - Width(shown)) / 2;
    attr_t attrs = (focused ? A_REVERSE : A_NORMAL) | (isDefault ? A_BOLD : A_NORMAL);
    wattron(w, attrs);
    Put(w, 1 + item.y / 8, col, shown);
    wattroff(w, attrs);
}

WINDOW *CenteredBox(int height, int width, const std::u16string &caption)
{
    int top = std::max(0, (LINES - height) / 2);
    int left = std::max(0, (COLS - width) / 2);
    WINDOW *w = newwin(height, width, top, left);
    keypad(w, TRUE);
    box(w, 0, 0);
    std::u16string title = u" " + caption + u" ";
    Put(w, 0, std::max(1, (width - Width(title)) / 2), title);
    return w;
}

// What the dialog needs, wrapped to the window's width; shortened for a
// window too low for that, and cut only where even that does not fit.
void ShowNotice(int width, int height)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const size_t cols = static_cast<size_t>(std::max(1, COLS));
    auto lines = WrapText(text::U16("Make the terminal at least " + size + " for the dialog (Escape cancels)"), cols);
    if (static_cast<int>(lines.size()) > LINES)
        lines = WrapText(text::U16("At least " + size + "; Escape cancels"), cols);
    for (int row = 0; row < LINES && row < static_cast<int>(lines.size()); ++row)
        Put(stdscr, row, 0, lines[static_cast<size_t>(row)]);
}

enum class Key { Next, Previous, Press, Escape, Close, Redraw, Other };

Key ReadKey(WINDOW *w)
{
    int ch = wgetch(w);
    switch (ch) {
    case '\t': case KEY_RIGHT: case KEY_DOWN: return Key::Next;
    case KEY_BTAB: case KEY_LEFT: case KEY_UP: return Key::Previous;
    case '\n': case '\r': case KEY_ENTER: case ' ': return Key::Press;
    case 27: return Key::Escape;
    case 3: return Key::Close; // Ctrl-C closes the window
    case KEY_RESIZE: return Key::Redraw;
    case ERR: return Key::Close; // the terminal is gone: the window goes with it
    }
    return Key::Other;
}

// Ctrl-C sends SIGINT again, as in a shell, and is no longer a key; the
// keys that would stop or quit (Ctrl-Z, Ctrl-\) stay keys. ncurses takes
// these modes as the program's own, and sets them again only as the
// program asks, which it no longer does.
void KeepCtrlCSignal()
{
    struct termios modes {};
    if (tcgetattr(STDIN_FILENO, &modes) != 0)
        return;
    modes.c_lflag |= ISIG;
    modes.c_cc[VQUIT] = _POSIX_VDISABLE;
    modes.c_cc[VSUSP] = _POSIX_VDISABLE;
    tcsetattr(STDIN_FILENO, TCSANOW, &modes);
    def_prog_mode();
}

} // namespace

TerminalUser::~TerminalUser()
{
    if (started_ && givenBack_ == GivenBack::ByItself) {
        endwin();
        ForgetTerminal();
    }
}

void TerminalUser::Start()
{
    if (started_)
        return;
    std::setlocale(LC_ALL, "");
    RememberTerminal();
    initscr();
    raw();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    set_escdelay(25);
    if (givenBack_ == GivenBack::BySambrel)
        KeepCtrlCSignal();
    started_ = true;
}

std::optional<sim::DialogInput> TerminalUser::NextDialogInput(const sim::DialogTemplate &dialog)
{
    Start();
    std::vector<const sim::DialogItem *> buttons;
    for (const auto &item : dialog.items)
        if (item.IsPushButton() && (item.style & WS_TABSTOP))
            buttons.push_back(&item);
    size_t focus = 0;
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i]->IsDefaultPushButton())
            focus = i;

    int height = Rows(dialog.cy) + 2;
    int width = std::max(Cols(dialog.cx), Width(dialog.caption) + 4) + 2;
    for (;;) {
        clear();
        refresh();
        if (LINES < height || COLS < width) {
            // A clipped dialog could hide its buttons: say so until the
            // terminal is made larger. Escape still cancels.
            ShowNotice(width, height);
            refresh();
            Key key = ReadKey(stdscr);
            if (key == Key::Escape)
                return sim::DialogInput{sim::DialogInput::Escape, 0};
            if (key == Key::Close)
                return sim::DialogInput{sim::DialogInput::Close, 0};
            continue;
        }
        WINDOW *w = CenteredBox(height, width, dialog.caption);
        for (const auto &item : dialog.items) {
            if (item.IsPushButton())
                continue;
            auto lines = WrapText(item.text, static_cast<size_t>(std::max(1, Cols(item.cx))));
            int rows = std::max(1, Rows(item.cy));
            for (int r = 0; r < rows && r < static_cast<int>(lines.size()); ++r)
                Put(w, 1 + item.y / 8 + r, 1 + Cols(item.x), lines[static_cast<size_t>(r)]);
        }
        for (size_t i = 0; i < buttons.size(); ++i)
            DrawButton(w, *buttons[i], i == focus);
        wrefresh(w);
        Key key = ReadKey(w);
        delwin(w);

        switch (key) {
        case Key::Next:
            if (!buttons.empty())
                focus = (focus + 1) % buttons.size();
            break;
        case Key::Previous:
            if (!buttons.empty())
                focus = (focus + buttons.size() - 1) % buttons.size();
            break;
        case Key::Press:
            if (buttons.empty())
                return sim::DialogInput{sim::DialogInput::Enter, 0};
            return sim::DialogInput{sim::DialogInput::Click, static_cast<WORD>(buttons[focus]->id)};
        case Key::Escape:
            return sim::DialogInput{sim::DialogInput::Escape, 0};
        case Key::Close:
            return sim::DialogInput{sim::DialogInput::Close, 0};
        case Key::Redraw:
        case Key::Other:
            break;
        }
    }
}

void TerminalUser::Dismiss(const sim::MessageBoxRecord &box)
{
    Start();
    size_t textWidth = static_cast<size_t>(std::max(20, std::min(60, COLS - 6)));
    auto lines = WrapText(box.text, textWidth);
    int inner = Width(box.caption) + 4;
    for (const auto &line : lines)
        inner = std::max(inner, Width(line));
    int height = static_cast<int>(lines.size()) + 4;
    int width = inner + 4;
    for (;;) {
        clear();
        refresh();
        WINDOW *w = CenteredBox(height, width, box.caption);
        for (size_t i = 0; i < lines.size(); ++i)
            Put(w, 1 + static_cast<int>(i), 2, lines[i]);
        wattron(w, A_REVERSE | A_BOLD);
        Put(w, height - 2, (width - 4) / 2, u"<OK>");
        wattroff(w, A_REVERSE | A_BOLD);
        wrefresh(w);
        Key key = ReadKey(w);
        delwin(w);
        if (key == Key::Press || key == Key::Escape || key == Key::Close)
            break;
    }
    clear();
    refresh();
}

} // namespace cli
