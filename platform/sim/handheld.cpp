// The simulated handheld's resource loader, dialog manager and message box.
#include "platform/sim/public/handheld.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

thread_local Handheld *tCurrent = nullptr;

// The bytes a parsed template takes: what parsing it read, and what
// keeping it copies.
size_t TemplateSize(const DialogTemplate &t)
{
    size_t chars = t.menu.size() + t.windowClass.size() + t.caption.size() + t.faceName.size();
    for (const auto &item : t.items)
        chars += item.className.size() + item.text.size();
    return sizeof(DialogTemplate) + t.items.size() * sizeof(DialogItem) + chars * sizeof(WCHAR);
}

// Where the handheld loads the program's module.
const UINT_PTR kInstance = 0x00010000;
const UINT_PTR kWindowStep = 0x100;
const DWORD kInvalidWindowHandle = 1400;

} // namespace

std::optional<DialogInput> ScriptedUser::NextDialogInput(const DialogTemplate &)
{
    if (inputs_.empty())
        return std::nullopt;
    DialogInput in = inputs_.front();
    inputs_.pop_front();
    return in;
}

void ScriptedUser::Dismiss(const MessageBoxRecord &) {}

Handheld::Handheld(const BYTE *resourceImage, size_t resourceSize, User &user)
    : resources_(resourceImage, resourceSize), user_(user)
{
}

Handheld::Handheld(Resources resources, User &user) : resources_(std::move(resources)), user_(user)
{
}

Handheld::~Handheld()
{
    if (tCurrent == this)
        tCurrent = nullptr;
}

Handheld::Attach::Attach(Handheld &handheld) : previous_(tCurrent) { tCurrent = &handheld; }

Handheld::Attach::~Attach() { tCurrent = previous_; }

Handheld &Handheld::Current()
{
    if (!tCurrent) {
        std::fputs("sim: a core-library call was made with no handheld attached\n", stderr);
        std::abort();
    }
    return *tCurrent;
}

HINSTANCE Handheld::Instance() const { return reinterpret_cast<HINSTANCE>(kInstance); }

bool Handheld::Acceptable(HINSTANCE module) const
{
    return module == nullptr || module == Instance();
}

HRSRC Handheld::FindResource(HINSTANCE module, LPCWSTR name, LPCWSTR type, DWORD &error)
{
    ResId nameId = name ? ResId::From(name) : ResId{};
    auto Fail = [&](DWORD code, HRSRC result) { return error = code, result; };
    if (!Acceptable(module))
        return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, nullptr);
    if (!name || !type)
        return Fail(ERROR_INVALID_PARAMETER, nullptr);

    ResId typeId = ResId::From(type);
    // Every resource may be compared by both names.
    work_ += resources_.All().size() * (2 + typeId.name.size() + nameId.name.size());
    const Resource *res = resources_.Find(typeId, nameId);
    if (!res) {
        bool typeKnown = false;
        for (const auto &r : resources_.All())
            typeKnown = typeKnown || r.type.Matches(typeId);
        return Fail(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND,
                           nullptr);
    }
    return reinterpret_cast<HRSRC>(static_cast<UINT_PTR>(resources_.IndexOf(res)));
}

HGLOBAL Handheld::LoadResource(HINSTANCE module, HRSRC handle, DWORD &error)
{
    auto Fail = [&](DWORD code, HGLOBAL result) { return error = code, result; };
    const Resource *res = resources_.At(reinterpret_cast<UINT_PTR>(handle));
    if (!Acceptable(module) || !res || res->data.empty())
        return Fail(ERROR_INVALID_HANDLE, nullptr);
    return const_cast<BYTE *>(res->data.data());
}

Handheld::RunningDialog *Handheld::FindDialog(HWND window)
{
    for (auto &d : running_)
        if (d.window == window)
            return &d;
    return nullptr;
}

