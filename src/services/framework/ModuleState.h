// Module-wide bookkeeping: the control module's instance handle (string resources and the
// module's own file name come from it) and the counts that decide whether it may be unloaded.
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);
// The module's own directory, ending in '\' (companions are loaded from there).
std::wstring ModuleDirectory();

void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();
LONG LiveObjectCount();

}  // namespace tarnwick
