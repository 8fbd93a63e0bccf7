#include "memfile/ScriptArray.h"
#include "Owners.h"
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cmath>
#include <new>

namespace tarnwick::memfile {
namespace {

// The decimal member name of an index, as VariantChangeType would render it: no sign for
// non-negative values, no leading zeros.
const wchar_t* IndexName(long index, wchar_t (&buffer)[16]) {
    wchar_t* p = buffer + 15;
    *p = L'\0';
    unsigned long magnitude = index < 0 ? 0UL - static_cast<unsigned long>(index)
                                        : static_cast<unsigned long>(index);
    do {
        *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (index < 0) *--p = L'-';
    return p;
}

const VARIANT* Deref(const VARIANT* v) {
    while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
    return v;
}

// A script value as a number: integers exactly (as a 64-bit value), everything numeric as a
// double. Returns false for values that are no number.
struct Number {
    bool isInteger = false;
    long long integer = 0;
    double real = 0.0;
};

// Blanks the page's script trims around a number: white space and line terminators.
bool IsScriptBlank(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x00A0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000 || c == 0xFEFF;
}

// A text as the page's script turns it into a number: surrounding blanks, then a decimal number
// (sign, digits with one optional point, optional exponent) or "0x" with hex digits. Anything
// else (thousands separators, parentheses, locale forms, "&H", "Infinity") is no number. A text
// without any digits counts as none either: it names no byte.
bool ScriptTextToNumber(const wchar_t* text, double& value) {
    const wchar_t* begin = text;
    const wchar_t* end = text + wcslen(text);
    while (begin < end && IsScriptBlank(*begin)) ++begin;
    while (end > begin && IsScriptBlank(end[-1])) --end;
    std::string ascii;
    if (end - begin > 2 && begin[0] == L'0' && (begin[1] == L'x' || begin[1] == L'X')) {
        double hexValue = 0;
        for (const wchar_t* p = begin + 2; p < end; ++p) {
            int digit = (*p >= L'0' && *p <= L'9') ? *p - L'0'
                      : (*p >= L'a' && *p <= L'f') ? *p - L'a' + 10
                      : (*p >= L'A' && *p <= L'F') ? *p - L'A' + 10 : -1;
            if (digit < 0) return false;
            hexValue = hexValue * 16 + digit;
        }
        value = hexValue;
        return true;
    }
    const wchar_t* p = begin;
    if (p < end && (*p == L'+' || *p == L'-')) ++p;
    size_t digits = 0;
    while (p < end && *p >= L'0' && *p <= L'9') ++p, ++digits;
    if (p < end && *p == L'.') {
        ++p;
        while (p < end && *p >= L'0' && *p <= L'9') ++p, ++digits;
    }
    if (digits == 0) return false;
    if (p < end && (*p == L'e' || *p == L'E')) {
        ++p;
        if (p < end && (*p == L'+' || *p == L'-')) ++p;
        size_t exponentDigits = 0;
        while (p < end && *p >= L'0' && *p <= L'9') ++p, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    if (p != end) return false;
    for (const wchar_t* q = begin; q < end; ++q) ascii += static_cast<char>(*q);
    value = strtod(ascii.c_str(), nullptr);  // the C locale: '.' is the point
    return true;
}

bool ToNumber(const VARIANT* value, Number& out) {
    const VARIANT* v = Deref(value);
    const VARTYPE vt = V_VT(v);
    const bool byRef = (vt & VT_BYREF) != 0;
    switch (vt & ~VT_BYREF) {
    case VT_I1: out.integer = byRef ? *V_I1REF(v) : V_I1(v); break;
    case VT_UI1: out.integer = byRef ? *V_UI1REF(v) : V_UI1(v); break;
    case VT_I2: out.integer = byRef ? *V_I2REF(v) : V_I2(v); break;
    case VT_UI2: out.integer = byRef ? *V_UI2REF(v) : V_UI2(v); break;
    case VT_I4: out.integer = byRef ? *V_I4REF(v) : V_I4(v); break;
    case VT_UI4: out.integer = byRef ? *V_UI4REF(v) : V_UI4(v); break;
    case VT_INT: out.integer = byRef ? *V_INTREF(v) : V_INT(v); break;
    case VT_UINT: out.integer = byRef ? *V_UINTREF(v) : V_UINT(v); break;
    case VT_I8: out.integer = byRef ? *V_I8REF(v) : V_I8(v); break;
    case VT_UI8: out.integer = static_cast<long long>(byRef ? *V_UI8REF(v) : V_UI8(v)); break;
    case VT_BOOL: out.integer = (byRef ? *V_BOOLREF(v) : V_BOOL(v)) ? 1 : 0; break;
    case VT_R4:
        out.real = byRef ? *V_R4REF(v) : V_R4(v);
        return std::isfinite(out.real);
    case VT_R8:
        out.real = byRef ? *V_R8REF(v) : V_R8(v);
        return std::isfinite(out.real);
    case VT_BSTR: {
        BSTR text = byRef ? *V_BSTRREF(v) : V_BSTR(v);
        if (!text || !ScriptTextToNumber(text, out.real)) return false;
        return std::isfinite(out.real);
    }
    default:
        return false;  // empty, null, objects, dates, errors ...
    }
    out.isInteger = true;
    return true;
}

bool ToByte(const VARIANT* value, unsigned char& byte) {
    // The common case first: the engine hands over plain 32-bit integers.
    if (V_VT(value) == VT_I4) {
        byte = static_cast<unsigned char>(V_I4(value));
        return true;
    }
    Number n;
    if (!ToNumber(value, n)) return false;
    if (n.isInteger) {
        byte = static_cast<unsigned char>(n.integer);
    } else {
        double rest = std::fmod(std::trunc(n.real), 256.0);
        if (rest < 0) rest += 256.0;
        byte = static_cast<unsigned char>(rest);
    }
    return true;
}

bool ToLength(const VARIANT* value, long& length) {
    if ((V_VT(Deref(value)) & ~VT_BYREF) == VT_BOOL) return false;  // a flag is no byte count
    Number n;
    if (!ToNumber(value, n)) return false;
    if (!n.isInteger) {
        double whole = std::trunc(n.real);
        if (whole < static_cast<double>(LONG_MIN) || whole > static_cast<double>(LONG_MAX))
            return false;
        length = static_cast<long>(whole);
        return true;
    }
    if (n.integer < LONG_MIN || n.integer > LONG_MAX) return false;
    length = static_cast<long>(n.integer);
    return true;
}

// The storage of a memory file grows in whole steps of 1024 bytes, doubling so that a large file
// is not copied over and over, and never beyond the announced length rounded up to a step.
constexpr size_t kGrowthStep = 1024;
constexpr size_t kFirstBlock = 64 * 1024;

size_t RoundUpToStep(size_t n) { return (n + kGrowthStep - 1) / kGrowthStep * kGrowthStep; }

void Grow(std::vector<unsigned char>& buffer, size_t announced) {
    size_t capacity = buffer.capacity();
    size_t next = capacity < kFirstBlock ? kFirstBlock : capacity * 2;
    size_t limit = RoundUpToStep(announced);
    if (next > limit) next = limit;
    if (next <= capacity) next = capacity + kGrowthStep;
    buffer.reserve(RoundUpToStep(next));  // std::bad_alloc ends the script call
}

}  // namespace

ArrayRead ReadProperty(IDispatch* object, LPCOLESTR name, VARIANT* value) {
    ArrayRead read;
    read.name = name;
    if (!object) {
        read.fault = ArrayFault::NullObject;
        read.hr = E_POINTER;
        return read;
    }
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    read.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(read.hr)) {
        read.fault = ArrayFault::PropertyName;
        return read;
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    read.hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, value,
                             nullptr, nullptr);
    if (FAILED(read.hr)) read.fault = ArrayFault::PropertyGet;
    return read;
}

ArrayRead ReadElement(IDispatch* object, long index, VARIANT* value) {
    ArrayRead read;
    read.index = index;
    if (!object) {
        read.fault = ArrayFault::NullElements;
        read.hr = E_POINTER;
        return read;
    }
    wchar_t buffer[16];
    LPOLESTR names[1] = {const_cast<LPOLESTR>(IndexName(index, buffer))};
    DISPID id = DISPID_UNKNOWN;
    read.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(read.hr)) {
        read.fault = ArrayFault::ElementName;
        return read;
    }
    UniqueVariant element;  // cleared on failure: a misbehaving object may have filled it anyway
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    read.hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none,
                             element.get(), nullptr, nullptr);
    if (FAILED(read.hr)) {
        read.fault = ArrayFault::ElementGet;
        return read;
    }
    element.release(value);
    return read;
}

