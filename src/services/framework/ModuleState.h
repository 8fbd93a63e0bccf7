// Module-wide bookkeeping: the control module's instance handle (string resources and the
// module's own file name come from it) and the counts that decide whether it may be unloaded.
#pragma once
#include <windows.h>

namespace tarnwick {

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();
LONG LiveObjectCount();

}  // namespace tarnwick
