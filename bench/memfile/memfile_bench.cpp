// Memory-file cost: a 1 MiB script array made by the JScript engine hosted in this process,
// handed to the registered control's GetMemFileSHA256, beside a loop that does nothing but the
// two dispatch calls per element (member lookup by name, property get) on the same array: the
// floor that any script array reader pays. Also GetMemFileSize and GetMemFileHeadSigned; the same
// bytes as a VBScript array beside the JScript array; and a 16 MiB byte array (as a request's
// response body gives it) beside GetLocalFileSHA256 of the same bytes on disk.
//   memfile_bench.exe [BYTES] [ROUNDS]
#include <windows.h>
#include <activscp.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Not in mingw's import libraries.
const IID kIID_IActiveScriptParse = {0xBB1A2AE2, 0xA4F9, 0x11cf,
                                     {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};

// The least a host must be for the engine to run one script.
class Site : public IActiveScriptSite {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IActiveScriptSite)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetLCID(LCID* lcid) override {
        *lcid = LOCALE_USER_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP GetItemInfo(LPCOLESTR, DWORD, IUnknown**, ITypeInfo**) override {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override {
        EXCEPINFO info = {};
        error->GetExceptionInfo(&info);
        fprintf(stderr, "script error: %ls\n", info.bstrDescription ? info.bstrDescription : L"?");
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }
};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Fail(const char* what, HRESULT hr) {
    fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(hr));
    exit(1);
}

// The floor: one lookup and one property get per element, the byte taken, nothing kept. The
// names are made before the clock starts, so only the two calls are measured.
unsigned long long DispatchOnly(IDispatch* array, const std::vector<std::wstring>& names) {
    unsigned long long sum = 0;
    for (const std::wstring& name : names) {
        LPOLESTR lookup[1] = {const_cast<LPOLESTR>(name.c_str())};
        DISPID id;
        HRESULT hr = array->GetIDsOfNames(IID_NULL, lookup, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) Fail("GetIDsOfNames", hr);
        VARIANT value;
        VariantInit(&value);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        hr = array->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none,
                           &value, nullptr, nullptr);
        if (FAILED(hr)) Fail("Invoke", hr);
        sum += static_cast<unsigned char>(V_I4(&value));
        VariantClear(&value);
    }
    return sum;
}

// One call of a control method by name with the given arguments (last first).
std::wstring Call(IDispatch* control, const wchar_t* method, VARIANT* args, UINT count) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(method)};
    DISPID id;
    HRESULT hr = control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) Fail("control GetIDsOfNames", hr);
    DISPPARAMS params = {args, nullptr, count, 0};
    VARIANT result;
    VariantInit(&result);
    hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                         &params, &result, nullptr, nullptr);
    if (FAILED(hr)) Fail("control Invoke", hr);
    std::wstring out;
    if (V_VT(&result) == VT_BSTR) out = V_BSTR(&result) ? V_BSTR(&result) : L"";
    else if (V_VT(&result) == VT_I4) out = std::to_wstring(V_I4(&result));
    VariantClear(&result);
    return out;
}