// A platform array the reader takes: one dimension of bytes or variants.
ArrayRead CheckArray(const MemorySource& source) {
    ArrayRead read;
    const unsigned dims = SafeArrayGetDim(source.array);
    if (dims != 1 || (source.elementType != VT_UI1 && source.elementType != VT_VARIANT)) {
        read.fault = ArrayFault::Unsupported;
        read.hr = DISP_E_TYPEMISMATCH;
        read.dims = dims;
        read.type = source.elementType;
    }
    return read;
}

ArrayRead ReadLength(const MemorySource& source, long& length) {
    length = -1;
    if (source.array) {
        ArrayRead read = CheckArray(source);
        if (!read.ok()) return read;
        const ULONG count = source.array->rgsabound[0].cElements;
        if (count > static_cast<ULONG>(LONG_MAX)) {
            read.fault = ArrayFault::Unsupported;
            read.dims = 1;
            read.type = source.elementType;
            return read;
        }
        length = static_cast<long>(count);
        return read;
    }
    UniqueVariant value;
    ArrayRead read = ReadProperty(source.object, L"length", value.get());
    if (!read.ok()) return read;
    if (!ToLength(value.get(), length)) {
        length = -1;
        read.fault = ArrayFault::PropertyGet;
    }
    return read;
}

void MemoryBytes::Borrow(ArrayDataLock lock, const unsigned char* data, size_t size) {
    Clear();
    locked_ = std::move(lock);
    borrowed_ = data;
    borrowedSize_ = size;
}

