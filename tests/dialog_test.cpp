// The choice dialog as the handheld's dialog manager sees it, and how the
// dialog procedure answers it.
#include "tests/device.h"
#include "tests/dialog_controls.h"
#include "res/resource.h"
#include "ui/ui.h"

#include <cstring>

namespace {

using sim::DialogInput;
using test::Device;

const char kExplanation[] = DIALOG_EXPLANATION;

TEST(ChoiceDialog, TemplateIsLaidOutAsDesigned)
{
    Device d;
    d.Run({{DialogInput::Click, IDCANCEL}});
    ASSERT_EQ(d.handheld.dialogs().size(), 1u);
    const sim::DialogTemplate &t = d.handheld.dialogs()[0];
    EXPECT_EQ(t.style, 0x00C800C0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 157);
    EXPECT_EQ(t.cy, 69);
    EXPECT_EQ(t.menu, u"");
    EXPECT_EQ(t.windowClass, u"");
    EXPECT_EQ(t.caption, u"Sambrel v1.0");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.faceName, u"MS Sans Serif");

    const auto &items = kExpectedControls;
    ASSERT_EQ(t.items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const sim::DialogItem &item = t.items[i];
        EXPECT_EQ(text::Utf8(item.className), items[i].className);
        EXPECT_EQ(item.Id16(), items[i].id);
        EXPECT_EQ(text::Utf8(item.text), items[i].text);
        EXPECT_EQ(item.x, items[i].x);
        EXPECT_EQ(item.y, items[i].y);
        EXPECT_EQ(item.cx, items[i].cx);
        EXPECT_EQ(item.cy, items[i].cy);
        EXPECT_EQ(item.style, items[i].style);
        EXPECT_EQ(item.exStyle, 0u);
    }
    EXPECT_EQ(t.DefaultId(), IDC_COM3);
}

TEST(ChoiceDialog, ResourceIsUsEnglish)
{
    Device d;
    const sim::Resource *res =
        d.handheld.resources().Find(sim::ResId{5, u""}, sim::ResId{std::nullopt, u"QUESTIONDIALOG"});
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(res->language, 0x0409);
}

// What the user does, and what the dialog returns to WinMain.
struct InputCase {
    const char *what;
    std::vector<DialogInput> inputs;
    INT_PTR result;
};
void PrintTo(const InputCase &row, std::ostream *os) { *os << row.what; }

class DialogInputs : public ::testing::TestWithParam<InputCase> {};

