#include "format.h"

#include <oleauto.h>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "describe.h"
#include "linetext.h"
#include "objects.h"
#include "pool.h"
#include "raii.h"

namespace korbin {
namespace {

// Corrupt arrays must not keep a handler busy: at most this many elements.
constexpr uint32_t kMaxElements = 1000;
constexpr size_t kCut = 60;


void Piece(Sink& sink, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Piece(Sink& sink, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    FormatLineText(text, sizeof text, format, args);
    va_end(args);
    sink.Piece(text);
}

void MemberName(ITypeInfo* info, MEMBERID id, char* out, size_t outSize) {
    vx::unique_bstr name;
    out[0] = '\0';
    if (SUCCEEDED(info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr)))
        NarrowText(name.get(), -1, out, outSize);
}

// Line breaks would split the record: shown as 0x01 and 0x02 instead.
void ReplaceBreaks(char* text) {
    for (char* c = text; *c; ++c) {
        if (*c == '\r') *c = '\x01';
        if (*c == '\n') *c = '\x02';
    }
}

// A control byte would cut (0x00), end (0x01) or split (CR, LF) the record:
// line breaks as strings show them, the other control bytes as a dot.
char ShownByte(char c) {
    if (c == '\r') return '\x01';
    if (c == '\n') return '\x02';
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F ? '.' : c;
}

// A client's string, at most capacity - 1 characters: *length of them read;
// false when its memory stopped being readable first.
template <typename Char>
bool ReadText(const Char* text, Char* buffer, size_t capacity, size_t* length) {
    *length = 0;
    while (*length + 1 < capacity) {
        if (!ReadClient(text + *length, &buffer[*length], sizeof(Char))) return false;
        if (buffer[*length] == 0) return true;
        ++*length;
    }
    return true;
}

// The string pointer at `address`; false when unreadable. A null one is
// written as "=NULL" and leaves *text null.
template <typename Char>
bool StringPointer(Sink& sink, const void* address, const Char** text) {
    *text = nullptr;
    if (!ReadClient(address, text, sizeof *text)) return false;
    if (!*text) sink.Piece("\b=NULL");
    return true;
}

bool FormatBstr(Sink& sink, const void* address) {
    const wchar_t* text = nullptr;
    if (!StringPointer(sink, address, &text)) return false;
    if (!text) return true;
    uint32_t bytes = 0;
    if (!ReadClient(reinterpret_cast<const char*>(text) - 4, &bytes, 4)) return false;
    size_t length = bytes / 2;
    wchar_t wide[kCut + 1];
    size_t take = length > kCut ? kCut : length;
    if (take && !ReadClient(text, wide, take * sizeof(wchar_t))) return false;
    char narrow[kCut * 2 + 8];
    NarrowText(wide, static_cast<int>(take), narrow, sizeof narrow);
    if (length > kCut) std::strcat(narrow, ".....");
    ReplaceBreaks(narrow);
    Piece(sink, "\b=\"%s\"", narrow);
    return true;
}

// An ANSI string: as VT_LPWSTR, in the same 60-byte buffer.
bool FormatLpstr(Sink& sink, const void* address) {
    const char* text = nullptr;
    if (!StringPointer(sink, address, &text)) return false;
    if (!text) return true;
    char narrow[kCut];
    size_t length = 0;
    if (!ReadText(text, narrow, kCut, &length)) return false;
    narrow[length] = '\0';
    ReplaceBreaks(narrow);
    Piece(sink, length >= kCut - 1 ? "\b=\"%s.....\"" : "\b=\"%s\"", narrow);
    return true;
}

bool FormatLpwstr(Sink& sink, const void* address) {
    const wchar_t* text = nullptr;
    if (!StringPointer(sink, address, &text)) return false;
    if (!text) return true;
    wchar_t wide[kCut];
    size_t length = 0;
    if (!ReadWideText(text, wide, kCut, &length)) return false;
    char narrow[kCut * 2];
    NarrowText(wide, static_cast<int>(length), narrow, sizeof narrow);
    ReplaceBreaks(narrow);
    Piece(sink, length >= kCut - 1 ? "\b=\"%s.....\"" : "\b=\"%s\"", narrow);
    return true;
}

bool IsGuidRecord(ITypeInfo* info, const TYPEATTR& attr) {
    if (attr.typekind != TKIND_RECORD || attr.cVars != 4) return false;
    static const char* const kNames[] = {"Data1", "Data2", "Data3", "Data4"};
    for (UINT i = 0; i < 4; ++i) {
        vx::unique_vardesc v(info, i);
        if (!v) return false;
        char name[32];
        MemberName(info, v->memid, name, sizeof name);
        if (std::strcmp(name, kNames[i]) != 0) return false;
        if (i == 3 && v->elemdescVar.tdesc.vt != VT_CARRAY) return false;
    }
    return true;
}

// "  <name>" with "*" per pointer level; enumerations only where a null
// pointer stands for the value.
void UserTypeMark(Sink& sink, ITypeInfo* info, unsigned levels, bool enumerations = false) {
    vx::unique_typeattr a(info);
    if (!a) return;
    if (a->typekind == TKIND_ENUM && !enumerations) return;
    switch (a->typekind) {
    case TKIND_ENUM:
    case TKIND_RECORD:
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
    case TKIND_COCLASS:
    case TKIND_ALIAS:
    case TKIND_UNION: {
        char name[128];
        MemberName(info, MEMBERID_NIL, name, sizeof name);
        Piece(sink, "\b  <%s", name);
        if (levels == 1) sink.Piece("\b*");
        if (levels == 2) sink.Piece("\b**");
        sink.Piece("\b>");
        break;
    }
    default:
        break;
    }
}

void WriteTypeNamePiece(Sink& sink, VARTYPE code) {
    char name[96];
    TypeName(code, name, sizeof name);
    sink.Piece(name);
}

bool FormatMembers(Sink& sink, ITypeInfo* info, const TYPEATTR& attr, const char* title, const char* base, bool unionLayout) {
    sink.Piece(title);
    sink.Indent(3);
    bool ok = true;
    for (UINT i = 0; i < attr.cVars && ok; ++i) {
        vx::unique_vardesc v(info, i);
        if (!v) continue;
        char name[128];
        MemberName(info, v->memid, name, sizeof name);
        sink.Piece(name);
        VARTYPE code = EncodeType(v->elemdescVar.tdesc);
        TypeDetails* details = BuildDetails(info, v->elemdescVar.tdesc);
        if (v->varkind == VAR_CONST && v->lpvarValue) {
            code = V_VT(v->lpvarValue);
            ok = FormatValue(sink, code, nullptr, &v->lpvarValue->lVal);
        } else {
            ok = FormatValue(sink, code, details, base + (unionLayout ? 0 : v->oInst));
        }
        sink.Piece("\b  (");
        WriteTypeNamePiece(sink, code);
        sink.Piece("\b)");
    }
    sink.Indent(-3);
    sink.Piece("}");
    return ok;
}

bool FormatEnum(Sink& sink, ITypeInfo* info, const TYPEATTR& attr, const char* address) {
    char enumName[128];
    MemberName(info, MEMBERID_NIL, enumName, sizeof enumName);
    for (UINT i = 0; i < attr.cVars; ++i) {
        vx::unique_vardesc v(info, i);
        if (!v || v->varkind != VAR_CONST || !v->lpvarValue) continue;
        VARTYPE type = V_VT(v->lpvarValue);
        uint32_t size = ValueSize(type, nullptr);
        if (size == 0 || size > 8) continue;
        uint64_t value = 0, constant = 0;
        if (!ReadClient(address, &value, size)) return false;
        std::memcpy(&constant, &v->lpvarValue->llVal, size);
        if (value != constant) continue;
        char name[128];
        MemberName(info, v->memid, name, sizeof name);
        Piece(sink, "\b=%s", name);
        if (!FormatValue(sink, type, nullptr, address)) return false;
        Piece(sink, "\b  (Enumeration <%s> of ", enumName);
        WriteTypeNamePiece(sink, type);
        sink.Piece("\b)");
        return true;
    }
    return true;
}

bool FormatUser(Sink& sink, const TypeDetails* details, const char* address, const char* label, unsigned levels) {
    if (!details || !details->user) return true;
    ITypeInfo* info = details->user;
    vx::unique_typeattr a(info);
    if (!a) return true;
    if (IsGuidRecord(info, *a)) {
        IID iid;
        if (!ReadClient(address, &iid, sizeof iid)) return false;
        if (*label) Piece(sink, "\b%s", label);
        char text[300];
        InterfaceIdText(iid, text, sizeof text);
        Piece(sink, "\b = %s", text);
        return true;
    }
    if (a->typekind == TKIND_ALIAS) {
        if (*label) Piece(sink, "\b%s", label);
        bool ok = FormatValue(sink, details->aliased, details->aliasedDetails, address);
        UserTypeMark(sink, info, levels);
        return ok;
    }
    UserTypeMark(sink, info, levels);
    switch (a->typekind) {
    case TKIND_RECORD:
        return FormatMembers(sink, info, *a, "{ struct's members", address, false);
    case TKIND_UNION:
        return FormatMembers(sink, info, *a, "{ union's members", address, true);
    case TKIND_ENUM:
        return FormatEnum(sink, info, *a, address);
    default:
        return true;
    }
}

// Elements of one or two dimensions, the first bound the outer loop.
bool FormatElements(Sink& sink, VARTYPE element, const TypeDetails* details, uint32_t size, const char* data,
                    uint16_t dimensions, const SAFEARRAYBOUND* bounds) {
    if (dimensions == 0 || dimensions > 2) return true;
    sink.Piece("{ elements");
    sink.Piece("\b  (");
    WriteTypeNamePiece(sink, element);
    sink.Piece("\b)");
    sink.Indent(3);
    const uint32_t outer = bounds[0].cElements;
    const uint32_t inner = dimensions == 2 ? bounds[1].cElements : 1;
    uint32_t shown = 0;
    bool ok = true;
    for (uint32_t i = 0; i < outer && ok && shown < kMaxElements; ++i) {
        for (uint32_t j = 0; j < inner && ok && shown < kMaxElements; ++j, ++shown) {
            if (dimensions == 1)
                Piece(sink, "[%ld]", bounds[0].lLbound + static_cast<LONG>(i));
            else
                Piece(sink, "[%ld,%ld]", bounds[0].lLbound + static_cast<LONG>(i), bounds[1].lLbound + static_cast<LONG>(j));
            if (size) ok = FormatValue(sink, element, details, data + static_cast<size_t>(shown) * size);
        }
    }
    sink.Indent(-3);
    sink.Piece("}");
    return ok;
}

bool FormatSafeArray(Sink& sink, const void* address) {
    const SAFEARRAY* array = nullptr;
    if (!ReadClient(address, &array, sizeof array)) return false;
    if (!array) {
        sink.Piece("\b=NULL");
        return true;
    }
    struct {
        SAFEARRAY header;
        SAFEARRAYBOUND more;
    } copy;
    if (!ReadClient(array, &copy.header, sizeof copy.header)) return false;
    uint16_t dims = copy.header.cDims;
    if (dims == 0 || dims > 2) return true;
    if (dims == 2 && !ReadClient(array->rgsabound, copy.header.rgsabound, 2 * sizeof(SAFEARRAYBOUND))) return false;
    VARTYPE element = VT_EMPTY;
    const USHORT features = copy.header.fFeatures;
    if (features & FADF_HAVEVARTYPE) {
        DWORD vt = 0;
        if (!ReadClient(reinterpret_cast<const DWORD*>(array) - 1, &vt, sizeof vt)) return false;
        element = static_cast<VARTYPE>(vt);
    } else if (features & FADF_BSTR) {
        element = VT_BSTR;
    } else if (features & FADF_UNKNOWN) {
        element = VT_UNKNOWN;
    } else if (features & FADF_DISPATCH) {
        element = VT_DISPATCH;
    } else if (features & FADF_VARIANT) {
        element = VT_VARIANT;
    }
    return FormatElements(sink, element, nullptr, copy.header.cbElements, static_cast<const char*>(copy.header.pvData),
                          dims, copy.header.rgsabound);
}

template <typename T>
bool Read(const void* address, T* value) {
    return ReadClient(address, value, sizeof *value);
}

}  // namespace

namespace {

// A value past its pointer levels: what every formatter of a base type gets.
struct Value {
    Sink& sink;
    const char* address;
    const char* label;  // "  *ptr" or "  **ptr" once pointers were followed, else ""
    const TypeDetails* details;
    unsigned levels;
};

void WithLabel(const Value& v) {
    if (*v.label) Piece(v.sink, "\b%s", v.label);
}

// "=%d (%xh)": the value in decimal, and in hexadecimal sign-extended to 32 bits.
template <typename T>
bool Integer(const Value& v) {
    T value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    const auto wide = static_cast<int32_t>(value);
    Piece(v.sink, "\b=%d (%xh)", static_cast<int>(wide), static_cast<unsigned>(wide));
    return true;
}

bool Char(const Value& v) {
    int8_t value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    Piece(v.sink, "\b=%d (%xh='%c')", value, static_cast<unsigned>(static_cast<int32_t>(value)), ShownByte(value));
    return true;
}

template <typename T>
bool Real(const Value& v) {
    T value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    Piece(v.sink, "\b=%f", static_cast<double>(value));
    return true;
}

// VT_CY and VT_I8: the raw 64-bit integer (currency is not scaled).
bool Integer64(const Value& v) {
    int64_t value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    Piece(v.sink, "\b=%lld (%llxh)", static_cast<long long>(value), static_cast<unsigned long long>(value));
    return true;
}

// VT_UI8: what 64-bit processes pass as DWORD_PTR and ULONG_PTR (cookies, sizes).
bool Unsigned64(const Value& v) {
    uint64_t value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    Piece(v.sink, "\b=%llu (%llxh)", static_cast<unsigned long long>(value), static_cast<unsigned long long>(value));
    return true;
}

bool Bool(const Value& v) {
    int16_t value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    const auto wide = static_cast<unsigned>(static_cast<int32_t>(value));
    if (value == -1)
        Piece(v.sink, "\b=VARIANT_TRUE (%xh)", wide);
    else if (value == 0)
        Piece(v.sink, "\b=VARIANT_FALSE (%xh)", wide);
    else
        Piece(v.sink, "\b=%d (%xh)", value, wide);
    return true;
}

bool PointerWord(const Value& v) {
    uintptr_t value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    Piece(v.sink, "\b=%" PRIxPTR "h", value);
    return true;
}

bool Bstr(const Value& v) {
    WithLabel(v);
    return FormatBstr(v.sink, v.address);
}

bool Lpwstr(const Value& v) {
    WithLabel(v);
    return FormatLpwstr(v.sink, v.address);
}

bool Lpstr(const Value& v) {
    WithLabel(v);
    return FormatLpstr(v.sink, v.address);
}

bool Date(const Value& v) {
    double value;
    if (!Read(v.address, &value)) return false;
    WithLabel(v);
    if (value == 0) {
        v.sink.Piece("\b=0");
    } else {
        char text[64];
        DateText(value, text, sizeof text);
        Piece(v.sink, "\b=\"%s\"", text);
    }
    return true;
}

bool Variant(const Value& v) {
    VARTYPE vt;
    if (!Read(v.address, &vt)) return false;
    if (!(vt & (VT_ARRAY | VT_BYREF))) WithLabel(v);
    bool ok = (vt & VT_ARRAY) ? FormatSafeArray(v.sink, v.address + 8) : FormatValue(v.sink, vt, nullptr, v.address + 8);
    v.sink.Piece("\b (");
    WriteTypeNamePiece(v.sink, vt);
    v.sink.Piece("\b)");
    return ok;
}

// Listed like a VARIANT's array: the elements are what the caller passed.
bool SafeArray(const Value& v) {
    WithLabel(v);
    return FormatSafeArray(v.sink, v.address);
}

bool CArray(const Value& v) {
    if (!v.details) return true;
    return FormatElements(v.sink, v.details->element, v.details->elementDetails, v.details->elementSize, v.address,
                          v.details->dimensions, v.details->bounds);
}

bool User(const Value& v) { return FormatUser(v.sink, v.details, v.address, v.label, v.levels); }

using Formatter = bool (*)(const Value&);

// The base types that show a value; every other one shows none.
constexpr struct {
    VARTYPE base;
    Formatter format;
} kFormatters[] = {
    {VT_I2, Integer<int16_t>},    {VT_I4, Integer<int32_t>},   {VT_INT, Integer<int32_t>},
    {VT_UINT, Integer<int32_t>},  {VT_UI4, Integer<int32_t>},  {VT_ERROR, Integer<int32_t>},
    {VT_UI1, Integer<uint8_t>},   {VT_UI2, Integer<uint16_t>}, {VT_I1, Char},
    {VT_R4, Real<float>},         {VT_R8, Real<double>},       {VT_CY, Integer64},
    {VT_I8, Integer64},           {VT_UI8, Unsigned64},        {VT_BOOL, Bool},
    {VT_DISPATCH, PointerWord},   {VT_UNKNOWN, PointerWord},   {VT_VOID, PointerWord},
    {VT_BSTR, Bstr},              {VT_LPWSTR, Lpwstr},         {VT_LPSTR, Lpstr},
    {VT_DATE, Date},              {VT_VARIANT, Variant},
    {VT_SAFEARRAY, SafeArray},    {VT_CARRAY, CArray},         {VT_USERDEFINED, User},
};

Formatter FormatterOf(VARTYPE base) {
    for (const auto& f : kFormatters)
        if (f.base == base) return f.format;
    return nullptr;
}

}  // namespace

bool FormatValue(Sink& sink, VARTYPE code, const TypeDetails* details, const void* addressIn) {
    if (code == 0xFFFF || code == 0x0FFF) return true;
    auto* address = static_cast<const char*>(addressIn);
    const char* label = "";
    unsigned levels = (code >> 8) & 0x0F;
    const bool byref = code & VT_BYREF;
    const bool user = (code & 0xFF) == VT_USERDEFINED;
    if (levels > 2) return true;
    unsigned follow = levels ? levels : (byref ? 1 : 0);
    // A pointer to nothing in particular (a handle, a buffer, an object the
    // callee casts) is shown as it is: what it points to has no type, and a
    // handle points to no memory at all.
    if ((code & 0xFF) == VT_VOID && follow > 0) --follow;
    // Each level: "ptr=" then "*ptr=" with the pointer read there; a null one
    // ends the value ("=NULL" outside, "*ptr=NULL" inside).
    static const char* const kPointerText[] = {"\b  ptr=%" PRIxPTR "h", "\b  *ptr=%" PRIxPTR "h"};
    static const char* const kNullText[] = {"\b=NULL", "\b  *ptr=NULL"};
    static const char* const kLabels[] = {"  *ptr", "  **ptr"};
    for (unsigned level = 0; level < follow; ++level) {
        const void* p = nullptr;
        if (!Read(address, &p)) return false;
        if (!p) {
            sink.Piece(kNullText[level]);
            if (user && details) UserTypeMark(sink, details->user, levels, true);
            return true;
        }
        Piece(sink, kPointerText[level], reinterpret_cast<uintptr_t>(p));
        address = static_cast<const char*>(p);
        label = kLabels[follow - 1];
    }
    const Formatter format = FormatterOf(static_cast<VARTYPE>(code & 0xFF));
    return !format || format(Value{sink, address, label, details, levels});
}

void DateText(double date, char* out, size_t outSize) {
    out[0] = '\0';
    if (!(date >= 1) || date > 2958466) return;
    auto days = static_cast<long>(date);
    double fraction = date - static_cast<double>(days);
    // Counted from day 1 (shown as 1/1/0): a 366-day year, then three of 365.
    long n = days - 1;
    int year = 0;
    for (;;) {
        int length = year % 4 == 0 ? 366 : 365;
        if (n < length) break;
        n -= length;
        ++year;
    }
    static const int kMonths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    for (; month < 12; ++month) {
        int length = kMonths[month] + (month == 1 && year % 4 == 0 ? 1 : 0);
        if (n < length) break;
        n -= length;
    }
    auto seconds = static_cast<long>(fraction * 86400);
    int hour = static_cast<int>(seconds / 3600), minute = static_cast<int>(seconds / 60 % 60),
        second = static_cast<int>(seconds % 60);
    std::snprintf(out, outSize, "%d/%ld/%d %d:%d:%d %s", month + 1, n + 1, year % 100, hour % 12 == 0 ? 12 : hour % 12,
                  minute, second, hour < 12 ? "AM" : "PM");
}

void InterfaceIdText(REFIID iid, char* out, size_t outSize) {
    if (IsEqualIID(iid, IID_NULL)) {
        std::snprintf(out, outSize, "{IID_NULL}");
        return;
    }
    InterfaceDescription d;
    if (DescribeInterface(iid, nullptr, d) && d.name[0]) {
        std::snprintf(out, outSize, "{%s}", d.name);
        return;
    }
    // A class id (IPersist::GetClassID, IProvideClassInfo2's GUIDs): its registered name.
    char name[MAX_PATH];
    if (RegisteredClassName(iid, name, sizeof name)) {
        std::snprintf(out, outSize, "{%s}", name);
        return;
    }
    GuidString(iid, out, outSize);
}

bool ReadWideText(const wchar_t* text, wchar_t* buffer, size_t capacity, size_t* length) {
    return ReadText(text, buffer, capacity, length);
}

}  // namespace korbin
