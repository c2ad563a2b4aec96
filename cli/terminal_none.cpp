// A build without a terminal library: the dialog can only be answered with
// --choose.
#include "cli/users.h"

#include "text/codecs.h"

#include <cstdio>

namespace cli {

bool TerminalUsable(std::string &why)
{
    why = "this build cannot draw dialogs in a terminal";
    return false;
}

TerminalUser::~TerminalUser() = default;
void TerminalUser::Start() {}

std::optional<sim::DialogInput> TerminalUser::NextDialogInput(const sim::DialogTemplate &)
{
    std::fputs("sambrel: this build cannot draw dialogs in a terminal; answer it with --choose\n", stderr);
    return std::nullopt;
}

void TerminalUser::Dismiss(const sim::MessageBoxRecord &box)
{
    std::fprintf(stdout, "== %s ==\n%s\n[ OK ]\n\n", text::Utf8(box.caption).c_str(), text::Utf8(box.text).c_str());
}

} // namespace cli
