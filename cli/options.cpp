// The sambrel command's options: one table drives parsing, the usage
// errors and the help text.
#include "cli/options.h"

#include <algorithm>

namespace cli {
namespace {

std::optional<Choice> ChoiceFromName(const std::string &name)
{
    if (name == "autoscan")
        return Choice::Autoscan;
    if (name == "com3")
        return Choice::Com3;
    if (name == "cancel")
        return Choice::Cancel;
    if (name == "close")
        return Choice::Close;
    return std::nullopt;
}

struct OptionEntry {
    const char *name;
    const char *argument; // nullptr for an option that takes none
    bool repeatable;
    const char *help;
    // Takes the option's value into the options; false with a reason.
    bool (*apply)(Options &options, const std::string &value, std::string &error);
};

bool NeedsValue(const std::string &value, const char *what, std::string &error)
{
    if (value.empty())
        error = what;
    return !value.empty();
}

const OptionEntry kOptions[] = {
    {"--choose", "CHOICE", false,
     "answer the dialog without a terminal: autoscan, com3, cancel, or close (the window is "
     "closed); message boxes are then printed to standard output",
     [](Options &o, const std::string &v, std::string &e) {
         o.choose = ChoiceFromName(v);
         if (!o.choose)
             e = "--choose takes autoscan, com3, cancel or close, not '" + v + "'";
         return o.choose.has_value();
     }},
    {"--fail", "OPERATION[:NAME][=ERROR]", true,
     "make a core-library operation fail, always or only for the key, value or resource NAME, "
     "with ERROR (a name such as ERROR_ACCESS_DENIED, or a number; the default is "
     "ERROR_ACCESS_DENIED); may be given several times",
     [](Options &o, const std::string &v, std::string &e) {
         auto fault = sim::Faults::Parse(v, e);
         if (fault)
             o.faults.push_back(*fault);
         return fault.has_value();
     }},
    {"--registry", "FILE", false,
     "load the handheld's registry from the .reg file FILE and save it back there if the run "
     "changed it; a FILE that does not exist starts from the default handheld and is created. "
     "Saving regenerates the file: its comments and layout are not kept",
     [](Options &o, const std::string &v, std::string &e) {
         o.registry = v;
         return NeedsValue(v, "--registry needs a file name", e);
     }},
    {"--dry-run", nullptr, false, "run, but do not save FILE",
     [](Options &o, const std::string &, std::string &) { return o.dryRun = true; }},
    {"--export", "FILE", false,
     "write the whole registry after the run to FILE, or to standard output for - (everything "
     "else then goes to standard error)",
     [](Options &o, const std::string &v, std::string &e) {
         o.exportTo = v;
         return NeedsValue(v, "--export needs a file name, or - for standard output", e);
     }},
    {"--messages", "FILE", false,
     "also write each message box shown to FILE, one a line: its caption, a tab, its text "
     "(control characters escaped), for programs to read",
     [](Options &o, const std::string &v, std::string &e) {
         o.messages = v;
         return NeedsValue(v, "--messages needs a file name", e);
     }},
    {"--image", "FILE", false,
     "run the handheld's own program, a Windows CE ARM image (.exe) or the one an installation "
     "cabinet (.cab) installs, instruction by instruction on an emulated processor instead of the "
     "program built into sambrel",
     [](Options &o, const std::string &v, std::string &e) {
         o.image = v;
         return NeedsValue(v, "--image needs a file name", e);
     }},
    {"--cpu", "CPU", false, "the processor for --image: sa1110 (StrongARM, the default) or pxa255 (XScale)",
     [](Options &o, const std::string &v, std::string &e) {
         if (v != "sa1110" && v != "pxa255") {
             e = "--cpu takes sa1110 or pxa255, not '" + v + "'";
             return false;
         }
         o.cpu = v;
         return true;
     }},
    {"--help", nullptr, true, "show this help and exit",
     [](Options &o, const std::string &, std::string &) { return o.help = true; }},
    {"--version", nullptr, true, "show the version and exit",
     [](Options &o, const std::string &, std::string &) { return o.version = true; }},
};

const OptionEntry *Find(const std::string &name)
{
    for (const auto &option : kOptions)
        if (name == option.name || (name == "-h" && std::string(option.name) == "--help"))
            return &option;
    return nullptr;
}

// Words filled into lines of at most width characters, each line after
// the first starting with indent.
std::string Fill(const std::string &text, size_t width, const std::string &indent, size_t firstColumn)
{
    std::string out, word;
    size_t column = firstColumn;
    auto flush = [&] {
        if (word.empty())
            return;
        if (column + 1 + word.size() > width && column > indent.size()) {
            out += "\n" + indent;
            column = indent.size();
        } else if (column > firstColumn || !out.empty()) {
            out += " ";
            ++column;
        }
        out += word;
        column += word.size();
        word.clear();
    };
    for (char c : text) {
        if (c == ' ')
            flush();
        else
            word.push_back(c);
    }
    flush();
    return out;
}

} // namespace

ParseResult ParseOptions(const std::vector<std::string> &args)
{
    ParseResult r;
    std::vector<const OptionEntry *> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasValue = true;
            }
        }
        const OptionEntry *option = Find(arg);
        if (!option) {
            r.error = !arg.empty() && arg[0] == '-' ? "unknown option '" + arg + "'"
                                                    : "unexpected argument '" + arg + "'";
            return r;
        }
        if (!option->repeatable && std::find(seen.begin(), seen.end(), option) != seen.end()) {
            r.error = "option '" + arg + "' given more than once";
            return r;
        }
        seen.push_back(option);
        if (option->argument && !hasValue) {
            if (i + 1 >= args.size()) {
                r.error = "option '" + arg + "' needs a value";
                return r;
            }
            value = args[++i];
        } else if (!option->argument && hasValue) {
            r.error = "option '" + arg + "' takes no value";
            return r;
        }
        if (!option->apply(r.options, value, r.error))
            return r;
    }
    if (r.options.dryRun && !r.options.registry)
        r.error = "--dry-run goes with --registry FILE";
    else if (std::find(seen.begin(), seen.end(), Find("--cpu")) != seen.end() && !r.options.image)
        r.error = "--cpu goes with --image FILE";
    return r;
}

