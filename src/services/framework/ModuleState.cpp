#include "ModuleState.h"

namespace tarnwick {
namespace {
HINSTANCE g_instance = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;
}  // namespace

HINSTANCE ModuleInstance() { return g_instance ? g_instance : GetModuleHandleA(nullptr); }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

std::wstring ModuleDirectory() {
    std::wstring buffer(32768, L'\0');
    DWORD length = GetModuleFileNameW(ModuleInstance(), &buffer[0], static_cast<DWORD>(buffer.size()));
    buffer.resize(length < buffer.size() ? length : 0);
    size_t slash = buffer.rfind(L'\\');
    if (slash != std::wstring::npos) buffer.resize(slash + 1);
    return buffer;
}

void ObjectCreated() { InterlockedIncrement(&g_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_objects); }
void LockModule(bool lock) {
    if (lock) InterlockedIncrement(&g_locks);
    else InterlockedDecrement(&g_locks);
}
bool ModuleInUse() { return g_objects > 0 || g_locks > 0; }
LONG LiveObjectCount() { return g_objects; }

}  // namespace tarnwick
