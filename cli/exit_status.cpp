#include "cli/exit_status.h"

namespace cli {

const std::vector<ExitStatus> &ExitStatuses()
{
    using std::to_string;
    // 1 and 0 are the program's own: WinMain's result.
    static const std::vector<ExitStatus> all = {
        {"1", "the entry was written (even if some value writes failed), or the dialog was cancelled, "
              "closed or failed to appear"},
        {"0", "the entry could not be written (a key failed, or no free port); also --help and --version"},
        {to_string(kExitUsage), "usage error; also a terminal that cannot show the dialog (TERM unset, unknown, "
                                "or unable to move the cursor or clear the screen): use --choose"},
        {to_string(kExitDataError), "the registry file is malformed or cannot be read (it is left as it is), "
                                    "or the --image file is not a Windows CE ARM image or a cabinet that installs "
                                    "one"},
        {to_string(kExitNoInput), "the --image file cannot be read"},
        {to_string(kExitUnavailable), "--image without the ARM emulator or its process: a build without it, "
                                      "libunicorn (or, for a cabinet, libmspack) that cannot be loaded, or no "
                                      "system-call filter (seccomp, libseccomp) to run the image under"},
        {to_string(kExitImageFault), "the image did something its processor or core library refuses (an invalid "
                                     "instruction, a bad memory access, a runaway loop), or ended with an exit "
                                     "code of 64 or more; or the image's process crashed, made a system call its "
                                     "filter forbids, reached a limit, or handed back a result cut short or "
                                     "malformed (the line says which); nothing is saved"},
        {to_string(kExitIoError), "the registry file, the export, the messages or standard output could not be "
                                  "written, or the registry file cannot be saved as it is (the old file is left "
                                  "as it was)"},
        {to_string(kExitChanged), "another program changed the registry file during the run; nothing "
                                             "was saved: run again"},
        {"128+n", "the run was ended by signal n before the registry file was saved: it is the old one "
                  "(a signal after the save leaves the run's own status, and says so); SIGKILL and the fault "
                  "signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS), which cannot be held, give "
                  "128+n with either file"},
    };
    return all;
}

} // namespace cli