std::string HelpText()
{
    std::string text =
        "Usage: sambrel [OPTION]...\n"
        "Run Sambrel, the infrared modem setup, on a simulated handheld PC.\n"
        "\n"
        "Sambrel asks whether the infrared port is to be a modem on COM3: or on the\n"
        "first free port from COM5: to COM9: (Autoscan), writes the external-modem\n"
        "entry HKEY_LOCAL_MACHINE\\ExtModems\\IR, and asks for a reset. In a terminal\n"
        "the dialog is shown and answered with the keyboard: Tab and the arrow keys\n"
        "move between buttons, Enter or Space presses one, Escape cancels.\n"
        "\n"
        "Options:\n";
    const std::string indent(20, ' ');
    for (const auto &option : kOptions) {
        std::string head = std::string("  ") + option.name + (option.argument ? std::string(" ") + option.argument : "");
        if (head.size() + 2 > indent.size())
            text += head + "\n" + indent;
        else
            text += head + std::string(indent.size() - head.size(), ' ');
        text += Fill(option.help, 78, indent, indent.size()) + "\n";
    }
    std::string operations;
    for (sim::Operation op : sim::AllOperations())
        operations += std::string(operations.empty() ? "" : ", ") + sim::NameOf(op);
    text += "\n" + Fill("Operations for --fail: " + operations + ".", 78, "", 0) + "\n";
    text +=
        "\n"
        "Afterwards the IR modem entry is printed in .reg notation.\n"
        "\n"
        "Exit status:\n"
        "  1   the dialog was cancelled or closed, or the entry was written\n"
        "  0   the entry could not be written (a key failed, or no free port)\n"
        "  64  usage error, or a terminal of unknown type\n"
        "  65  the registry file is malformed or cannot be read (it is left as it is),\n"
        "      or the --image file is not a Windows CE ARM image or a cabinet that\n"
        "      installs one\n"
        "  66  the --image file cannot be read\n"
        "  70  the image did something its processor or core library refuses (an\n"
        "      invalid instruction, a bad memory access, a runaway loop); nothing\n"
        "      is saved\n"
        "  74  the registry file, the export or standard output could not be written\n"
        "      (the old file is left as it was)\n"
        "  75  another program changed the registry file during the run; nothing was\n"
        "      saved\n"
        "\n"
        "Example: sambrel --choose autoscan --fail RegSetValueExW:Port\n";
    return text;
}

} // namespace cli
