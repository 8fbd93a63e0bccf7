// The script array bridge and the memory-file methods, called directly on a control object with
// stand-in script arrays (and, for the methods, through the dispatch table).
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "DispatchTable.h"
#include "TarnwickCtrl.h"
#include "unit_support.h"
#include "memfile/ScriptArray.h"

namespace memfile_test {

constexpr DISPID kLengthId = 1;
constexpr DISPID kFirstElementId = 16;

class FakeArray : public IDispatch {
public:
    // The "length" value; VT_ERROR here means the object has no "length" member.
    VARIANT length;
    // Element i's value (written into a fresh VARIANT); false means no member named i.
    std::function<bool(long index, VARIANT* value)> element;
    // Failures to inject: status of GetIDsOfNames / Invoke for a given name or index.
    std::wstring failLookupOf;            // name whose lookup fails
    HRESULT lookupFailure = DISP_E_UNKNOWNNAME;
    long failGetAt = -1;                  // element whose property get fails
    bool failLengthGet = false;
    HRESULT getFailure = DISP_E_EXCEPTION;

    // What the control did.
    long lookups = 0;
    long gets = 0;
    std::wstring lastName;
    bool callsWellFormed = true;          // IID_NULL, one name, the locales, property get, no args
    std::vector<std::wstring> names;      // every name looked up, when recordNames is set
    bool recordNames = false;

    LONG refs = 1;

    FakeArray() {
        VariantInit(&length);
        V_VT(&length) = VT_ERROR;
    }
    virtual ~FakeArray() { VariantClear(&length); }

    void SetLength(long n) {
        VariantClear(&length);
        V_VT(&length) = VT_I4;
        V_I4(&length) = n;
    }
    // Elements taken from a list of 32-bit values; indices beyond it are missing.
    void SetInts(const std::vector<long>& values) {
        SetLength(static_cast<long>(values.size()));
        element = [values](long i, VARIANT* v) {
            if (i < 0 || i >= static_cast<long>(values.size())) return false;
            V_VT(v) = VT_I4;
            V_I4(v) = values[static_cast<size_t>(i)];
            return true;
        };
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* namesIn, UINT count, LCID lcid,
                               DISPID* ids) override {
        ++lookups;
        if (!IsEqualIID(riid, IID_NULL) || count != 1 || lcid != LOCALE_USER_DEFAULT)
            callsWellFormed = false;
        const wchar_t* name = namesIn[0];
        lastName = name;
        if (recordNames) names.push_back(name);
        ids[0] = DISPID_UNKNOWN;
        if (!failLookupOf.empty() && failLookupOf == name) return lookupFailure;
        if (wcscmp(name, L"length") == 0) {
            if (V_VT(&length) == VT_ERROR) return DISP_E_UNKNOWNNAME;
            ids[0] = kLengthId;
            return S_OK;
        }
        // Element names are canonical decimal texts: digits only, no leading zero.
        long index = 0;
        size_t n = wcslen(name);
        if (n == 0 || n > 10 || (n > 1 && name[0] == L'0')) return DISP_E_UNKNOWNNAME;
        for (size_t i = 0; i < n; ++i) {
            if (name[i] < L'0' || name[i] > L'9') return DISP_E_UNKNOWNNAME;
            index = index * 10 + (name[i] - L'0');
        }
        VARIANT probe;
        VariantInit(&probe);
        bool present = element && element(index, &probe);
        VariantClear(&probe);
        if (!present) return DISP_E_UNKNOWNNAME;
        ids[0] = kFirstElementId + index;
        return S_OK;
    }

    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        ++gets;
        if (!IsEqualIID(riid, IID_NULL) || lcid != LOCALE_SYSTEM_DEFAULT ||
            flags != DISPATCH_PROPERTYGET || !params || params->cArgs != 0 ||
            params->cNamedArgs != 0 || excep || argErr || !result)
            callsWellFormed = false;
        if (id == kLengthId) {
            if (failLengthGet) return getFailure;
            return VariantCopy(result, &length);
        }
        long index = id - kFirstElementId;
        if (index == failGetAt) return getFailure;
        VariantInit(result);
        return element(index, result) ? S_OK : DISP_E_MEMBERNOTFOUND;
    }
};

