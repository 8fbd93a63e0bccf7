// The module's entry point and its four exports.
#include "ClassFactory.h"
#include "ComShared.h"
#include "Registration.h"
#include "fileservices/TempArea.h"
#include "framework/ModuleState.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        tarnwick::SetModuleInstance(instance);
        DisableThreadLibraryCalls(instance);
        tarnwick::files::ResetUniqueNames();
        // The module stays loaded for the life of the process once a host has loaded it: every
        // fresh load of the statically linked runtime would cost the process a thread-local
        // storage slot that unloading does not give back, and page after page a host unloads
        // and reloads controls. Its companions are kept the same way.
        {
            HMODULE self = nullptr;
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                               reinterpret_cast<LPCWSTR>(&DllMain), &self);
        }
        return TRUE;
    case DLL_PROCESS_DETACH:
        // reserved is non-null when the whole process is ending: other modules may already be
        // gone, so the end of the module then touches nothing outside itself.
        if (!reserved) tarnwick::ReleaseControlTypeLib();
        break;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = FindClassFactory(clsid);
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return tarnwick::ModuleInUse() ? S_FALSE : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return RegisterServer(); }
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UnregisterServer(); }
