// The wide formatter, after wsprintfW: flags '-' and '0', a width, a
// precision, the size prefixes h and l, and %c %d %i %u %x %X %s %%. An
// unknown conversion character is written as it stands.
#include "platform/sim/public/format.h"

#include <type_traits>

namespace sim {
namespace {

class Sink {
public:
    Sink(WCHAR *out, int cap) : out_(out), cap_(cap) {}
    void Put(WCHAR c)
    {
        if (len_ + 1 < cap_)
            out_[len_++] = c;
        else
            cut_ = true;
    }
    // A width or precision may ask for up to 99,999 characters: only what
    // still fits is written, so that the work is bounded by the output.
    void Repeat(WCHAR c, int n)
    {
        int room = cap_ - 1 - len_;
        if (n > room) {
            cut_ = true;
            n = room > 0 ? room : 0;
        }
        for (int i = 0; i < n; ++i)
            out_[len_++] = c;
    }
    int Finish()
    {
        if (cap_ <= 0)
            return -1;
        out_[len_] = 0;
        return cut_ ? -1 : len_;
    }

private:
    WCHAR *out_;
    int cap_;
    int len_ = 0;
    bool cut_ = false;
};

struct Conversion {
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    bool narrow = false;
};

// Writes n digits (most significant first in digits[0..n)) with the sign and
// the padding the conversion asks for.
void PutNumber(Sink &sink, const Conversion &conv, bool negative, const char *digits, int n)
{
    int precisionPad = conv.precision > n ? conv.precision - n : 0;
    int body = n + precisionPad + (negative ? 1 : 0);
    int pad = conv.width > body ? conv.width - body : 0;
    if (!conv.left && !conv.zero)
        sink.Repeat(u' ', pad);
    if (negative)
        sink.Put(u'-');
    if (!conv.left && conv.zero)
        sink.Repeat(u'0', pad);
    sink.Repeat(u'0', precisionPad);
    for (int i = 0; i < n; ++i)
        sink.Put(static_cast<WCHAR>(digits[i]));
    if (conv.left)
        sink.Repeat(u' ', pad);
}

int Digits(unsigned long value, unsigned base, bool upper, char *buf)
{
    char tmp[32];
    int n = 0;
    do {
        unsigned d = static_cast<unsigned>(value % base);
        tmp[n++] = static_cast<char>(d < 10 ? '0' + d : (upper ? 'A' : 'a') + (d - 10));
        value /= base;
    } while (value);
    for (int i = 0; i < n; ++i)
        buf[i] = tmp[n - 1 - i];
    return n;
}

template <typename Ch>
void PutText(Sink &sink, const Conversion &conv, const Ch *text)
{
    static const Ch kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    if (!text)
        text = kNull;
    int n = 0;
    while (text[n] && (conv.precision < 0 || n < conv.precision))
        ++n;
    int pad = conv.width > n ? conv.width - n : 0;
    if (!conv.left)
        sink.Repeat(u' ', pad);
    for (int i = 0; i < n; ++i)
        sink.Put(static_cast<WCHAR>(static_cast<std::make_unsigned_t<Ch>>(text[i])));
    if (conv.left)
        sink.Repeat(u' ', pad);
}

// A conversion's flags, width, precision and size, read from p on; p is
// left at its type character.
Conversion ReadConversion(const WCHAR *&p)
{
    Conversion conv;
    for (;; ++p) {
        if (*p == u'-')
            conv.left = true;
        else if (*p == u'0')
            conv.zero = true;
        else if (*p != u'#')
            break;
    }
    while (*p >= u'0' && *p <= u'9' && conv.width < 10000)
        conv.width = conv.width * 10 + (*p++ - u'0');
    if (*p == u'.') {
        ++p;
        conv.precision = 0;
        while (*p >= u'0' && *p <= u'9' && conv.precision < 10000)
            conv.precision = conv.precision * 10 + (*p++ - u'0');
    }
    if (*p == u'h') {
        conv.narrow = true;
        ++p;
    } else if (*p == u'l' || *p == u'w') {
        ++p;
    }
    return conv;
}

// Writes one conversion of the given type with its argument; an unknown
// type stands for itself.
void PutConversion(Sink &sink, const Conversion &conv, WCHAR type, FormatArgs &args)
{
    char digits[32];
    switch (type) {
    case u'c': {
        WCHAR c = static_cast<WCHAR>(args.Int());
        WCHAR text[2] = {c, 0};
        Conversion one = conv;
        one.precision = 1;
        PutText(sink, one, text);
        break;
    }
    case u'd':
    case u'i': {
        int v = args.Int();
        unsigned long mag = v < 0 ? 0ul - static_cast<unsigned long>(static_cast<long>(v))
                                  : static_cast<unsigned long>(v);
        PutNumber(sink, conv, v < 0, digits, Digits(mag, 10, false, digits));
        break;
    }
    case u'u':
        PutNumber(sink, conv, false, digits, Digits(args.Unsigned(), 10, false, digits));
        break;
    case u'x':
    case u'X':
        PutNumber(sink, conv, false, digits, Digits(args.Unsigned(), 16, type == u'X', digits));
        break;
    case u's':
        if (conv.narrow)
            PutText(sink, conv, args.NarrowText());
        else
            PutText(sink, conv, args.WideText());
        break;
    default:
        sink.Put(type);
        break;
    }
}

} // namespace

int FormatW(WCHAR *out, int cap, const WCHAR *format, va_list args)
{
    VaListArgs source(args);
    return FormatW(out, cap, format, source);
}

int WsprintfW(WCHAR *out, const WCHAR *format, FormatArgs &args)
{
    int n = FormatW(out, kWsprintfLimit, format, args);
    return n < 0 ? kWsprintfLimit - 1 : n;
}

int FormatW(WCHAR *out, int cap, const WCHAR *format, FormatArgs &args)
{
    Sink sink(out, cap);
    if (!format)
        return sink.Finish();

    for (const WCHAR *p = format; *p; ++p) {
        if (*p != u'%') {
            sink.Put(*p);
            continue;
        }
        ++p;
        if (*p == u'%') {
            sink.Put(u'%');
            continue;
        }
        Conversion conv = ReadConversion(p);
        if (*p == 0)
            break; // the format ends inside a conversion
        PutConversion(sink, conv, *p, args);
    }
    return sink.Finish();
}

} // namespace sim
