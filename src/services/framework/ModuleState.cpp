#include "ModuleState.h"

namespace tarnwick {
namespace {
HINSTANCE g_instance = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;
}  // namespace

HINSTANCE ModuleInstance() { return g_instance ? g_instance : GetModuleHandleA(nullptr); }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

std::string ModuleDirectory() {
    char buffer[MAX_PATH] = {};
    GetModuleFileNameA(ModuleInstance(), buffer, MAX_PATH - 1);
    std::string path = buffer;
    size_t slash = path.rfind('\\');
    if (slash != std::string::npos) path.resize(slash + 1);
    return path;
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
