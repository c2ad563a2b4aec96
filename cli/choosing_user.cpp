// The user without a terminal: the dialog is answered by --choose, and
// every message box is printed as a block and dismissed at once. What the
// dialog and the boxes say comes from the program, which may be any image:
// it is printed escaped, as --messages writes it.
#include "cli/users.h"

#include "cli/shown.h"
#include "cli/wrap.h"
#include "text/ascii.h"
#include "text/codecs.h"

namespace cli {
namespace {

std::string Label(std::u16string_view text)
{
    std::string out;
    for (char c : text::Utf8(text))
        if (c != '&')
            out.push_back(c);
    out = text::AsciiFolded(out);
    while (!out.empty() && (out.back() == ':' || out.back() == ' '))
        out.pop_back();
    return out;
}

} // namespace

std::optional<sim::DialogInput> InputForChoice(const sim::DialogTemplate &dialog, Choice choice)
{
    if (choice == Choice::Close)
        return sim::DialogInput{sim::DialogInput::Close, 0};
    for (const auto &item : dialog.items)
        if (item.IsPushButton() && Label(item.text) == NameOf(choice))
            return sim::DialogInput{sim::DialogInput::Click, static_cast<WORD>(item.id)};
    return std::nullopt;
}

std::optional<sim::DialogInput> ChoosingUser::NextDialogInput(const sim::DialogTemplate &dialog)
{
    // One answer; a dialog that is still open after it is left alone.
    if (answered_)
        return std::nullopt;
    answered_ = true;

    std::fprintf(out_, "== %s ==\n", Shown(text::Utf8(dialog.caption)).c_str());
    std::string buttons;
    for (const auto &item : dialog.items) {
        if (item.IsPushButton()) {
            std::string label = Shown(text::Utf8(item.text));
            buttons += item.IsDefaultPushButton() ? "[[ " + label + " ]]  " : "[ " + label + " ]  ";
        } else if (!item.text.empty()) {
            for (const auto &line : WrapText(item.text, 72))
                std::fprintf(out_, "%s\n", Shown(text::Utf8(line)).c_str());
        }
    }
    while (!buttons.empty() && buttons.back() == ' ')
        buttons.pop_back();
    std::fprintf(out_, "%s\n", buttons.c_str());

    auto input = InputForChoice(dialog, choice_);
    if (!input)
        std::fprintf(out_, "> (no %s button)\n\n", NameOf(choice_));
    else if (input->kind == sim::DialogInput::Close)
        std::fprintf(out_, "> (window closed)\n\n");
    else
        std::fprintf(out_, "> %s\n\n", Shown(text::Utf8(dialog.FindItem(input->id)->text)).c_str());
    return input;
}

void ChoosingUser::Dismiss(const sim::MessageBoxRecord &box)
{
    std::fprintf(out_, "== %s ==\n%s\n[ OK ]\n\n", Shown(text::Utf8(box.caption)).c_str(),
                 Shown(text::Utf8(box.text), true).c_str());
    std::fflush(out_);
}

} // namespace cli
