// Small pieces several COM objects of the control share.
#pragma once
#include <windows.h>
#include <oleauto.h>

namespace tarnwick {

// A copy of a wide string in task memory, as OLE hands strings to its callers; null when out of
// memory.
LPOLESTR TaskStringDup(const wchar_t* text);

// The control's type library: the registered one, or the copy embedded in the module when the
// library is not (or not yet) registered. Loaded once and kept; the caller gets its own reference.
HRESULT LoadControlTypeLib(ITypeLib** library);
// Drops the kept library (module unload).
void ReleaseControlTypeLib();

}  // namespace tarnwick