void MemoryBytes::Clear() {
    locked_.reset();
    borrowed_ = nullptr;
    borrowedSize_ = 0;
    std::vector<unsigned char>().swap(owned_);
}

namespace {

// The elements of a one-dimensional platform array, in place for bytes.
ArrayRead ReadArray(const MemorySource& source, long count, MemoryBytes& bytes) {
    ArrayRead read;
    void* data = nullptr;
    ArrayDataLock lock = AccessArrayData(source.array, &data, read.hr);
    if (!lock) {
        read.fault = ArrayFault::ElementGet;
        return read;
    }
    if (source.elementType == VT_UI1) {
        bytes.Borrow(std::move(lock), static_cast<const unsigned char*>(data), static_cast<size_t>(count));
        return read;
    }
    const VARIANT* elements = static_cast<const VARIANT*>(data);
    std::vector<unsigned char>& out = bytes.Owned();
    out.resize(static_cast<size_t>(count));  // std::bad_alloc ends the script call
    for (long i = 0; i < count; ++i) {
        if (!ToByte(&elements[i], out[static_cast<size_t>(i)])) {
            read.fault = ArrayFault::ElementGet;
            read.hr = DISP_E_TYPEMISMATCH;
            read.index = i;
            return read;
        }
    }
    return read;
}

}  // namespace

ArrayRead ReadElements(IDispatch* object, std::vector<unsigned char>& buffer, long count) {
    buffer.clear();
    ArrayRead read;
    if (count <= 0) return read;
    const size_t announced = static_cast<size_t>(count);
    for (long i = 0; i < count; ++i) {
        UniqueVariant element;
        read = ReadElement(object, i, element.get());
        if (!read.ok()) return read;
        unsigned char byte = 0;
        if (!ToByte(element.get(), byte)) {
            read.fault = ArrayFault::ElementGet;
            read.hr = DISP_E_TYPEMISMATCH;
            return read;
        }
        if (buffer.size() == buffer.capacity()) Grow(buffer, announced);
        buffer.push_back(byte);
    }
    return read;
}

bool ReadMemoryFile(const MemorySource& source, MemoryBytes& bytes, ArrayRead& read) {
    ScopeExit release([&] { bytes.Clear(); });
    long count = -1;
    read = ReadLength(source, count);
    if (!read.ok() || count <= 0) return false;
    if (source.array)
        read = ReadArray(source, count, bytes);
    else
        read = ReadElements(source.object, bytes.Owned(), count);
    if (!read.ok() || bytes.empty()) return false;
    release.dismiss();
    return true;
}

}  // namespace tarnwick::memfile
