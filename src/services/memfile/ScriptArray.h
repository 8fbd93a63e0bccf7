// The script array reader: a memory file is a script object with a "length" property and
// elements "0", "1", ... holding byte values. Only the object's IDispatch is at hand, so every
// byte costs one member lookup by name and one property get; everything else is kept out of that
// loop (the element's name is formatted on the stack, the buffer grows geometrically).
//
// What a value means:
//  - "length": an integer value is taken as it is; a fraction is truncated toward zero; a string
//    holding a number counts as that number. Anything else (booleans, no number, NaN, a value
//    outside the 32-bit signed range) is refused as a failed get.
//  - an element: an integer gives its low 8 bits (256 -> 0, -1 -> 255, 511 -> 255), whatever its
//    width (VBScript's 16-bit integers included). A fraction is truncated toward zero and then
//    gives its low 8 bits, a boolean gives 1 or 0 and a string holding a number converts like that
//    number: the byte is what `value & 255` gives in the page's own script. A string counts as a
//    number the way the page's script reads one (decimal with optional sign, point and exponent,
//    or "0x" hex, blanks around it), never by the desktop's locale ("1,0", "(1)", "&H10" are no
//    numbers). Values that are not
//    numbers (undefined, null, objects, other strings, NaN, infinities) are refused as a failed
//    get: writing a silent 0 for them would hand the page a damaged file.
//
// A memory file may also be a platform array: a one-dimensional byte array (VT_ARRAY | VT_UI1,
// as a request's response body or a binary stream gives it) is read in place; a one-dimensional
// array of variants (VBScript's arrays) has each element converted as a script array element is.
// Other arrays are refused.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include "Owners.h"
#include <string>
#include <vector>

namespace tarnwick::memfile {

// What a page passes as a memory file: a script array object, a platform array, or nothing.
struct MemorySource {
    IDispatch* object = nullptr;
    SAFEARRAY* array = nullptr;      // used when not null
    VARTYPE elementType = VT_EMPTY;  // the array's element type
    MemorySource() = default;
    MemorySource(IDispatch* script) : object(script) {}
};

// The bytes of a memory file: collected from a script array, or borrowed in place from a byte
// array (kept locked until this goes).
class MemoryBytes {
public:
    MemoryBytes() = default;
    ~MemoryBytes() { Clear(); }
    MemoryBytes(const MemoryBytes&) = delete;
    MemoryBytes& operator=(const MemoryBytes&) = delete;
    const unsigned char* data() const { return borrowed_ ? borrowed_ : owned_.data(); }
    size_t size() const { return borrowed_ ? borrowedSize_ : owned_.size(); }
    bool empty() const { return size() == 0; }
    std::vector<unsigned char>& Owned() { return owned_; }
    // Takes the data of a locked (SafeArrayAccessData) array; it is unlocked by Clear.
    void Borrow(ArrayDataLock lock, const unsigned char* data, size_t size);
    // Releases the storage or unlocks the borrowed array.
    void Clear();
private:
    std::vector<unsigned char> owned_;
    ArrayDataLock locked_;
    const unsigned char* borrowed_ = nullptr;
    size_t borrowedSize_ = 0;
};

enum class ArrayFault {
    None,
    Unsupported,    // a platform array of more dimensions or another element type (dims, type)
    NullObject,     // no object to read a property of
    NullElements,   // no object to read an element of
    PropertyName,   // the property's name is unknown (name)
    PropertyGet,    // the property could not be read or is no usable number (name)
    ElementName,    // element `index` does not exist
    ElementGet,     // element `index` could not be read or is no number
};

struct ArrayRead {
    ArrayFault fault = ArrayFault::None;
    HRESULT hr = S_OK;
    std::wstring name;
    long index = 0;
    unsigned dims = 0;       // for Unsupported
    VARTYPE type = VT_EMPTY;
    bool ok() const { return fault == ArrayFault::None; }
};

// Reads one property into value (VariantInit'ed by the caller).
ArrayRead ReadProperty(IDispatch* object, LPCOLESTR name, VARIANT* value);
// Reads one element; on success value takes it over, on failure it is left untouched.
ArrayRead ReadElement(IDispatch* object, long index, VARIANT* value);
// The "length" property as a 32-bit count; for a platform array its element count.
ArrayRead ReadLength(const MemorySource& source, long& length);
// Elements 0 .. count-1 into buffer, which is emptied first (bytes read before a failure stay).
// Running out of memory raises std::bad_alloc.
ArrayRead ReadElements(IDispatch* object, std::vector<unsigned char>& buffer, long count);

// The whole memory file. "Nothing" (false) when a read failed (the fault says which) or the
// file is empty (no fault); the storage is released on every way to nothing.
bool ReadMemoryFile(const MemorySource& source, MemoryBytes& bytes, ArrayRead& read);

}  // namespace tarnwick::memfile