INT_PTR Handheld::DialogBox(LPCDLGTEMPLATEW tmpl, DLGPROC proc, LPARAM param, DWORD &error)
{
    auto Fail = [&](DWORD code, INT_PTR result) { return error = code, result; };

    // Only templates whose extent is known are read: those among the
    // program's resources.
    work_ += resources_.All().size();
    const Resource *res = tmpl ? resources_.Containing(tmpl) : nullptr;
    if (!res || !proc)
        return Fail(ERROR_INVALID_PARAMETER, -1);
    auto start = reinterpret_cast<const BYTE *>(tmpl);
    auto parsed = ParseDialogTemplate(start, static_cast<size_t>(res->data.data() + res->data.size() - start));
    if (!parsed) {
        events_.push_back({Event::DialogFailed, -1, nullptr});
        return Fail(ERROR_INVALID_PARAMETER, -1);
    }

    HWND window = reinterpret_cast<HWND>(nextWindow_);
    nextWindow_ += kWindowStep;
    running_.push_back({window});
    // The record is a copy: a dialog procedure may open another dialog,
    // whose record moves this one.
    work_ += 2 * TemplateSize(*parsed);
    dialogs_.push_back(*parsed);
    const DialogTemplate &shown = *parsed;
    events_.push_back({Event::DialogShown, 0, window});

    auto controlOf = [&](WORD id) -> LPARAM {
        for (size_t i = 0; i < shown.items.size(); ++i)
            if (static_cast<WORD>(shown.items[i].id) == id)
                return static_cast<LPARAM>(reinterpret_cast<UINT_PTR>(window) + i + 1);
        return 0;
    };
    auto ended = [&]() { return FindDialog(window)->ended; };

    proc(window, WM_INITDIALOG, 0, param);
    while (!ended()) {
        auto input = user_.NextDialogInput(shown);
        if (!input) {
            running_.pop_back();
            events_.push_back({Event::DialogFailed, -1, window});
            return Fail(ERROR_CANCELLED, -1);
        }
        WORD id = 0;
        switch (input->kind) {
        case DialogInput::Click: {
            const DialogItem *item = shown.FindItem(input->id);
            if (!item || !item->IsButton())
                continue; // a click beside the buttons does nothing
            id = input->id;
            break;
        }
        case DialogInput::Enter:
            id = shown.DefaultId();
            break;
        case DialogInput::Escape:
            id = IDCANCEL;
            break;
        case DialogInput::Command:
            id = input->id;
            break;
        case DialogInput::Close:
            // The dialog may take WM_CLOSE itself; otherwise the dialog
            // manager turns it into Cancel.
            if (proc(window, WM_CLOSE, 0, 0))
                continue;
            id = IDCANCEL;
            break;
        }
        WPARAM wParam = static_cast<WPARAM>(id) | (static_cast<WPARAM>(BN_CLICKED) << 16);
        proc(window, WM_COMMAND, wParam, controlOf(id));
    }

    INT_PTR result = FindDialog(window)->result;
    running_.pop_back();
    events_.push_back({Event::DialogEnded, result, window});
    return result;
}

BOOL Handheld::EndDialog(HWND dialog, INT_PTR result, DWORD &error)
{
    RunningDialog *d = FindDialog(dialog);
    if (!d) {
        error = kInvalidWindowHandle;
        return FALSE;
    }
    d->ended = true;
    d->result = result;
    return TRUE;
}

BOOL Handheld::SetForegroundWindow(HWND window)
{
    events_.push_back({Event::Foreground, 0, window});
    return FindDialog(window) ? TRUE : FALSE;
}

int Handheld::MessageBox(LPCWSTR text, LPCWSTR caption, UINT flags)
{
    MessageBoxRecord box;
    if (text)
        box.text = text;
    if (caption)
        box.caption = caption;
    else
        box.caption = u"Error";
    box.flags = flags;
    work_ += 2 * (box.text.size() + box.caption.size()) * sizeof(WCHAR); // kept, and shown
    messages_.push_back(box);
    events_.push_back({Event::MessageShown, static_cast<INT_PTR>(messages_.size() - 1), nullptr});
    user_.Dismiss(box);
    return IDOK;
}

} // namespace sim
