// The control under long use and from two apartments at once, as a browser runs it: thousands of
// calls and hundreds of load-create-release cycles must not grow the process (thread-local
// storage slots, handles, committed memory), two threads must not share a name or break a digest,
// and a temporary directory the narrow calls cannot reach must not send files elsewhere.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>
#include <fstream>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include "TarnwickCtrl.h"
#include "unit_support.h"

namespace {

using testsupport::ExeDirectory;
using testsupport::TempPath;
using testsupport::WriteFileBytes;

// The first free thread-local-storage slot: it rises when a slot is lost.
DWORD FirstFreeTlsSlot() {
    DWORD slot = TlsAlloc();
    TlsFree(slot);
    return slot;
}

DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

// Committed private memory (PagefileUsage: Wine leaves PrivateUsage at zero).
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
const CLSID kControlClass = {0x75614F24, 0x3276, 0x4CE9, {0xA2, 0xC8, 0x72, 0xA8, 0x11, 0x12, 0x9F, 0xDF}};

// A control made through the module's class factory, as a host makes it.
IDispatch* CreateControl(HMODULE module) {
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(module, "DllGetClassObject"));
    IClassFactory* factory = nullptr;
    if (!getClassObject || FAILED(getClassObject(kControlClass, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    IDispatch* control = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control));
    factory->Release();
    return control;
}

// One method call by dispatch id; the arguments in order, the result as text.
std::wstring Call(IDispatch* control, DISPID id, std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = control->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                                 nullptr, nullptr);
    if (FAILED(hr)) {
        for (VARIANT& arg : args)
            if (V_VT(&arg) == VT_BSTR) VariantClear(&arg);
        return L"error";
    }
    std::wstring text = V_VT(&result) == VT_BSTR ? V_BSTR(&result) : std::to_wstring(V_I4(&result));
    VariantClear(&result);
    for (VARIANT& arg : args)
        if (V_VT(&arg) == VT_BSTR) VariantClear(&arg);
    return text;
}

VARIANT Text(const std::wstring& text) {
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text.c_str());  // freed by Call
    return v;
}
VARIANT Number(long n) {
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    return v;
}
VARIANT Bytes(SAFEARRAY* array) {
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_UI1;
    V_ARRAY(&v) = array;
    return v;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        module_ = LoadLibraryA((ExeDirectory() + "tarnwick.OCX").c_str());
        ASSERT_NE(nullptr, module_);
        source_ = TempPath() + "hostile-41.bin";
        ASSERT_TRUE(WriteFileBytes(source_, std::string(41, 'h')));
    }
    void TearDown() override {
        DeleteFileA(source_.c_str());
        CoUninitialize();
    }
    HMODULE module_ = nullptr;
    std::string source_;
};

