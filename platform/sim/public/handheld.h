// The simulated handheld: its registry, the program's resources, the dialog
// manager, message boxes and injected faults, and the user in front of it.
// The core-library calls reach the handheld attached to the calling thread.
// This is the simulator's door for the command and the emulator: the
// registry, resources, dialogs and faults it includes are the model's own,
// reached through it.
#ifndef SAMBREL_SIM_HANDHELD_H
#define SAMBREL_SIM_HANDHELD_H

#include "coredll_types.h"
#include "platform/sim/dialog.h"
#include "platform/sim/faults.h"
#include "platform/sim/registry.h"
#include "platform/sim/resources.h"

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct MessageBoxRecord {
    std::u16string caption;
    std::u16string text;
    UINT flags = 0;
};

// The person holding the device.
class User {
public:
    virtual ~User() = default;
    // What the user does next to the dialog on screen; nullopt when the user
    // walks away, which makes the dialog fail.
    virtual std::optional<DialogInput> NextDialogInput(const DialogTemplate &dialog) = 0;
    // Shows a message box; returns when it is dismissed.
    virtual void Dismiss(const MessageBoxRecord &box) = 0;
};

// A user who follows a script: these inputs in turn, and OK to every box.
class ScriptedUser : public User {
public:
    ScriptedUser() = default;
    explicit ScriptedUser(std::vector<DialogInput> inputs) : inputs_(inputs.begin(), inputs.end()) {}
    void Add(DialogInput input) { inputs_.push_back(input); }
    std::optional<DialogInput> NextDialogInput(const DialogTemplate &dialog) override;
    void Dismiss(const MessageBoxRecord &box) override;

private:
    std::deque<DialogInput> inputs_;
};

// Something the handheld did on the program's behalf, in order.
struct Event {
    enum Kind { DialogShown, DialogEnded, DialogFailed, MessageShown, Foreground } kind;
    INT_PTR value = 0;  // the dialog's result
    HWND window = nullptr;
};

class Handheld {
public:
    Handheld(const BYTE *resourceImage, size_t resourceSize, User &user);
    Handheld(Resources resources, User &user);
    Handheld(const Handheld &) = delete;
    Handheld &operator=(const Handheld &) = delete;
    ~Handheld();

    // Makes this the handheld of the calling thread while it lives.
    class Attach {
    public:
        explicit Attach(Handheld &handheld);
        ~Attach();
        Attach(const Attach &) = delete;
        Attach &operator=(const Attach &) = delete;

    private:
        Handheld *previous_;
    };
    // The handheld attached to this thread; aborts when there is none.
    static Handheld &Current();

    HINSTANCE Instance() const;
    Registry &registry() { return registry_; }
    const Registry &registry() const { return registry_; }
    Faults &faults() { return faults_; }
    const Resources &resources() const { return resources_; }
    const std::vector<MessageBoxRecord> &messages() const { return messages_; }
    const std::vector<DialogTemplate> &dialogs() const { return dialogs_; }
    const std::vector<Event> &events() const { return events_; }
    // The registry calls the program made that create, open, write or close
    // keys, in order, with their arguments; enumeration is not recorded.
    const std::vector<std::string> &calls() const { return calls_; }
    void Record(std::string call)
    {
        work_ += call.size();
        calls_.push_back(std::move(call));
    }
    // The bytes and entries the handheld copied, moved, searched or kept on
    // the program's behalf since last asked, its registry's included: the
    // cost of its calls beyond the program's own buffers.
    std::uint64_t TakeWork() { return std::exchange(work_, 0) + registry_.TakeWork(); }

    DWORD LastError() const { return lastError_; }
    void SetLastError(DWORD error) { lastError_ = error; }

    // The core library's resource, dialog and message-box calls, as a pure
    // model: a failure gives its code in error, and the core-library layer
    // (which also injects faults) makes it the thread's last error.
    HRSRC FindResource(HINSTANCE module, LPCWSTR name, LPCWSTR type, DWORD &error);
    HGLOBAL LoadResource(HINSTANCE module, HRSRC res, DWORD &error);
    INT_PTR DialogBox(LPCDLGTEMPLATEW tmpl, DLGPROC proc, LPARAM param, DWORD &error);
    BOOL EndDialog(HWND dialog, INT_PTR result, DWORD &error);
    BOOL SetForegroundWindow(HWND window);
    int MessageBox(LPCWSTR text, LPCWSTR caption, UINT flags);

private:
    struct RunningDialog {
        HWND window;
        bool ended = false;
        INT_PTR result = 0;
    };
    bool Acceptable(HINSTANCE module) const;
    RunningDialog *FindDialog(HWND window);

    Registry registry_;
    Resources resources_;
    Faults faults_;
    User &user_;
    DWORD lastError_ = 0;
    std::vector<MessageBoxRecord> messages_;
    std::vector<DialogTemplate> dialogs_;
    std::vector<Event> events_;
    std::vector<std::string> calls_;
    std::vector<RunningDialog> running_;
    UINT_PTR nextWindow_ = 0x10000;
    std::uint64_t work_ = 0;
};

} // namespace sim

#endif
