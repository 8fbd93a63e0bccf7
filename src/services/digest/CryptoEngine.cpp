#include "digest/CryptoEngine.h"
#include "framework/Companion.h"
#include "CodePage.h"
#include "hex.h"
#include "ovalon.h"

namespace tarnwick::engine {
namespace {

// The engine of the control's own architecture, beside it.
#ifdef _WIN64
constexpr wchar_t kEngineFile[] = L"OVALON.x64.dll";
#else
constexpr wchar_t kEngineFile[] = L"OVALON.x86.dll";
#endif

static_assert(OVALON_ENTRY_POINT_COUNT == 33, "the engine has 33 entry points");

Companion g_engine(kEngineFile);
OvalonEntryPoints g_entries;  // filled once, under the companion's lock, before it is published
// The engine's UTF-16 file entry, beside the list; bound with it, null when the engine has none.
OvalonSM3HashFileWFn g_hashFileW = nullptr;

// An entry point as the pointer type the list gives it.
template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Run under the companion's lock after a fresh load: every entry point present, Initialize
// succeeded.
struct Preparation {
    LoadStatus status = LoadStatus::Ok;
    int code = 0;
};

bool Prepare(HMODULE module, void* context) {
    Preparation& preparation = *static_cast<Preparation*>(context);
    bool complete = true;
#define TARNWICK_BIND_ENTRY(name, bytes, type, parameters) \
    complete = (g_entries.name = Bind<Ovalon##name##Fn>(module, #name)) != nullptr && complete;
    OVALON_ENTRY_POINTS(TARNWICK_BIND_ENTRY)
#undef TARNWICK_BIND_ENTRY
    g_hashFileW = Bind<OvalonSM3HashFileWFn>(module, "SM3HashFileW");
    if (!complete) {
        preparation.status = LoadStatus::EntryMissing;
        preparation.code = -1;
        return false;
    }
    int status = g_entries.Initialize();
    if (status != 0) {
        preparation.status = LoadStatus::InitFailed;
        preparation.code = status;
        return false;
    }
    return true;
}

// Runs one SM3 request on the loaded engine; its output (if any) is rendered as hex and released.
template <typename Request>
Sm3Outcome Run(Request request) {
    Sm3Outcome outcome;
    if (!g_engine.IsLoaded()) {
        outcome.status = Sm3Status::NotLoaded;
        return outcome;
    }
    unsigned char* out = nullptr;
    int outLength = 0;
    outcome.code = request(&out, &outLength);
    if (out) {
        outcome.hex = hex::Upper(out, outLength > 0 ? static_cast<size_t>(outLength) : 0);
        g_entries.FreeMemory(out);
    }
    if (outcome.code != OVALON_OK || outcome.hex.empty()) {
        outcome.status = Sm3Status::Failed;
        outcome.hex.clear();
    }
    return outcome;
}

}  // namespace

bool IsLoaded() { return g_engine.IsLoaded(); }

LoadOutcome EnsureLoaded() {
    LoadOutcome outcome;
    Preparation preparation;
    DWORD code = 0;
    if (g_engine.Load(code, Prepare, &preparation)) return outcome;
    outcome.path = g_engine.Path();
    if (preparation.status != LoadStatus::Ok) {
        outcome.status = preparation.status;
        outcome.code = preparation.code;
    } else {
        outcome.status = LoadStatus::LoadFailed;
        outcome.code = -1;
    }
    return outcome;
}

// A path in UTF-16 goes to the engine's wide entry; an engine without one gets the path in the
// ANSI code page.

Sm3Outcome HashFile(const std::wstring& path, long withZ, const std::string& cert) {
    const char* certificate = cert.empty() ? nullptr : cert.c_str();
    return Run([&](unsigned char** out, int* outLength) {
        if (g_hashFileW) return g_hashFileW(path.c_str(), withZ ? 1 : 0, certificate, out, outLength);
        const std::string narrow = FromWide(CP_ACP, path.c_str());
        return g_entries.SM3HashFile(narrow.c_str(), withZ ? 1 : 0, certificate, out, outLength);
    });
}

Sm3Outcome HashData(const unsigned char* data, DWORD count, long withZ, const std::string& cert) {
    return Run([&](unsigned char** out, int* outLength) {
        return g_entries.SM3HashData(
            data, static_cast<int>(count), withZ ? 1 : 0, cert.empty() ? nullptr : cert.c_str(),
            out, outLength);
    });
}

}  // namespace tarnwick::engine