template <typename F>
double Best(int rounds, F f) {
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        double start = Now();
        f();
        best = std::min(best, Now() - start);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    long bytes = argc > 1 ? atol(argv[1]) : 1 << 20;
    int rounds = argc > 2 ? atoi(argv[2]) : 3;
    CoInitialize(nullptr);

    // Runs a script in a fresh engine of the given language; its global "memfile" is returned.
    std::vector<IActiveScript*> engines;
    Site site;
    auto scriptValue = [&](const wchar_t* language, const std::wstring& script) {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(language, &clsid);
        if (FAILED(hr)) Fail("engine lookup", hr);
        IActiveScript* engine = nullptr;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                              reinterpret_cast<void**>(&engine));
        if (FAILED(hr)) Fail("engine", hr);
        IActiveScriptParse* parse = nullptr;
        hr = engine->QueryInterface(kIID_IActiveScriptParse, reinterpret_cast<void**>(&parse));
        if (FAILED(hr)) Fail("IActiveScriptParse", hr);
        engine->SetScriptSite(&site);
        parse->InitNew();
        hr = parse->ParseScriptText(script.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, nullptr);
        if (FAILED(hr)) Fail("script", hr);
        parse->Release();
        engine->SetScriptState(SCRIPTSTATE_CONNECTED);
        IDispatch* global = nullptr;
        hr = engine->GetScriptDispatch(nullptr, &global);
        if (FAILED(hr)) Fail("script dispatch", hr);
        LPOLESTR name[1] = {const_cast<LPOLESTR>(L"memfile")};
        DISPID id;
        hr = global->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) Fail("memfile lookup", hr);
        VARIANT value;
        VariantInit(&value);
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        hr = global->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, &value,
                            nullptr, nullptr);
        if (FAILED(hr)) Fail("memfile get", hr);
        global->Release();
        engines.push_back(engine);
        return value;
    };
    const std::wstring n = std::to_wstring(bytes);
    VARIANT arrayValue = scriptValue(L"JScript", L"var memfile = []; for (var i = 0; i < " + n +
                                                     L"; i++) memfile[i] = (i * 31 + 7) & 255;");
    if (V_VT(&arrayValue) != VT_DISPATCH) Fail("JScript array", E_FAIL);
    VARIANT vbArray = scriptValue(L"VBScript", L"Dim memfile(" + std::to_wstring(bytes - 1) +
                                                   L")\nDim i\nFor i = 0 To " + std::to_wstring(bytes - 1) +
                                                   L"\nmemfile(i) = (i * 31 + 7) And 255\nNext\n");
    if (V_VT(&vbArray) != (VT_ARRAY | VT_VARIANT)) Fail("VBScript array", E_FAIL);
    IDispatch* array = V_DISPATCH(&arrayValue);

    CLSID controlClass;
    HRESULT hr = CLSIDFromProgID(L"TARNWICK.TarnwickCtrl.1", &controlClass);
    if (FAILED(hr)) Fail("control lookup (is it registered?)", hr);
    IDispatch* control = nullptr;
    hr = CoCreateInstance(controlClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&control));
    if (FAILED(hr)) Fail("control", hr);

    VARIANT one[1];
    VariantInit(&one[0]);
    V_VT(&one[0]) = VT_DISPATCH;
    V_DISPATCH(&one[0]) = array;
    VARIANT two[2];
    VariantInit(&two[0]);
    V_VT(&two[0]) = VT_BSTR;
    V_BSTR(&two[0]) = SysAllocString(L"bin");
    two[1] = one[0];

    unsigned long long sum = 0;
    std::wstring digest, size, head;
    std::vector<std::wstring> names(static_cast<size_t>(bytes));
    for (long i = 0; i < bytes; ++i) names[static_cast<size_t>(i)] = std::to_wstring(i);
    // The four measurements take turns within each round, so that drift of the machine falls on
    // all of them alike; each keeps its best round.
    double floor = 1e30, sha = 1e30, sizeOnly = 1e30, probe = 1e30;
    for (int r = 0; r < rounds; ++r) {
        floor = std::min(floor, Best(1, [&] { sum = DispatchOnly(array, names); }));
        sha = std::min(sha, Best(1, [&] { digest = Call(control, L"GetMemFileSHA256", one, 1); }));
        sizeOnly = std::min(sizeOnly, Best(1, [&] { size = Call(control, L"GetMemFileSize", one, 1); }));
        probe = std::min(probe, Best(1, [&] { head = Call(control, L"GetMemFileHeadSigned", two, 2); }));
    }

    printf("memory file: %ld bytes as a JScript array, best of %d rounds\n", bytes, rounds);
    printf("%-44s %10s %12s\n", "what", "ms", "ns/byte");
    auto row = [&](const char* what, double seconds) {
        printf("%-44s %10.1f %12.1f\n", what, seconds * 1e3, seconds * 1e9 / bytes);
    };
    row("two dispatch calls per element (floor)", floor);
    row("GetMemFileSHA256", sha);
    row("GetMemFileHeadSigned (read, write, probe)", probe);
    row("GetMemFileSize (length only)", sizeOnly);
    printf("GetMemFileSHA256 / floor: %.2f\n", sha / floor);

    // The same bytes as a VBScript array.
    std::wstring vbDigest;
    double vbSha = Best(rounds, [&] { vbDigest = Call(control, L"GetMemFileSHA256", &vbArray, 1); });
    row("GetMemFileSHA256, VBScript array", vbSha);
    printf("VBScript array / JScript array: %.2f (digests %s)\n", vbSha / sha,
           vbDigest == digest ? "agree" : "DIFFER");

    // 16 MiB as a byte array, beside the same bytes hashed from a file on disk.
    const ULONG big = 16u << 20;
    SAFEARRAY* raw = SafeArrayCreateVector(VT_UI1, 0, big);
    unsigned char* data = nullptr;
    SafeArrayAccessData(raw, reinterpret_cast<void**>(&data));
    for (ULONG i = 0; i < big; ++i) data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring file = std::wstring(temp) + L"memfile-bench-16m.bin";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, data, big, &written, nullptr);
    CloseHandle(h);
    SafeArrayUnaccessData(raw);
    VARIANT rawArg;
    V_VT(&rawArg) = VT_ARRAY | VT_UI1;
    V_ARRAY(&rawArg) = raw;
    VARIANT pathArg;
    V_VT(&pathArg) = VT_BSTR;
    V_BSTR(&pathArg) = SysAllocString(file.c_str());
    std::wstring rawDigest, fileDigest;
    double rawSha = 1e30, fileSha = 1e30;
    for (int r = 0; r < rounds; ++r) {
        fileSha = std::min(fileSha, Best(1, [&] { fileDigest = Call(control, L"GetLocalFileSHA256", &pathArg, 1); }));
        rawSha = std::min(rawSha, Best(1, [&] { rawDigest = Call(control, L"GetMemFileSHA256", &rawArg, 1); }));
    }
    printf("%-44s %10.1f\n", "GetLocalFileSHA256, 16 MiB file (reference)", fileSha * 1e3);
    printf("%-44s %10.1f\n", "GetMemFileSHA256, 16 MiB byte array", rawSha * 1e3);
    printf("byte array / file: %.2f (digests %s)\n", rawSha / fileSha, rawDigest == fileDigest ? "agree" : "DIFFER");
    DeleteFileW(file.c_str());
    SysFreeString(V_BSTR(&pathArg));
    SafeArrayDestroy(raw);
    VariantClear(&vbArray);
    printf("check: size %ls, head %ls, digest %ls, byte sum %llu\n", size.c_str(), head.c_str(),
           digest.c_str(), sum);

    SysFreeString(V_BSTR(&two[0]));
    control->Release();
    VariantClear(&arrayValue);
    for (IActiveScript* engine : engines) {
        engine->Close();
        engine->Release();
    }
    CoUninitialize();
    return digest.size() == 64 ? 0 : 1;
}