TEST_F(Hostile, ThousandsOfCallsGrowNeitherSlotsNorHandlesNorMemory) {
    IDispatch* control = CreateControl(module_);
    ASSERT_NE(nullptr, control);
    // A certificate whose DER is cut short, sent as valid base64, as a page might send it.
    std::ifstream in(TARNWICK_SOURCE_DIR "/demo/samples/sm2-cert.b64");
    std::string cert((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    BYTE der[2048];
    DWORD derLength = sizeof(der);
    ASSERT_TRUE(CryptStringToBinaryA(cert.c_str(), 0, CRYPT_STRING_BASE64, der, &derLength, nullptr, nullptr));
    wchar_t text[4096];
    DWORD textLength = 4096;
    ASSERT_TRUE(CryptBinaryToStringW(der, derLength * 2 / 3, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, text,
                                     &textLength));
    const std::wstring truncated(text, textLength);
    SAFEARRAY* data = SafeArrayCreateVector(VT_UI1, 0, 64);

    auto round = [&] {
        std::wstring archive = Call(control, 3, {Text(Wide(source_))});
        ASSERT_FALSE(archive.empty());
        EXPECT_EQ(L"504B030414", Call(control, 2, {Text(archive)}).substr(0, 10));  // unpacked and removed
        EXPECT_EQ(L"0", Call(control, 4, {Text(archive)}));
        EXPECT_EQ(L"", Call(control, 9, {Bytes(data), Number(1), Text(truncated)}));
        EXPECT_EQ(L"41", Call(control, 1, {Text(Wide(source_))}));
    };
    for (int i = 0; i < 20; ++i) round();  // everything loaded and warm
    const DWORD slots = FirstFreeTlsSlot(), handles = HandleCount();
    const SIZE_T memory = PrivateBytes();
    const int kRounds = 500;
    for (int i = 0; i < kRounds && !HasFatalFailure(); ++i) round();
    EXPECT_EQ(slots, FirstFreeTlsSlot()) << "thread-local-storage slots lost";
    EXPECT_LE(HandleCount(), handles + 8) << "handles left open";
    EXPECT_LE(PrivateBytes(), memory + (1u << 20)) << "committed memory grew by "
                                                  << (PrivateBytes() - memory) / kRounds << " bytes a round";
    SafeArrayDestroy(data);
    control->Release();
}

TEST_F(Hostile, PageAfterPageTheModuleCostsNoSlots) {
    const std::string path = ExeDirectory() + "tarnwick.OCX";
    auto page = [&] {
        HMODULE module = LoadLibraryA(path.c_str());
        IDispatch* control = CreateControl(module);
        ASSERT_NE(nullptr, control);
        EXPECT_EQ(L"41", Call(control, 1, {Text(Wide(source_))}));
        std::wstring archive = Call(control, 3, {Text(Wide(source_))});  // the zip companion too
        EXPECT_FALSE(archive.empty());
        control->Release();
        FreeLibrary(module);
    };
    for (int i = 0; i < 5; ++i) page();
    const DWORD slots = FirstFreeTlsSlot();
    for (int i = 0; i < 300 && !HasFatalFailure(); ++i) page();
    EXPECT_EQ(slots, FirstFreeTlsSlot());
}

// An engine that fails to start is asked again on every call: it must not be loaded afresh each
// time, since every fresh load of it costs the process slots.
TEST_F(Hostile, AnEngineThatFailsToStartCostsNoSlotsCallAfterCall) {
    const std::string copy = ExeDirectory() + "..\\testdata\\engine-initfail\\tarnwick.OCX";
    ASSERT_TRUE(CopyFileA((ExeDirectory() + "tarnwick.OCX").c_str(), copy.c_str(), FALSE));
    IDispatch* control = CreateControl(LoadLibraryA(copy.c_str()));
    ASSERT_NE(nullptr, control);
    SAFEARRAY* data = SafeArrayCreateVector(VT_UI1, 0, 16);
    auto call = [&] { EXPECT_EQ(L"", Call(control, 9, {Bytes(data), Number(0), Text(L"")})); };
    for (int i = 0; i < 3; ++i) call();
    const DWORD slots = FirstFreeTlsSlot();
    for (int i = 0; i < 100; ++i) call();
    EXPECT_EQ(slots, FirstFreeTlsSlot());
    SafeArrayDestroy(data);
    control->Release();
}

// Two apartments at once: the engine loads once for both, digests agree, every archive name is
// new. Both threads meet at a barrier once their controls exist, and the calls must overlap.
TEST_F(Hostile, TwoApartmentsAtOnce) {
    const std::wstring path = Wide(source_);
    std::wstring digests[2];
    std::vector<std::wstring> names[2];
    HANDLE ready[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<int> inFlight{0}, mostInFlight{0};
    DWORD met[2] = {};
    auto work = [&](int which) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IDispatch* control = CreateControl(module_);
        SetEvent(ready[which]);
        met[which] = WaitForMultipleObjects(2, ready, TRUE, 60000);
        digests[which] = Call(control, 6, {Text(path), Number(0), Text(L"")});
        for (int i = 0; i < 150; ++i) {
            const int now = ++inFlight;
            for (int most = mostInFlight; now > most && !mostInFlight.compare_exchange_weak(most, now);) {
            }
            names[which].push_back(Call(control, 3, {Text(path)}));
            --inFlight;
        }
        control->Release();  // deletes its archives
        CoUninitialize();
    };
    std::thread first(work, 0), second(work, 1);
    first.join();
    second.join();
    CloseHandle(ready[0]);
    CloseHandle(ready[1]);
    EXPECT_EQ(WAIT_OBJECT_0, met[0]);
    EXPECT_EQ(WAIT_OBJECT_0, met[1]);
    EXPECT_EQ(2, mostInFlight.load()) << "the two apartments never called at the same time";
    EXPECT_EQ(64u, digests[0].size());
    EXPECT_EQ(digests[0], digests[1]);
    std::set<std::wstring> distinct;
    for (auto& list : names)
        for (auto& name : list) {
            EXPECT_FALSE(name.empty());
            distinct.insert(name);
        }
    EXPECT_EQ(300u, distinct.size()) << "two archives got the same name";
}

// A named pipe that is there is no disk file: every local-file method refuses it with that text.
TEST_F(Hostile, ANamedPipeIsRefusedAsNoDiskFile) {
    const std::wstring pipe = L"\\\\.\\pipe\\tarnwick-hostile-" + std::to_wstring(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_NOWAIT, 4, 4096,
                                     4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    IDispatch* control = CreateControl(module_);
    ASSERT_NE(nullptr, control);
    const std::wstring refused = L"[" + pipe + L"]不是磁盘文件(设备、管道或控制台),拒绝读取!";
    EXPECT_EQ(L"-1", Call(control, 1, {Text(pipe)}));
    EXPECT_EQ(refused, Call(control, 7, {}));
    EXPECT_EQ(L"", Call(control, 5, {Text(pipe)}));
    EXPECT_EQ(refused, Call(control, 7, {}));
    EXPECT_EQ(L"", Call(control, 3, {Text(pipe)}));
    EXPECT_EQ(refused, Call(control, 7, {}));
    EXPECT_EQ(L"", Call(control, 2, {Text(pipe)}));
    control->Release();
    CloseHandle(server);
}

// A temporary directory whose name the narrow calls cannot take (more than MAX_PATH bytes in
// code page 936): the archive goes there or nowhere, never into the current directory.
TEST_F(Hostile, ATemporaryDirectoryBeyondMaxPathSendsNothingElsewhere) {
    std::wstring longDir = Wide(TempPath()) + std::wstring(140, L'\x738B');
    ASSERT_TRUE(CreateDirectoryW(longDir.c_str(), nullptr));
    wchar_t savedTmp[MAX_PATH] = {}, savedTemp[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", longDir.c_str());
    SetEnvironmentVariableW(L"TEMP", longDir.c_str());
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);

    CTarnwickCtrl* control = new CTarnwickCtrl();
    std::wstring archive = control->CreateZipFromLocalFile(Wide(source_));
    SetEnvironmentVariableW(L"TMP", savedTmp);
    SetEnvironmentVariableW(L"TEMP", savedTemp);
    if (archive.empty())
        EXPECT_NE(L"", control->m_strLastError) << "a refusal says why";
    else
        EXPECT_EQ(0u, archive.find(longDir)) << "in the temporary directory, by its full path";
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA((std::string(cwd) + "\\*.zip").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "an archive in the current directory: " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    control->Release();  // deletes an archive it made
    EXPECT_TRUE(RemoveDirectoryW(longDir.c_str())) << "something was left in the long directory";
}

}  // namespace
