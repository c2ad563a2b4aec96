// Reads dialog templates the way the dialog manager does.
#include "platform/sim/dialog.h"

#include "bytes/le_reader.h"
#include "text/codecs.h"
#include "registry/names.h"

namespace sim {
namespace {

std::u16string AtomClassName(WORD atom)
{
    switch (atom) {
    case 0x80: return u"Button";
    case 0x81: return u"Edit";
    case 0x82: return u"Static";
    case 0x83: return u"ListBox";
    case 0x84: return u"ScrollBar";
    case 0x85: return u"ComboBox";
    }
    return u"#" + text::U16(std::to_string(atom));
}

// Where a template or an item lies, in dialog units, as both give it.
template <typename Placed>
void ReadPlace(bytes::LeReader &r, Placed &p)
{
    p.x = r.Short();
    p.y = r.Short();
    p.cx = r.Short();
    p.cy = r.Short();
}

} // namespace

bool DialogItem::IsButton() const
{
    return classAtom ? *classAtom == kButtonAtom : registry::EqualNoCase(className, u"Button");
}

bool DialogItem::IsPushButton() const
{
    DWORD type = style & BS_TYPEMASK;
    return IsButton() && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

bool DialogItem::IsDefaultPushButton() const
{
    return IsButton() && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

WORD DialogTemplate::DefaultId() const
{
    for (const auto &item : items)
        if (item.IsDefaultPushButton())
            return static_cast<WORD>(item.id);
    return IDOK;
}

const DialogItem *DialogTemplate::FindItem(WORD id) const
{
    for (const auto &item : items)
        if (static_cast<WORD>(item.id) == id)
            return &item;
    return nullptr;
}

std::optional<DialogTemplate> ParseDialogTemplate(const BYTE *p, size_t size)
{
    if (!p)
        return std::nullopt;
    bytes::LeReader r(p, size);
    DialogTemplate t;
    WORD count;

    // The handheld's dialog manager reads DLGTEMPLATE: an extended
    // template (DLGTEMPLATEEX, marked by version 1 and 0xFFFF) fails.
    WORD version = r.Word();
    WORD signature = r.Word();
    if (!r.Ok() || (version == 1 && signature == 0xFFFF))
        return std::nullopt;
    t.style = version | (static_cast<DWORD>(signature) << 16);
    t.exStyle = r.Dword();
    count = r.Word();
    ReadPlace(r, t);
    t.menu = r.StringOrOrdinal();
    t.windowClass = r.StringOrOrdinal();
    t.caption = r.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        t.faceName = r.String();
    }
    if (!r.Ok())
        return std::nullopt;

    for (WORD i = 0; i < count; ++i) {
        DialogItem item;
        r.AlignDword();
        item.style = r.Dword();
        item.exStyle = r.Dword();
        ReadPlace(r, item);
        item.id = r.Word();
        item.className = r.StringOrOrdinal(&item.classAtom);
        if (item.classAtom)
            item.className = AtomClassName(*item.classAtom);
        item.text = r.StringOrOrdinal(&item.textOrdinal);
        WORD extra = r.Word();
        r.Skip(extra);
        if (!r.Ok())
            return std::nullopt;
        t.items.push_back(std::move(item));
    }
    return t;
}

} // namespace sim
