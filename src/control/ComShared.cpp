#include "ComShared.h"
#include "Guids.h"
#include "framework/ModuleState.h"
#include <cstring>

namespace tarnwick {
namespace {
ITypeLib* g_typeLib = nullptr;
}

LPOLESTR TaskStringDup(const wchar_t* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    LPOLESTR copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (copy) memcpy(copy, text, bytes);
    return copy;
}

HRESULT LoadControlTypeLib(ITypeLib** library) {
    if (!library) return E_POINTER;
    *library = nullptr;
    ITypeLib* kept = static_cast<ITypeLib*>(InterlockedCompareExchangePointer(
        reinterpret_cast<void**>(&g_typeLib), nullptr, nullptr));
    if (!kept) {
        HRESULT hr = LoadRegTypeLib(LIBID_TARNWICKLib, 1, 0, LOCALE_NEUTRAL, &kept);
        if (FAILED(hr)) {
            wchar_t path[MAX_PATH] = {};
            if (!GetModuleFileNameW(ModuleInstance(), path, MAX_PATH - 1)) return E_FAIL;
            hr = LoadTypeLibEx(path, REGKIND_NONE, &kept);
            if (FAILED(hr)) return hr;
        }
        // Another thread may have kept one meanwhile: then ours goes.
        ITypeLib* earlier = static_cast<ITypeLib*>(InterlockedCompareExchangePointer(
            reinterpret_cast<void**>(&g_typeLib), kept, nullptr));
        if (earlier) {
            kept->Release();
            kept = earlier;
        }
    }
    kept->AddRef();
    *library = kept;
    return S_OK;
}

void ReleaseControlTypeLib() {
    ITypeLib* kept = static_cast<ITypeLib*>(
        InterlockedExchangePointer(reinterpret_cast<void**>(&g_typeLib), nullptr));
    if (kept) kept->Release();
}

}  // namespace tarnwick