TEST_P(DialogInputs, EndTheDialogWithTheirId)
{
    Device d;
    d.user = sim::ScriptedUser(GetParam().inputs);
    EXPECT_EQ(ShowQuestionDialog(d.handheld.Instance()), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DialogInputs,
    ::testing::Values(
        InputCase{"Autoscan", {{DialogInput::Click, IDC_AUTOSCAN}}, IDC_AUTOSCAN},
        InputCase{"Com3", {{DialogInput::Click, IDC_COM3}}, IDC_COM3},
        InputCase{"Cancel", {{DialogInput::Click, IDCANCEL}}, IDCANCEL},
        InputCase{"EnterChoosesTheDefaultCom3", {{DialogInput::Enter, 0}}, IDC_COM3},
        InputCase{"Escape", {{DialogInput::Escape, 0}}, IDCANCEL},
        InputCase{"Close", {{DialogInput::Close, 0}}, IDCANCEL},
        InputCase{"ClickOnTheTextDoesNothing",
                  {{DialogInput::Click, 0xFFFF}, {DialogInput::Click, IDC_AUTOSCAN}},
                  IDC_AUTOSCAN},
        InputCase{"UserWalksAway", {}, -1}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(ChoiceDialog, IsBroughtToTheForegroundWhenItOpens)
{
    Device d;
    d.Run({{DialogInput::Click, IDCANCEL}});
    const auto &events = d.handheld.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].kind, sim::Event::DialogShown);
    EXPECT_EQ(events[1].kind, sim::Event::Foreground);
    EXPECT_EQ(events[1].window, events[0].window);
}

// The dialog procedure on its own: what it returns and how it ends.
struct ProcCase {
    const char *what;
    UINT message;
    WPARAM wParam;
    INT_PTR returns;
    bool ends;
    INT_PTR result;
};
void PrintTo(const ProcCase &row, std::ostream *os) { *os << row.what; }

class DialogProcedure : public ::testing::TestWithParam<ProcCase> {};

INT_PTR CALLBACK SendOne(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

struct ProcProbe {
    const ProcCase *c;
    INT_PTR returned = -99;
} gProbe; // one probe at a time: a dialog procedure has no place for context

INT_PTR CALLBACK SendOne(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        QuestionDlgProc(dialog, WM_INITDIALOG, wParam, lParam);
        gProbe.returned = QuestionDlgProc(dialog, gProbe.c->message, gProbe.c->wParam, 0);
        if (!gProbe.c->ends)
            coredll::EndDialog(dialog, 12345);
    }
    return FALSE;
}

TEST_P(DialogProcedure, Answers)
{
    const ProcCase &c = GetParam();
    Device d;
    gProbe = {&c};
    HRSRC res = coredll::FindResourceW(d.handheld.Instance(), u"QUESTIONDIALOG", RT_DIALOG);
    auto tmpl = static_cast<LPCDLGTEMPLATEW>(coredll::LoadResource(d.handheld.Instance(), res));
    INT_PTR result = coredll::DialogBoxIndirectParamW(d.handheld.Instance(), tmpl, nullptr, SendOne, 0);
    EXPECT_EQ(gProbe.returned, c.returns);
    EXPECT_EQ(result, c.ends ? c.result : 12345);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DialogProcedure,
    ::testing::Values(
        ProcCase{"InitDialog", WM_INITDIALOG, 0, FALSE, false, 0},
        ProcCase{"Ok", WM_COMMAND, IDOK, TRUE, true, IDOK},
        ProcCase{"Cancel", WM_COMMAND, IDCANCEL, TRUE, true, IDCANCEL},
        ProcCase{"Autoscan", WM_COMMAND, IDC_AUTOSCAN, TRUE, true, IDC_AUTOSCAN},
        ProcCase{"Com3", WM_COMMAND, IDC_COM3, TRUE, true, IDC_COM3},
        ProcCase{"NotificationInHighWord", WM_COMMAND, (5u << 16) | IDC_COM3, TRUE, true, IDC_COM3},
        ProcCase{"OtherCommand", WM_COMMAND, 1004, FALSE, false, 0},
        ProcCase{"StaticId", WM_COMMAND, 0xFFFF, FALSE, false, 0},
        ProcCase{"Close", WM_CLOSE, 0, FALSE, false, 0},
        ProcCase{"OtherMessage", 0x0200, IDC_COM3, FALSE, false, 0}),
    [](const auto &info) { return std::string(info.param.what); });

// A program image whose dialog cannot be had: the dialog fails to appear,
// and the run ends with 1 and no change.
std::vector<BYTE> ProgramImage() { return {sim::kProgramResources, sim::kProgramResources + sim::kProgramResourcesSize}; }

TEST(ChoiceDialog, EveryTruncatedImageFailsCleanly)
{
    std::vector<BYTE> image = ProgramImage();
    // The dialog's entry follows the 32-byte leading entry: its data size,
    // then its header size. Past its data there is only padding.
    size_t dataEnd = 32 + (image[36] | image[37] << 8) + (image[32] | image[33] << 8);
    ASSERT_LE(dataEnd, image.size());
    for (size_t size = 0; size < dataEnd; ++size) {
        std::vector<BYTE> cut(image.begin(), image.begin() + static_cast<long>(size));
        Device d(cut.data(), cut.size());
        INT_PTR r = d.Run({{DialogInput::Click, IDC_COM3}});
        ASSERT_EQ(r, 1) << "image cut at " << size;
        ASSERT_FALSE(d.HasKey("ExtModems")) << "image cut at " << size;
    }
}

TEST(ChoiceDialog, DamagedTemplateCountsFailCleanly)
{
    std::vector<BYTE> image = ProgramImage();
    // The template's item count follows two 32-bit styles at the start of
    // the dialog's data; the first entry header is 32 bytes and the second's
    // is 0x3C.
    const size_t countAt = 32 + 0x3C + 8;
    for (BYTE count : {BYTE{5}, BYTE{0xFF}}) {
        std::vector<BYTE> bad = image;
        bad[countAt] = count;
        Device d(bad.data(), bad.size());
        EXPECT_EQ(d.Run({{DialogInput::Click, IDC_COM3}}), 1);
        EXPECT_FALSE(d.HasKey("ExtModems"));
    }
}

// A dialog procedure that opens the dialog again while its own opens: the
// inner dialog takes the first input, then the outer one reads its own
// template for the second, after the handheld has recorded both.
INT_PTR CALLBACK OpensAgain(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG && lParam == 0) {
        HINSTANCE instance = sim::Handheld::Current().Instance();
        HRSRC res = coredll::FindResourceW(instance, u"QUESTIONDIALOG", RT_DIALOG);
        auto tmpl = static_cast<LPCDLGTEMPLATEW>(coredll::LoadResource(instance, res));
        EXPECT_EQ(coredll::DialogBoxIndirectParamW(instance, tmpl, dialog, OpensAgain, 1), IDC_COM3);
    } else if (message == WM_COMMAND) {
        coredll::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

TEST(ChoiceDialog, OpenedAgainFromItsProcedure)
{
    Device d;
    d.user = sim::ScriptedUser({{DialogInput::Click, IDC_COM3}, {DialogInput::Click, IDC_AUTOSCAN}});
    HRSRC res = coredll::FindResourceW(d.handheld.Instance(), u"QUESTIONDIALOG", RT_DIALOG);
    auto tmpl = static_cast<LPCDLGTEMPLATEW>(coredll::LoadResource(d.handheld.Instance(), res));
    EXPECT_EQ(coredll::DialogBoxIndirectParamW(d.handheld.Instance(), tmpl, nullptr, OpensAgain, 0), IDC_AUTOSCAN);
    EXPECT_EQ(d.handheld.dialogs().size(), 2u);
}

TEST(ChoiceDialog, MissingResourceFailsCleanly)
{
    for (sim::Operation operation : {sim::Operation::FindResourceW, sim::Operation::LoadResource}) {
        Device d;
        d.FailAlways(operation, ERROR_RESOURCE_NAME_NOT_FOUND);
        SCOPED_TRACE(sim::NameOf(operation));
        EXPECT_EQ(d.Run({{DialogInput::Click, IDC_COM3}}), 1);
        EXPECT_FALSE(d.HasKey("ExtModems"));
        EXPECT_TRUE(d.handheld.dialogs().empty());
    }
}

} // namespace

namespace {

// A one-item DLGTEMPLATE whose control's class is given by atom.
std::vector<BYTE> OneItemTemplate(WORD atom, WORD version = 0x80, WORD signature = 0x0000)
{
    std::vector<BYTE> t;
    auto word = [&](unsigned w) {
        t.push_back(static_cast<BYTE>(w & 0xFF));
        t.push_back(static_cast<BYTE>(w >> 8));
    };
    word(version), word(signature); // style, or DLGTEMPLATEEX's mark
    word(0), word(0);                // extended style
    word(1);                         // one item
    word(0), word(0), word(100), word(50);
    word(0), word(0), word(0); // no menu, default class, no caption
    while (t.size() % 4)
        t.push_back(0);
    word(0), word(0x5001); // style
    word(0), word(0);      // extended style
    word(1), word(2), word(30), word(10);
    word(1000);                // id
    word(0xFFFF), word(atom); // class by atom
    word(0);                   // no text
    word(0);                   // no creation data
    return t;
}

// The predefined classes a template names by atom, as the handheld's
// dialog manager knows them.
TEST(DialogTemplates, ClassAtomsNameThePredefinedClasses)
{
    const struct {
        WORD atom;
        const char16_t *name;
    } cases[] = {{0x80, u"Button"}, {0x81, u"Edit"}, {0x82, u"Static"}, {0x83, u"ListBox"},
                 {0x84, u"ScrollBar"}, {0x85, u"ComboBox"}, {0x86, u"#134"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.atom);
        std::vector<BYTE> bytes = OneItemTemplate(c.atom);
        auto t = sim::ParseDialogTemplate(bytes.data(), bytes.size());
        ASSERT_TRUE(t);
        ASSERT_EQ(t->items.size(), 1u);
        EXPECT_EQ(t->items[0].className, c.name);
        EXPECT_EQ(t->items[0].IsButton(), c.atom == 0x80);
    }
}

// An extended template (DLGTEMPLATEEX) is not the handheld's: it fails.
TEST(DialogTemplates, ExtendedTemplateFails)
{
    std::vector<BYTE> bytes = OneItemTemplate(0x80, 1, 0xFFFF);
    EXPECT_FALSE(sim::ParseDialogTemplate(bytes.data(), bytes.size()));
}

// What the handheld does on the program's behalf, in order: the dialog
// shown and brought forward, ended with the button's id, then the message
// box; a dialog the user walks away from fails.
TEST(DialogEvents, ARunInOrder)
{
    Device d;
    EXPECT_EQ(d.Run({{DialogInput::Click, IDC_COM3}}), 1);
    const auto &e = d.handheld.events();
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].kind, sim::Event::DialogShown);
    EXPECT_EQ(e[1].kind, sim::Event::Foreground);
    EXPECT_EQ(e[1].window, e[0].window);
    EXPECT_EQ(e[2].kind, sim::Event::DialogEnded);
    EXPECT_EQ(e[2].value, IDC_COM3);
    EXPECT_EQ(e[3].kind, sim::Event::MessageShown);
    EXPECT_EQ(e[3].value, 0);

    Device gone;
    EXPECT_EQ(gone.Run({}), 1);
    ASSERT_FALSE(gone.handheld.events().empty());
    EXPECT_EQ(gone.handheld.events().back().kind, sim::Event::DialogFailed);
    EXPECT_EQ(gone.handheld.events().back().value, -1);
}

} // namespace
