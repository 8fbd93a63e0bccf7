// The script array bridge: a memory file is a script object with a "length" property and
// elements "0", "1", ... holding byte values. The control holds only the object's IDispatch, so
// every byte costs one member lookup by name and one property get; everything else is kept out
// of that loop (the element's name is formatted on the stack, the buffer grows geometrically).
//
// What a value means:
//  - "length": an integer value is taken as it is; a fraction is truncated toward zero; a string
//    holding a number counts as that number. Anything else (booleans, no number, NaN, a value
//    outside the 32-bit signed range) is refused with the Invoke message and counts as a failed read.
//  - an element: an integer gives its low 8 bits (256 -> 0, -1 -> 255, 511 -> 255), whatever its
//    width (VBScript's 16-bit integers included). A fraction is truncated toward zero and then
//    gives its low 8 bits, a boolean gives 1 or 0 and a string holding a number converts like that
//    number: the byte is what `value & 255` gives in the page's own script. Values that are not
//    numbers (undefined, null, objects, other strings, NaN, infinities) are refused with the
//    element's Invoke message: writing a silent 0 for them would hand the page a damaged file.
#include "control/TarnwickCtrl.h"
#include "framework/NarrowString.h"
#include "memfile/Messages.h"
#include <climits>
#include <cmath>
#include <new>

using tarnwick::Format;

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
        if (!text || !*text) return false;
        // Script number texts use '.' whatever the user's locale.
        if (FAILED(VarR8FromStr(text, MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                               SORT_DEFAULT),
                                0, &out.real)))
            return false;
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

HRESULT CTarnwickCtrl::JSArrayGetAttributeValue(IDispatch* object, LPCOLESTR name,
                                                VARIANT* value) {
    if (!object) {
        m_strLastError = msg::memfile::kAttrObjectNull;
        return E_POINTER;
    }
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        m_strLastError = Format(msg::memfile::kAttrLookupFailed, tarnwick::WideToAnsi(name).c_str());
        return hr;
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, value,
                        nullptr, nullptr);
    if (FAILED(hr)) {
        m_strLastError = Format(msg::memfile::kAttrGetFailed, tarnwick::WideToAnsi(name).c_str());
        return hr;
    }
    return hr;
}

// On success the caller's slot (expected empty) takes over the element's value; on failure it is
// left untouched.
HRESULT CTarnwickCtrl::JSArrayGetAt(IDispatch* object, long index, VARIANT* value) {
    if (!object) {
        m_strLastError = msg::memfile::kElementObjectNull;
        return E_POINTER;
    }
    wchar_t buffer[16];
    LPOLESTR names[1] = {const_cast<LPOLESTR>(IndexName(index, buffer))};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        m_strLastError = Format(msg::memfile::kElementLookupFailed, static_cast<int>(index));
        return hr;
    }
    VARIANT element;
    VariantInit(&element);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none,
                        &element, nullptr, nullptr);
    if (FAILED(hr)) {
        VariantClear(&element);  // a misbehaving object may have filled it anyway
        m_strLastError = Format(msg::memfile::kElementGetFailed, static_cast<int>(index));
        return hr;
    }
    *value = element;
    return hr;
}

long CTarnwickCtrl::GetMemFileSize(IDispatch* lpIDisp) {
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = JSArrayGetAttributeValue(lpIDisp, L"length", &value);
    if (FAILED(hr)) return -1;
    long length = -1;
    bool numeric = ToLength(&value, length);
    VariantClear(&value);
    if (!numeric) {
        m_strLastError = Format(msg::memfile::kAttrGetFailed, "length");
        return -1;
    }
    return length;
}

// Reads elements 0 .. count-1 into the buffer, which is emptied first. Returns the status of the
// last element read, 0 when count <= 0, or the failing status (bytes read before it stay in the
// buffer). Running out of memory raises std::bad_alloc.
HRESULT CTarnwickCtrl::JSArrayReadBytes(IDispatch* object, std::vector<unsigned char>& buffer,
                                        long count) {
    buffer.clear();
    HRESULT status = S_OK;
    if (count <= 0) return status;
    const size_t announced = static_cast<size_t>(count);
    for (long i = 0; i < count; ++i) {
        VARIANT element;
        VariantInit(&element);
        status = JSArrayGetAt(object, i, &element);
        if (FAILED(status)) return status;
        unsigned char byte = 0;
        bool numeric = ToByte(&element, byte);
        VariantClear(&element);
        if (!numeric) {
            m_strLastError = Format(msg::memfile::kElementGetFailed, static_cast<int>(i));
            return DISP_E_TYPEMISMATCH;
        }
        if (buffer.size() == buffer.capacity()) Grow(buffer, announced);
        buffer.push_back(byte);
    }
    return status;
}

// The bytes of a memory file into `bytes` (owned by the caller). False for "nothing": the length
// read or an element read failed (the bridge's message is set), or the file is empty (the
// last-error text is left as it was). The storage is released on every way to "nothing".
bool CTarnwickCtrl::GetMemFileBytes(IDispatch* object, std::vector<unsigned char>& bytes) {
    struct ReleaseUnlessKept {
        std::vector<unsigned char>& bytes;
        bool keep = false;
        ~ReleaseUnlessKept() {
            if (!keep) std::vector<unsigned char>().swap(bytes);
        }
    } guard{bytes};

    long count = GetMemFileSize(object);
    if (count <= 0) return false;
    if (FAILED(JSArrayReadBytes(object, bytes, count))) return false;
    if (bytes.empty()) return false;
    guard.keep = true;
    return true;
}
