// The bounded UTF-16 formatter behind FormatW.
#include "util/format_w.h"

#include <algorithm>
#include <cstdint>

#include "platform/module.h"

namespace util {
namespace {

// Collects output up to capacity-1 units and remembers whether anything was cut. Without a
// buffer it only counts.
class BoundedWriter {
public:
    BoundedWriter(char16_t* buffer, size_t capacity) : buffer_(buffer), limit_(capacity - 1) {}

    void Put(char16_t unit) {
        if (used_ < limit_) {
            if (buffer_ != nullptr) buffer_[used_] = unit;
            ++used_;
        } else {
            cut_ = true;
        }
    }
    // As many units as there is room for, in one copy; the rest is cut.
    void Put(std::u16string_view text) {
        const size_t fits = std::min(text.size(), Room());
        if (buffer_ != nullptr) std::copy_n(text.data(), fits, buffer_ + used_);
        Advance(fits, text.size());
    }
    void Repeat(char16_t unit, size_t count) {
        const size_t fits = std::min(count, Room());
        if (buffer_ != nullptr) std::fill_n(buffer_ + used_, fits, unit);
        Advance(fits, count);
    }
    int Finish() {
        if (buffer_ != nullptr) buffer_[used_] = u'\0';
        return cut_ || used_ > static_cast<size_t>(INT32_MAX) ? -1 : static_cast<int>(used_);
    }
    int Fail() {
        if (buffer_ != nullptr) buffer_[0] = u'\0';
        return -1;
    }

private:
    size_t Room() const { return used_ < limit_ ? limit_ - used_ : 0; }
    void Advance(size_t fits, size_t wanted) {
        used_ += fits;
        if (fits < wanted) cut_ = true;
    }

