// The sambrel command's options.
#include "options.h"

#include "wtext.h"

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

} // namespace

std::optional<sim::Fault> ParseFault(const std::string &text, std::string &error)
{
    sim::Fault fault;
    std::string rest = text;
    size_t eq = rest.find('=');
    if (eq != std::string::npos) {
        std::string name = rest.substr(eq + 1);
        auto code = sim::Faults::ErrorFromName(name);
        bool number = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
        if (!code) {
            error = (number ? "error number '" + name + "' out of range (32 bits) in --fail "
                            : "unknown error '" + name + "' in --fail ") + text;
            return std::nullopt;
        }
        if (*code == ERROR_SUCCESS) {
            error = "--fail " + text + ": ERROR_SUCCESS (0) is not a failure";
            return std::nullopt;
        }
        fault.error = *code;
        rest.resize(eq);
    }
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        fault.item = sim::U16(rest.substr(colon + 1));
        rest.resize(colon);
    }
    if (!sim::Faults::IsOperation(rest)) {
        error = "unknown operation '" + rest + "' in --fail " + text;
        return std::nullopt;
    }
    fault.operation = rest;
    return fault;
}

ParseResult ParseOptions(const std::vector<std::string> &args)
{
    ParseResult r;
    std::vector<std::string> seen; // options that may be given once
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
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                r.error = "option '" + arg + "' needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };

        if (arg == "--choose" || arg == "--registry" || arg == "--export" || arg == "--image" ||
            arg == "--cpu" || arg == "--dry-run") {
            for (const auto &o : seen) {
                if (o == arg) {
                    r.error = "option '" + arg + "' given more than once";
                    return r;
                }
            }
            seen.push_back(arg);
        }
        if (arg == "--help" || arg == "-h") {
            r.options.help = true;
        } else if (arg == "--version") {
            r.options.version = true;
        } else if (arg == "--choose") {
            if (!takeValue())
                return r;
            auto choice = ChoiceFromName(value);
            if (!choice) {
                r.error = "--choose takes autoscan, com3, cancel or close, not '" + value + "'";
                return r;
            }
            r.options.choose = choice;
        } else if (arg == "--fail") {
            if (!takeValue())
                return r;
            auto fault = ParseFault(value, r.error);
            if (!fault)
                return r;
            r.options.faults.push_back(*fault);
        } else if (arg == "--registry") {
            if (!takeValue())
                return r;
            if (value.empty()) {
                r.error = "--registry needs a file name";
                return r;
            }
            r.options.registry = value;
        } else if (arg == "--dry-run") {
            r.options.dryRun = true;
        } else if (arg == "--export") {
            if (!takeValue())
                return r;
            if (value.empty()) {
                r.error = "--export needs a file name, or - for standard output";
                return r;
            }
            r.options.exportTo = value;
        } else if (arg == "--image") {
            if (!takeValue())
                return r;
            if (value.empty()) {
                r.error = "--image needs a file name";
                return r;
            }
            r.options.image = value;
        } else if (arg == "--cpu") {
            if (!takeValue())
                return r;
            if (value != "sa1110" && value != "pxa255") {
                r.error = "--cpu takes sa1110 or pxa255, not '" + value + "'";
                return r;
            }
            r.options.cpu = value;
        } else if (!arg.empty() && arg[0] == '-') {
            r.error = "unknown option '" + arg + "'";
            return r;
        } else {
            r.error = "unexpected argument '" + arg + "'";
            return r;
        }
    }
    if (r.options.dryRun && !r.options.registry)
        r.error = "--dry-run goes with --registry FILE";
    else if (std::find(seen.begin(), seen.end(), "--cpu") != seen.end() && !r.options.image)
        r.error = "--cpu goes with --image FILE.exe";
    return r;
}

const char *HelpText()
{
    return "Usage: sambrel [OPTION]...\n"
           "Run Sambrel, the infrared modem setup, on a simulated handheld PC.\n"
           "\n"
           "Sambrel asks whether the infrared port is to be a modem on COM3: or on the\n"
           "first free port from COM5: to COM9: (Autoscan), writes the external-modem\n"
           "entry HKEY_LOCAL_MACHINE\\ExtModems\\IR, and asks for a reset. In a terminal\n"
           "the dialog is shown and answered with the keyboard: Tab and the arrow keys\n"
           "move between buttons, Enter or Space presses one, Escape cancels.\n"
           "\n"
           "Options:\n"
           "  --choose CHOICE   answer the dialog without a terminal: autoscan, com3,\n"
           "                    cancel, or close (the window is closed); message\n"
           "                    boxes are then printed to standard output\n"
           "  --fail OPERATION[:NAME][=ERROR]\n"
           "                    make a core-library operation fail, always or only for\n"
           "                    the key, value or resource NAME, with ERROR (a name\n"
           "                    such as ERROR_ACCESS_DENIED, or a number; the default\n"
           "                    is ERROR_ACCESS_DENIED); may be given several times\n"
           "  --registry FILE   load the handheld's registry from the .reg file FILE and\n"
           "                    save it back there if the run changed it; a FILE that\n"
           "                    does not exist starts from the default handheld and is\n"
           "                    created. Saving regenerates the file: its comments and\n"
           "                    layout are not kept\n"
           "  --dry-run         run, but do not save FILE\n"
           "  --export FILE     write the whole registry after the run to FILE, or to\n"
           "                    standard output for -\n"
           "  --image FILE.exe  run the handheld's own program, a Windows CE ARM image,\n"
           "                    instruction by instruction on an emulated processor\n"
           "                    instead of the program built into sambrel\n"
           "  --cpu CPU         the processor for --image: sa1110 (StrongARM, the\n"
           "                    default) or pxa255 (XScale)\n"
           "  --help            show this help and exit\n"
           "  --version         show the version and exit\n"
           "\n"
           "Operations for --fail: RegCreateKeyExW, RegOpenKeyExW, RegEnumKeyExW,\n"
           "RegEnumValueW, RegSetValueExW, RegCloseKey, FindResourceW, LoadResource,\n"
           "DialogBoxIndirectParamW, EndDialog, SetForegroundWindow, MessageBoxW.\n"
           "\n"
           "Afterwards the IR modem entry is printed in .reg notation.\n"
           "\n"
           "Exit status:\n"
           "  1   the dialog was cancelled or closed, or the entry was written\n"
           "  0   the entry could not be written (a key failed, or no free port)\n"
           "  64  usage error\n"
           "  65  the registry file is malformed or cannot be read (it is left as it is),\n"
           "      or the --image file is not a Windows CE ARM image\n"
           "  66  the --image file cannot be read\n"
           "  70  the image did something its processor or core library refuses (an\n"
           "      invalid instruction, a bad memory access, a runaway loop); nothing\n"
           "      is saved\n"
           "  74  the registry file or the export could not be written (the old file is\n"
           "      left as it was)\n"
           "\n"
           "Example: sambrel --choose autoscan --fail RegSetValueExW:Port\n";
}

} // namespace cli
