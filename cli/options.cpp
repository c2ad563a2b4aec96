// The sambrel command's options: one table drives parsing, the usage
// errors and the help text.
#include "cli/options.h"

#include "cli/shown.h"
#include "text/ascii.h"

#include <algorithm>
#include <iterator>

namespace cli {
namespace {

const struct {
    Choice choice;
    const char *name;
} kChoices[] = {
    {Choice::Autoscan, "autoscan"},
    {Choice::Com3, "com3"},
    {Choice::Cancel, "cancel"},
    {Choice::Close, "close"},
};

const struct {
    Cpu cpu;
    const char *name;
    const char *what;
} kCpus[] = {
    {Cpu::Sa1110, "sa1110", "StrongARM SA-1110, ARMv4"},
    {Cpu::Pxa255, "pxa255", "XScale PXA255, ARMv5TE"},
};

// A table's entries in a list, "a, b or c" with (", ", " or "), each as
// show gives it.
template <class Table, class Show>
std::string Listed(const Table &table, const char *separator, const char *last, Show show)
{
    std::string list;
    const size_t count = std::size(table);
    for (size_t i = 0; i < count; ++i)
        list += (i == 0 ? "" : i + 1 == count ? last : separator) + show(table[i]);
    return list;
}

template <class Table>
std::string Listed(const Table &table, const char *separator, const char *last)
{
    return Listed(table, separator, last, [](const auto &entry) { return std::string(entry.name); });
}

// The entry a name given on the command line names, matched without case.
template <class Table>
auto Named(const Table &table, const std::string &given) -> decltype(&table[0])
{
    std::string name = text::AsciiFolded(given);
    for (const auto &entry : table)
        if (name == entry.name)
            return &entry;
    return nullptr;
}

// The processors for the help: "sa1110 (StrongARM SA-1110, ARMv4, the default) or ...".
std::string CpuList()
{
    return Listed(kCpus, ", ", " or ", [](const auto &cpu) {
        return std::string(cpu.name) + " (" + cpu.what + (cpu.cpu == Options().cpu ? ", the default)" : ")");
    });
}

struct OptionEntry {
    const char *name;
    const char *argument; // nullptr for an option that takes none
    bool repeatable;
    const char *help;        // "{}" stands for the list that values gives
    std::string (*values)(); // the values the option takes, from their table; or nullptr
    // Takes the option's value into the options; false with a reason.
    bool (*apply)(Options &options, const std::string &value, std::string &error);
    const char *shortName = nullptr; // "-h", or none
};

bool NeedsValue(const std::string &value, const char *what, std::string &error)
{
    if (value.empty())
        error = what;
    return !value.empty();
}

const OptionEntry kOptions[] = {
    {"--choose", "CHOICE", false,
     "answer the dialog without a terminal: {} (the window is closed), matched without case or a trailing "
     "colon, as the buttons read (COM3:); message boxes are then printed to standard output",
     [] { return Listed(kChoices, ", ", " or "); },
     [](Options &o, const std::string &v, std::string &e) {
         // As the buttons read: "COM3:" is com3.
         auto choice = Named(kChoices, !v.empty() && v.back() == ':' ? v.substr(0, v.size() - 1) : v);
         if (!choice) {
             e = "--choose takes " + Listed(kChoices, ", ", " or ") + ", not '" + v + "'";
             return false;
         }
         o.choose = choice->choice;
         return true;
     }},
    {"--fail", "OPERATION[:NAME][=ERROR]", true,
     "make a core-library operation fail, always or only for NAME: the subkey, value or resource "
     "name as the program passes it (ExtModems, IR, Drivers\\Active, Port), or the key's name (the last "
     "part of its path) for the enumerations and RegCloseKey; with ERROR: a name such as ERROR_ACCESS_DENIED (the default) or ACCESS_DENIED, or a number "
     "of up to 32 bits, decimal or hexadecimal after 0x; names are matched without case; may be "
     "given several times",
     nullptr, [](Options &o, const std::string &v, std::string &e) {
         auto fault = sim::Faults::Parse(v, e);
         if (fault)
             o.faults.push_back(*fault);
         return fault.has_value();
     }},
    {"--registry", "FILE", false,
     "load the handheld's registry from the .reg file FILE and save it back there if the run "
     "changed it; a FILE that does not exist starts from the default handheld and is created "
     "only if the run changes it. "
     "Saving regenerates the file: its comments and layout are not kept",
     nullptr, [](Options &o, const std::string &v, std::string &e) {
         o.registry = v;
         return NeedsValue(v, "--registry needs a file name", e);
     }},
    {"--dry-run", nullptr, false, "run, but do not save FILE", nullptr,
     [](Options &o, const std::string &, std::string &) { return o.dryRun = true; }},
    {"--export", "FILE", false,
     "write the whole registry after the run to FILE, or to standard output for - (everything "
     "else then goes to standard error)",
     nullptr, [](Options &o, const std::string &v, std::string &e) {
         o.exportTo = v;
         return NeedsValue(v, "--export needs a file name, or - for standard output", e);
     }},
    {"--messages", "FILE", false,
     "also write each message box shown to FILE, one a line: its caption, a tab, its text "
     "(control characters escaped), for programs to read",
     nullptr, [](Options &o, const std::string &v, std::string &e) {
         o.messages = v;
         return NeedsValue(v, "--messages needs a file name", e);
     }},
    {"--image", "FILE", false,
     "run the handheld's own program, a Windows CE ARM image (.exe) or the one an installation "
     "cabinet (.cab) installs, instruction by instruction on an emulated processor instead of the "
     "program built into sambrel; the image is read and run in a process of its own, under a "
     "system-call filter (seccomp) and limits",
     nullptr, [](Options &o, const std::string &v, std::string &e) {
         o.image = v;
         return NeedsValue(v, "--image needs a file name", e);
     }},
    {"--cpu", "CPU", false, "the processor for --image: {}, matched without case", CpuList,
     [](Options &o, const std::string &v, std::string &e) {
         auto cpu = Named(kCpus, v);
         if (!cpu) {
             e = "--cpu takes " + Listed(kCpus, ", ", " or ") + ", not '" + v + "'";
             return false;
         }
         o.cpu = cpu->cpu;
         return true;
     }},
    {"--help", nullptr, true, "show this help and exit", nullptr,
     [](Options &o, const std::string &, std::string &) { return o.help = true; }, "-h"},
    {"--version", nullptr, true, "show the version and exit", nullptr,
     [](Options &o, const std::string &, std::string &) { return o.version = true; }},
};

const OptionEntry *Find(const std::string &name)
{
    for (const auto &option : kOptions)
        if (name == option.name || (option.shortName && name == option.shortName))
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

const char *NameOf(Choice choice)
{
    for (const auto &c : kChoices)
        if (c.choice == choice)
            return c.name;
    return "?";
}

std::string ChoiceNames(const char *separator) { return Listed(kChoices, separator, separator); }

namespace {

ParseResult Parse(const std::vector<std::string> &args)
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

} // namespace

// A usage error quotes what was given (an option, its value, an argument)
// with control characters escaped, as file names are shown: nothing typed
// or passed on a command line can drive the terminal.
ParseResult ParseOptions(const std::vector<std::string> &args)
{
    ParseResult r = Parse(args);
    r.error = Shown(r.error);
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
        "that can move the cursor and clear the screen (TERM) the dialog is shown\n"
        "and answered with the keyboard: Tab and the arrow keys move between\n"
        "buttons, Enter or Space presses one, Escape cancels.\n"
        "\n"
        "Options:\n";
    const std::string indent(20, ' ');
    for (const auto &option : kOptions) {
        std::string head = std::string("  ") + (option.shortName ? option.shortName + std::string(", ") : "") +
                           option.name + (option.argument ? std::string(" ") + option.argument : "");
        if (head.size() + 2 > indent.size())
            text += head + "\n" + indent;
        else
            text += head + std::string(indent.size() - head.size(), ' ');
        std::string help = option.help;
        if (option.values)
            help.replace(help.find("{}"), 2, option.values());
        text += Fill(help, 78, indent, indent.size()) + "\n";
    }
    std::string operations;
    for (sim::Operation op : sim::AllOperations())
        operations += std::string(operations.empty() ? "" : ", ") + sim::NameOf(op);
    text += "\n" + Fill("Operations for --fail: " + operations + ".", 78, "", 0) + "\n";
    text += "\nAfterwards the IR modem entry is printed in .reg notation.\n\nExit status:\n";
    const std::string statusIndent(9, ' ');
    for (const auto &status : ExitStatuses()) {
        std::string head = "  " + status.status;
        text += head + std::string(statusIndent.size() - head.size(), ' ') +
                Fill(status.meaning, 78, statusIndent, statusIndent.size()) + "\n";
    }
    text += "\nExample: sambrel --choose autoscan --fail RegSetValueExW:Port\n";
    return text;
}

} // namespace cli