    char16_t* buffer_;
    size_t limit_;
    size_t used_ = 0;
    bool cut_ = false;
};

struct Spec {
    bool leftAlign = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zeroPad = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
    unsigned bits = 32;  // integer width taken from the argument
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Widths beyond this are refused: they could only be mistakes, and would spin the writer.
constexpr size_t kMaxWidth = 1u << 20;

// Reads digits or '*' (taking an argument); false when the value is unusable.
bool ReadCount(const char16_t*& p, const FormatArg* args, size_t argCount, size_t& next,
               size_t& value, bool& negative) {
    negative = false;
    if (*p == u'*') {
        ++p;
        if (next >= argCount || args[next].kind() != FormatArg::Kind::kInteger) return false;
        const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(args[next++].integer()));
        negative = v < 0;
        value = negative ? static_cast<size_t>(-static_cast<int64_t>(v)) : static_cast<size_t>(v);
        return value <= kMaxWidth;
    }
    value = 0;
    while (IsDigit(*p)) {
        value = value * 10 + static_cast<size_t>(*p - u'0');
        if (value > kMaxWidth) return false;
        ++p;
    }
    return true;
}

bool ReadLength(const char16_t*& p, Spec& spec) {
    if (p[0] == u'h' && p[1] == u'h') { spec.bits = 8; p += 2; }
    else if (p[0] == u'h') { spec.bits = 16; ++p; }
    else if (p[0] == u'l' && p[1] == u'l') { spec.bits = 64; p += 2; }
    else if (p[0] == u'l') { spec.bits = 32; ++p; }
    else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') { spec.bits = 64; p += 3; }
    else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') { spec.bits = 32; p += 3; }
    return true;
}

void PadAndPut(BoundedWriter& out, const Spec& spec, std::u16string_view prefix,
               std::u16string_view body, size_t zeros) {
    const size_t length = prefix.size() + zeros + body.size();
    const size_t pad = spec.width > length ? spec.width - length : 0;
    if (!spec.leftAlign) out.Repeat(u' ', pad);
    out.Put(prefix);
    out.Repeat(u'0', zeros);
    out.Put(body);
    if (spec.leftAlign) out.Repeat(u' ', pad);
}

void PutInteger(BoundedWriter& out, const Spec& spec, char16_t conversion, uint64_t bits) {
    const uint64_t mask = spec.bits == 64 ? ~uint64_t{0} : (uint64_t{1} << spec.bits) - 1;
    uint64_t magnitude = bits & mask;
    bool negative = false;
    if (conversion == u'd' || conversion == u'i') {
        const uint64_t signBit = uint64_t{1} << (spec.bits - 1);
        if (magnitude & signBit) {
            negative = true;
            magnitude = (~magnitude + 1) & mask;
        }
    }
    const unsigned base = (conversion == u'x' || conversion == u'X') ? 16 : 10;
    const char16_t* digits = conversion == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";

    char16_t scratch[24];
    size_t n = 0;
    for (uint64_t v = magnitude; v != 0; v /= base) scratch[n++] = digits[v % base];
    // Precision 0 with the value 0 prints no digit at all, as in C.
    if (n == 0 && !(spec.hasPrecision && spec.precision == 0)) scratch[n++] = u'0';
    char16_t body[24];
    for (size_t i = 0; i < n; ++i) body[i] = scratch[n - 1 - i];

    std::u16string_view prefix;
    if (negative) prefix = u"-";
    else if ((conversion == u'd' || conversion == u'i') && spec.plus) prefix = u"+";
    else if ((conversion == u'd' || conversion == u'i') && spec.space) prefix = u" ";
    else if (base == 16 && spec.alternate && magnitude != 0) prefix = conversion == u'X' ? u"0X" : u"0x";

    size_t zeros = spec.hasPrecision && spec.precision > n ? spec.precision - n : 0;
    if (spec.zeroPad && !spec.leftAlign && !spec.hasPrecision) {
        const size_t length = prefix.size() + n;
        if (spec.width > length) zeros = spec.width - length;
    }
    PadAndPut(out, spec, prefix, std::u16string_view(body, n), zeros);
}

int FormatInto(BoundedWriter& out, const char16_t* format, const FormatArg* args,
               size_t argCount);

}  // namespace

int FormatWArgs(char16_t* buffer, size_t capacity, const char16_t* format,
                const FormatArg* args, size_t argCount) {
    if (buffer == nullptr || capacity == 0) return -1;
    BoundedWriter out(buffer, capacity);
    return FormatInto(out, format, args, argCount);
}

int FormattedLengthArgs(const char16_t* format, const FormatArg* args, size_t argCount) {
    BoundedWriter counter(nullptr, SIZE_MAX);
    return FormatInto(counter, format, args, argCount);
}

namespace {

int FormatInto(BoundedWriter& out, const char16_t* format, const FormatArg* args,
               size_t argCount) {
    if (format == nullptr) return out.Fail();

    size_t next = 0;
    for (const char16_t* p = format; *p != u'\0';) {
        if (*p != u'%') {
            out.Put(*p++);
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.Put(*p++);
            continue;
        }
        Spec spec;
        for (;; ++p) {
            if (*p == u'-') spec.leftAlign = true;
            else if (*p == u'+') spec.plus = true;
            else if (*p == u' ') spec.space = true;
            else if (*p == u'#') spec.alternate = true;
            else if (*p == u'0') spec.zeroPad = true;
            else break;
        }
        bool negative = false;
        if (!ReadCount(p, args, argCount, next, spec.width, negative)) return out.Fail();
        if (negative) spec.leftAlign = true;  // a negative '*' width means left alignment
        if (*p == u'.') {
            ++p;
            spec.hasPrecision = true;
            if (!ReadCount(p, args, argCount, next, spec.precision, negative)) return out.Fail();
            if (negative) spec.hasPrecision = false;  // a negative precision is ignored
        }
        ReadLength(p, spec);

        const char16_t conversion = *p;
        if (conversion == u'\0') return out.Fail();
        ++p;
        if (next >= argCount) return out.Fail();
        const FormatArg& arg = args[next++];

        switch (conversion) {
            case u'd': case u'i': case u'u': case u'x': case u'X':
                if (arg.kind() != FormatArg::Kind::kInteger) return out.Fail();
                PutInteger(out, spec, conversion, arg.integer());
                break;
            case u'c': {
                if (arg.kind() != FormatArg::Kind::kInteger) return out.Fail();
                const char16_t unit = static_cast<char16_t>(arg.integer());
                PadAndPut(out, spec, {}, std::u16string_view(&unit, 1), 0);
                break;
            }
            case u's': {
                if (arg.kind() != FormatArg::Kind::kText) return out.Fail();
                std::u16string_view text = arg.textIsNull() ? u"(null)" : arg.text();
                if (spec.hasPrecision && text.size() > spec.precision) text = text.substr(0, spec.precision);
                PadAndPut(out, spec, {}, text, 0);
                break;
            }
            default:
                return out.Fail();
        }
    }
    return out.Finish();
}

}  // namespace
int FormatJoinedPath(char16_t* buffer, size_t capacity, std::u16string_view folder,
                     std::u16string_view name) {
    const char16_t format[] = {u'%', u's', platform::kPathSeparator, u'%', u's', u'\0'};
    return FormatW(buffer, capacity, format, folder, name);
}

}  // namespace util