// A COM object whose references are counted, to see that values the control reads are released.
class CountedObject : public IDispatch {
public:
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};

}  // namespace memfile_test

namespace {

using memfile_test::CountedObject;
using memfile_test::FakeArray;
using Bytes = std::vector<unsigned char>;

// A control object as the class factory makes it, released at the end of the test.
struct Control {
    CTarnwickCtrl* c = new CTarnwickCtrl();
    ~Control() { c->Release(); }
    CTarnwickCtrl* operator->() const { return c; }
};

// Elements given as arbitrary values, one setter per element.
void SetValues(FakeArray& a, const std::vector<std::function<void(VARIANT*)>>& setters) {
    a.SetLength(static_cast<long>(setters.size()));
    a.element = [setters](long i, VARIANT* v) {
        if (i < 0 || i >= static_cast<long>(setters.size())) return false;
        setters[static_cast<size_t>(i)](v);
        return true;
    };
}

std::function<void(VARIANT*)> I4(long x) { return [x](VARIANT* v) { V_VT(v) = VT_I4; V_I4(v) = x; }; }
std::function<void(VARIANT*)> I2(short x) { return [x](VARIANT* v) { V_VT(v) = VT_I2; V_I2(v) = x; }; }
std::function<void(VARIANT*)> R8(double x) { return [x](VARIANT* v) { V_VT(v) = VT_R8; V_R8(v) = x; }; }
std::function<void(VARIANT*)> Text(const wchar_t* s) {
    return [s](VARIANT* v) { V_VT(v) = VT_BSTR; V_BSTR(v) = SysAllocString(s); };
}
std::function<void(VARIANT*)> Bool(bool b) {
    return [b](VARIANT* v) { V_VT(v) = VT_BOOL; V_BOOL(v) = b ? VARIANT_TRUE : VARIANT_FALSE; };
}
std::function<void(VARIANT*)> Of(VARTYPE vt) { return [vt](VARIANT* v) { V_VT(v) = vt; }; }

// The reader's single steps, with their outcome rendered as the control renders it.
namespace mf = tarnwick::memfile;
HRESULT Rendered(CTarnwickCtrl* c, const mf::ArrayRead& read) {
    if (!read.ok()) c->m_strLastError = CTarnwickCtrl::ArrayReadText(read);
    return read.hr;
}
HRESULT GetAttribute(CTarnwickCtrl* c, IDispatch* a, LPCOLESTR name, VARIANT* v) {
    return Rendered(c, mf::ReadProperty(a, name, v));
}
HRESULT GetAt(CTarnwickCtrl* c, IDispatch* a, long index, VARIANT* v) {
    return Rendered(c, mf::ReadElement(a, index, v));
}
HRESULT ReadBytes(CTarnwickCtrl* c, IDispatch* a, Bytes& buffer, long count) {
    return Rendered(c, mf::ReadElements(a, buffer, count));
}

Bytes Read(CTarnwickCtrl* c, IDispatch* a, bool* ok = nullptr) {
    mf::MemoryBytes memory;
    bool got = c->ReadMemoryFile(a, memory);
    // The collected storage itself, so that a test sees whether it was released.
    Bytes bytes = std::move(memory.Owned());
    if (ok) *ok = got;
    return bytes;
}

// ---- Reading: sizes, bytes, the calls made ----

TEST(MemFileBridge, ReadsSmallArrayWithExactlyTheDocumentedCalls) {
    Control c;
    FakeArray a;
    a.SetInts({65, 66, 67});
    a.recordNames = true;
    c->m_strLastError = L"earlier";

    EXPECT_EQ(3, c->GetMemFileSize(&a));
    bool ok = false;
    Bytes bytes = Read(c.c, &a, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Bytes({'A', 'B', 'C'}), bytes);
    EXPECT_TRUE(a.callsWellFormed);
    EXPECT_EQ((std::vector<std::wstring>{L"length", L"length", L"0", L"1", L"2"}), a.names);
    EXPECT_EQ(5, a.gets);
    EXPECT_EQ(1, a.refs) << "the borrowed object must be neither kept nor released";
    EXPECT_EQ("earlier", testsupport::Gbk(c->m_strLastError)) << "a successful read leaves the text alone";
}

TEST(MemFileBridge, IntegersGiveTheirLow8Bits) {
    Control c;
    FakeArray a;
    SetValues(a, {I4(256), I4(-1), I4(511), I4(0x12345678), I2(-1), I2(300), I2(-256),
                  [](VARIANT* v) { V_VT(v) = VT_UI1; V_UI1(v) = 200; },
                  [](VARIANT* v) { V_VT(v) = VT_I1; V_I1(v) = -2; },
                  [](VARIANT* v) { V_VT(v) = VT_UI4; V_UI4(v) = 0xFFFFFF41u; },
                  [](VARIANT* v) { V_VT(v) = VT_I8; V_I8(v) = -3LL * 0x100000000LL + 7; }});
    bool ok = false;
    Bytes bytes = Read(c.c, &a, &ok);
    ASSERT_TRUE(ok) << testsupport::Gbk(c->m_strLastError);
    EXPECT_EQ(Bytes({0, 255, 255, 0x78, 255, 44, 0, 200, 254, 0x41, 7}), bytes);
}

TEST(MemFileBridge, FractionsBooleansAndNumericTextsActLikeValueAnd255) {
    Control c;
    FakeArray a;
    const double big = 1e10 + 7.75;
    SetValues(a, {R8(65.9), R8(-1.5), R8(256.5), R8(-0.25), R8(big),
                  [](VARIANT* v) { V_VT(v) = VT_R4; V_R4(v) = 66.5f; },
                  Bool(true), Bool(false), Text(L"67"), Text(L"-1"), Text(L" 65.7 "),
                  Text(L"0x41"), Text(L"\t6.6e1\r\n"), Text(L"+67.")});
    bool ok = false;
    Bytes bytes = Read(c.c, &a, &ok);
    ASSERT_TRUE(ok) << testsupport::Gbk(c->m_strLastError);
    const unsigned char bigByte = static_cast<unsigned char>(10000000007LL & 255);
    EXPECT_EQ(Bytes({65, 255, 0, 0, bigByte, 66, 1, 0, 67, 255, 65, 65, 66, 67}), bytes);
}

TEST(MemFileBridge, NonNumericElementsAreRefusedAndReleased) {
    CountedObject inner;
    struct Case {
        const char* what;
        std::function<void(VARIANT*)> value;
    } cases[] = {
        {"undefined", Of(VT_EMPTY)},
        {"null", Of(VT_NULL)},
        {"text", Text(L"abc")},
        {"empty text", Text(L"")},
        // Forms the desktop's locale would read but the page's script would not.
        {"thousands separator", Text(L"1,0")},
        {"parentheses", Text(L"(1)")},
        {"basic hex", Text(L"&H10")},
        {"currency", Text(L"$5")},
        {"signed hex", Text(L"-0x10")},
        {"NaN", R8(std::numeric_limits<double>::quiet_NaN())},
        {"infinity", R8(std::numeric_limits<double>::infinity())},
        {"object", [&inner](VARIANT* v) { V_VT(v) = VT_DISPATCH; V_DISPATCH(v) = &inner; inner.AddRef(); }},
    };
    for (const Case& k : cases) {
        Control c;
        FakeArray a;
        SetValues(a, {I4(1), I4(2), k.value, I4(4)});
        bool ok = true;
        Bytes bytes = Read(c.c, &a, &ok);
        EXPECT_FALSE(ok) << k.what;
        EXPECT_TRUE(bytes.empty()) << k.what;
        EXPECT_EQ(0u, bytes.capacity()) << k.what << ": the storage is released";
        EXPECT_EQ("JSArrayGetAt's Invoke 2 err!", testsupport::Gbk(c->m_strLastError)) << k.what;
        EXPECT_EQ(L"2", a.lastName) << k.what << ": reading stops at the refused element";
        std::vector<unsigned char> buffer;
        EXPECT_EQ(DISP_E_TYPEMISMATCH, ReadBytes(c.c, &a, buffer, 4)) << k.what;
    }
    EXPECT_EQ(1, inner.refs) << "a refused object value is released";
}

TEST(MemFileBridge, LengthValues) {
    struct Case {
        const char* what;
        std::function<void(VARIANT*)> value;
        long expected;
    } cases[] = {
        {"16-bit integer", [](VARIANT* v) { V_VT(v) = VT_I2; V_I2(v) = 7; }, 7},
        {"fraction", R8(3.9), 3},
        {"negative fraction", R8(-1.5), -1},
        {"numeric text", Text(L"12"), 12},
        {"minus one", I4(-1), -1},
        {"very negative", I4(-70000), -70000},
    };
    for (const Case& k : cases) {
        Control c;
        FakeArray a;
        k.value(&a.length);
        c->m_strLastError = L"earlier";
        EXPECT_EQ(k.expected, c->GetMemFileSize(&a)) << k.what;
        EXPECT_EQ("earlier", testsupport::Gbk(c->m_strLastError)) << k.what;
    }
    struct Refused {
        const char* what;
        std::function<void(VARIANT*)> value;
    } refused[] = {
        {"undefined", Of(VT_EMPTY)},
        {"null", Of(VT_NULL)},
        {"boolean", Bool(true)},
        {"text", Text(L"five")},
        {"thousands separator", Text(L"1,000")},
        {"beyond 32 bits", R8(3e9)},
        {"NaN", R8(std::numeric_limits<double>::quiet_NaN())},
    };
    for (const Refused& k : refused) {
        Control c;
        FakeArray a;
        k.value(&a.length);
        EXPECT_EQ(-1, c->GetMemFileSize(&a)) << k.what;
        EXPECT_EQ("JSArrayGetAttributeValue's Invoke length err!", testsupport::Gbk(c->m_strLastError)) << k.what;
        mf::MemoryBytes bytes;
        EXPECT_FALSE(c->ReadMemoryFile(&a, bytes)) << k.what;
        EXPECT_EQ(0, a.lookups - 2) << k.what << ": no element is looked up";
    }
}

TEST(MemFileBridge, EmptyOrNegativeLengthReadsNothingAndSaysNothing) {
    for (long n : {0L, -1L, -5L, -2147483647L - 1}) {
        Control c;
        FakeArray a;
        a.SetLength(n);
        a.element = [](long, VARIANT* v) { V_VT(v) = VT_I4; V_I4(v) = 1; return true; };
        c->m_strLastError = L"earlier";
        mf::MemoryBytes bytes;
        bytes.Owned() = {9, 9};
        EXPECT_FALSE(c->ReadMemoryFile(&a, bytes)) << n;
        EXPECT_TRUE(bytes.empty()) << n;
        EXPECT_EQ(1, a.lookups) << n << ": only the length is looked up";
        EXPECT_EQ("earlier", testsupport::Gbk(c->m_strLastError)) << n;
        std::vector<unsigned char> buffer{1, 2, 3};
        EXPECT_EQ(S_OK, ReadBytes(c.c, &a, buffer, n)) << n;
        EXPECT_TRUE(buffer.empty()) << n << ": the buffer starts over";
    }
}

TEST(MemFileBridge, ReadStartsAtTheBeginningOfTheBuffer) {
    Control c;
    FakeArray a;
    a.SetInts({1, 2, 3});
    std::vector<unsigned char> buffer(5000, 0xEE);
    EXPECT_EQ(S_OK, ReadBytes(c.c, &a, buffer, 3));
    EXPECT_EQ(Bytes({1, 2, 3}), buffer);
}

// ---- Failures: messages, status codes, what is left ----

TEST(MemFileBridge, LengthLookupAndGetFailures) {
    {
        Control c;
        FakeArray a;  // no "length" member
        a.element = [](long, VARIANT* v) { V_VT(v) = VT_I4; V_I4(v) = 1; return true; };
        EXPECT_EQ(-1, c->GetMemFileSize(&a));
        EXPECT_EQ("JSArrayGetAttributeValue's GetIDsOfNames length err!", testsupport::Gbk(c->m_strLastError));
        mf::MemoryBytes bytes;
        EXPECT_FALSE(c->ReadMemoryFile(&a, bytes));
    }
    {
        Control c;
        FakeArray a;
        a.SetLength(3);
        a.failLookupOf = L"length";
        a.lookupFailure = static_cast<HRESULT>(0x80041234);
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(static_cast<HRESULT>(0x80041234), GetAttribute(c.c, &a, L"length", &v))
            << "the object's status is passed through";
        EXPECT_EQ(0, a.gets);
    }
    {
        Control c;
        FakeArray a;
        a.SetLength(3);
        a.failLengthGet = true;
        EXPECT_EQ(-1, c->GetMemFileSize(&a));
        EXPECT_EQ("JSArrayGetAttributeValue's Invoke length err!", testsupport::Gbk(c->m_strLastError));
    }
    {
        // The property name in the message is the one asked for, in the ANSI code page.
        Control c;
        FakeArray a;
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(DISP_E_UNKNOWNNAME, GetAttribute(c.c, &a, L"size", &v));
        EXPECT_EQ("JSArrayGetAttributeValue's GetIDsOfNames size err!", testsupport::Gbk(c->m_strLastError));
    }
}

TEST(MemFileBridge, MissingElementEndsTheRead) {
    Control c;
    FakeArray a;
    a.SetLength(5);
    a.element = [](long i, VARIANT* v) {
        if (i == 3 || i > 4) return false;
        V_VT(v) = VT_I4;
        V_I4(v) = 10 + i;
        return true;
    };
    bool ok = true;
    Bytes bytes = Read(c.c, &a, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ("JSArrayGetAt's GetIDsOfNames 3 err!", testsupport::Gbk(c->m_strLastError));
    EXPECT_EQ(L"3", a.lastName) << "element 4 is never asked for";

    std::vector<unsigned char> buffer;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ReadBytes(c.c, &a, buffer, 5));
    EXPECT_EQ(Bytes({10, 11, 12}), buffer) << "bytes before the failure stay in the buffer";
}

TEST(MemFileBridge, ElementGetFailureNamesTheFirstFailingIndex) {
    Control c;
    FakeArray a;
    std::vector<long> values(3000);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<long>(i);
    a.SetInts(values);
    a.failGetAt = 1500;
    a.getFailure = static_cast<HRESULT>(0x8004DEAD);
    bool ok = true;
    Bytes bytes = Read(c.c, &a, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(0u, bytes.capacity());
    EXPECT_EQ("JSArrayGetAt's Invoke 1500 err!", testsupport::Gbk(c->m_strLastError));
    EXPECT_EQ(1 + 1501, a.lookups);

    std::vector<unsigned char> buffer;
    EXPECT_EQ(static_cast<HRESULT>(0x8004DEAD), ReadBytes(c.c, &a, buffer, 3000));
    EXPECT_EQ(1500u, buffer.size());
}

TEST(MemFileBridge, GetAtLeavesTheSlotAloneOnFailureAndFillsItOnSuccess) {
    Control c;
    FakeArray a;
    a.SetInts({5, 6});
    VARIANT slot;
    V_VT(&slot) = VT_I4;
    V_I4(&slot) = 0x5A5A5A5A;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, GetAt(c.c, &a, 2, &slot));
    EXPECT_EQ(VT_I4, V_VT(&slot));
    EXPECT_EQ(0x5A5A5A5A, V_I4(&slot));
    EXPECT_EQ("JSArrayGetAt's GetIDsOfNames 2 err!", testsupport::Gbk(c->m_strLastError));

    a.failGetAt = 1;
    EXPECT_EQ(DISP_E_EXCEPTION, GetAt(c.c, &a, 1, &slot));
    EXPECT_EQ(0x5A5A5A5A, V_I4(&slot));
    EXPECT_EQ("JSArrayGetAt's Invoke 1 err!", testsupport::Gbk(c->m_strLastError));

    VariantInit(&slot);
    EXPECT_EQ(S_OK, GetAt(c.c, &a, 0, &slot));
    EXPECT_EQ(VT_I4, V_VT(&slot));
    EXPECT_EQ(5, V_I4(&slot));

    // A negative index is looked up under its signed decimal name, which an array lacks.
    EXPECT_EQ(DISP_E_UNKNOWNNAME, GetAt(c.c, &a, -12, &slot));
    EXPECT_EQ(L"-12", a.lastName);
    EXPECT_EQ("JSArrayGetAt's GetIDsOfNames -12 err!", testsupport::Gbk(c->m_strLastError));
}

TEST(MemFileBridge, NullObjectIsRefusedWithAMessage) {
    Control c;
    EXPECT_EQ(-1, c->GetMemFileSize(nullptr));
    EXPECT_EQ("JSArrayGetAttributeValue's object is null err!", testsupport::Gbk(c->m_strLastError));
    mf::MemoryBytes bytes;
    c->m_strLastError.clear();
    EXPECT_FALSE(c->ReadMemoryFile(static_cast<IDispatch*>(nullptr), bytes));
    EXPECT_EQ("JSArrayGetAttributeValue's object is null err!", testsupport::Gbk(c->m_strLastError));
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(E_POINTER, GetAt(c.c, nullptr, 0, &v));
    EXPECT_EQ("JSArrayGetAt's object is null err!", testsupport::Gbk(c->m_strLastError));
    std::vector<unsigned char> buffer;
    EXPECT_EQ(E_POINTER, ReadBytes(c.c, nullptr, buffer, 3));

    // Through the script interface: null reaches the method as a null object.
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_NULL;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    c->m_strLastError.clear();
    EXPECT_EQ(S_OK, c->Invoke(10, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                              &result, nullptr, nullptr));
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(-1, V_I4(&result));
    EXPECT_EQ("JSArrayGetAttributeValue's object is null err!", testsupport::Gbk(c->m_strLastError));
}

// ---- Growth of the buffer ----

TEST(MemFileBridge, ExactBytesAcrossGrowthSteps) {
    for (long n : {1L, 1023L, 1024L, 1025L, 3000L, 65536L, 65537L, 200000L}) {
        Control c;
        FakeArray a;
        a.SetLength(n);
        // Values beyond a byte, so that only the low 8 bits can give the expected pattern.
        a.element = [n](long i, VARIANT* v) {
            if (i < 0 || i >= n) return false;
            V_VT(v) = VT_I4;
            V_I4(v) = i * 7 + 3 + 1024;
            return true;
        };
        bool ok = false;
        Bytes bytes = Read(c.c, &a, &ok);
        ASSERT_TRUE(ok) << n << ": " << testsupport::Gbk(c->m_strLastError);
        ASSERT_EQ(static_cast<size_t>(n), bytes.size());
        size_t wrong = 0;
        for (long i = 0; i < n; ++i)
            if (bytes[static_cast<size_t>(i)] != static_cast<unsigned char>((i * 7 + 3) & 0xFF)) ++wrong;
        EXPECT_EQ(0u, wrong) << n;
        EXPECT_EQ(n + 1, a.lookups) << n << ": one lookup per element besides the length";
        EXPECT_EQ(L"" + std::to_wstring(n - 1), a.lastName) << n;
        // The storage grows in whole kilobytes and never far beyond what was announced.
        EXPECT_EQ(0u, bytes.capacity() % 1024) << n;
        EXPECT_LE(bytes.capacity(), (static_cast<size_t>(n) + 1023) / 1024 * 1024) << n;
    }
}

// ---- Running out of memory while a memory file is collected ----

// Takes the process's address space away, all but one hole of the given size, so that the
// buffer's growth fails after a few megabytes instead of after two gigabytes.
class AddressSpaceHog {
public:
    explicit AddressSpaceHog(size_t hole) {
        void* kept = VirtualAlloc(nullptr, hole, MEM_RESERVE, PAGE_NOACCESS);
        for (size_t size = size_t(256) << 20; size >= 64 * 1024; size /= 2) {
            while (void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
                regions_.push_back(p);
        }
        if (kept) VirtualFree(kept, 0, MEM_RELEASE);
        holeFound_ = kept != nullptr;
    }
    ~AddressSpaceHog() {
        for (void* p : regions_) VirtualFree(p, 0, MEM_RELEASE);
    }
    bool holeFound() const { return holeFound_; }
    // True when a block of this size still fits somewhere.
    static bool Fits(size_t size) {
        void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
        if (!p) return false;
        VirtualFree(p, 0, MEM_RELEASE);
        return true;
    }
private:
    std::vector<void*> regions_;
    bool holeFound_ = false;
};

// Filling a 64-bit address space takes long and leaves Wine's own allocations scattered through
// the hole; the code path is the same in both builds and the 32-bit suite alone runs this case.
#ifndef _WIN64
TEST(MemFileMethods, OutOfMemoryWhileCollectingEndsTheCallWithEOutOfMemory) {
    constexpr size_t kHole = 8u << 20;
    struct Case {
        DISPID id;
        const wchar_t* text;
    } cases[] = {{13, L"memfile_oom.bin"}, {8, L"bin"}};
    for (const Case& k : cases) {
        Control c;
        FakeArray a;
        a.SetLength(0x7FFFFFFF);  // all elements present: only memory can stop the read
        a.element = [](long i, VARIANT* v) {
            V_VT(v) = VT_I4;
            V_I4(v) = i;
            return true;
        };
        c->m_strLastError = L"earlier";
        VARIANT args[2];
        VariantInit(&args[0]);
        VariantInit(&args[1]);
        V_VT(&args[0]) = VT_BSTR;  // arguments arrive last first
        V_BSTR(&args[0]) = SysAllocString(k.text);
        V_VT(&args[1]) = VT_DISPATCH;
        V_DISPATCH(&args[1]) = &a;
        DISPPARAMS params = {args, nullptr, 2, 0};
        VARIANT result;
        VariantInit(&result);

        HRESULT hr = S_OK;
        bool holeFound = false, holeFreeAgain = false;
        long elementsServed = 0;
        {
            AddressSpaceHog hog(kHole);
            holeFound = hog.holeFound();
            hr = c->Invoke(k.id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                           &result, nullptr, nullptr);
            elementsServed = a.gets;
            // Whatever the read had collected is released: the hole is whole again.
            holeFreeAgain = AddressSpaceHog::Fits(kHole - (1u << 20));
        }
        ASSERT_TRUE(holeFound);
        EXPECT_EQ(E_OUTOFMEMORY, hr) << k.id;
        EXPECT_EQ(VT_EMPTY, V_VT(&result)) << k.id << ": no result";
        EXPECT_TRUE(holeFreeAgain) << k.id << ": the collected bytes were not released";
        EXPECT_GT(elementsServed, 1000) << k.id << ": the read ran until memory gave out";
        EXPECT_LT(elementsServed, 0x01000000) << k.id;
        EXPECT_EQ(1, a.refs) << k.id;
        EXPECT_EQ("earlier", testsupport::Gbk(c->m_strLastError)) << k.id;
        EXPECT_TRUE(c->m_saCreatedFiles.empty()) << k.id;
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesA((std::string(temp) + "memfile_oom.bin").c_str()));
        SysFreeString(V_BSTR(&args[0]));

        // The same object works normally afterwards.
        FakeArray small;
        small.SetInts({0x50, 0x4B, 0x01});
        V_BSTR(&args[0]) = SysAllocString(L"bin");
        V_DISPATCH(&args[1]) = &small;
        EXPECT_EQ(S_OK, c->Invoke(8, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                  &params, &result, nullptr, nullptr));
        ASSERT_EQ(VT_BSTR, V_VT(&result));
        EXPECT_STREQ(L"504B01", V_BSTR(&result));
        VariantClear(&result);
        SysFreeString(V_BSTR(&args[0]));
    }
}
#endif

// ---- Platform arrays: byte arrays read in place, variant arrays element by element ----

// Calls a one-argument memory-file method with arg; the result as text (numbers as decimal).
std::wstring CallWith(CTarnwickCtrl* c, DISPID id, VARIANT* arg) {
    DISPPARAMS params = {arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = c->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                           nullptr, nullptr);
    if (FAILED(hr)) return L"error";
    std::wstring text = V_VT(&result) == VT_BSTR ? V_BSTR(&result) : std::to_wstring(V_I4(&result));
    VariantClear(&result);
    return text;
}

TEST(MemFilePlatformArrays, ByteArraysByValueAndByReferenceWithAnyLowerBound) {
    const wchar_t* const kShaAbc = L"B5D4045C3F466FA91FE2CC6ABE79232A1A57CDF104F7A26E716E0A1E2789DF78";
    SAFEARRAYBOUND bound = {3, 5};  // elements 5..7
    SAFEARRAY* bytes = SafeArrayCreate(VT_UI1, 1, &bound);
    ASSERT_NE(nullptr, bytes);
    unsigned char* data = nullptr;
    ASSERT_EQ(S_OK, SafeArrayAccessData(bytes, reinterpret_cast<void**>(&data)));
    memcpy(data, "ABC", 3);
    SafeArrayUnaccessData(bytes);

    Control c;
    VARIANT byValue;
    V_VT(&byValue) = VT_ARRAY | VT_UI1;
    V_ARRAY(&byValue) = bytes;
    EXPECT_EQ(L"3", CallWith(c.c, 10, &byValue));
    EXPECT_EQ(kShaAbc, CallWith(c.c, 12, &byValue));
    VARIANT byRef;
    V_VT(&byRef) = VT_BYREF | VT_ARRAY | VT_UI1;
    V_ARRAYREF(&byRef) = &bytes;
    EXPECT_EQ(kShaAbc, CallWith(c.c, 12, &byRef));
    EXPECT_EQ(0u, bytes->cLocks) << "the array is unlocked after the call";

    // A variant array (VBScript's kind) converts element by element.
    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    VARIANT* v = nullptr;
    ASSERT_EQ(S_OK, SafeArrayAccessData(variants, reinterpret_cast<void**>(&v)));
    V_VT(&v[0]) = VT_I2; V_I2(&v[0]) = 65 + 256;
    V_VT(&v[1]) = VT_R8; V_R8(&v[1]) = 66.9;
    V_VT(&v[2]) = VT_UI1; V_UI1(&v[2]) = 67;
    SafeArrayUnaccessData(variants);
    VARIANT variantArg;
    V_VT(&variantArg) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&variantArg) = variants;
    EXPECT_EQ(kShaAbc, CallWith(c.c, 12, &variantArg));
    SafeArrayDestroy(variants);
    SafeArrayDestroy(bytes);
}

TEST(MemFilePlatformArrays, OtherArraysAreRefusedWithAText) {
    Control c;
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    SAFEARRAY* grid = SafeArrayCreate(VT_UI1, 2, bounds);
    SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 4);
    for (SAFEARRAY* array : {grid, longs}) {
        VARIANT arg;
        V_VT(&arg) = VT_ARRAY | (array == grid ? VT_UI1 : VT_I4);
        V_ARRAY(&arg) = array;
        c->m_strLastError.clear();
        EXPECT_EQ(L"-1", CallWith(c.c, 10, &arg));
        EXPECT_EQ(L"", CallWith(c.c, 12, &arg));
        EXPECT_EQ(std::wstring(L"内存文件只能是脚本数组、一维字节数组或一维变体数组,不支持") +
                      (array == grid ? L"2维、元素类型为17" : L"1维、元素类型为3") + L"的数组!",
                  c->m_strLastError);
        SafeArrayDestroy(array);
    }
    VARIANT number;
    V_VT(&number) = VT_I4;
    V_I4(&number) = 5;
    EXPECT_EQ(L"error", CallWith(c.c, 12, &number)) << "a plain number stays a type mismatch";
}

}  // namespace
