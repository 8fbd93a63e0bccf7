// What registration writes: the type library, the two classes, the script-safety categories
// and the browser's per-site allowance.
#pragma once
#include <windows.h>
#include <comcat.h>
#include <string>

HRESULT RegisterServer();
HRESULT UnregisterServer();

// Pieces, exposed for tests.
HRESULT CreateComponentCategory(REFCATID catid, const wchar_t* description);
HRESULT RegisterClassInCategory(REFCLSID clsid, REFCATID catid);
void AllowControlOnAllSites(HKEY hive);
std::string ClassIdKeyName(REFCLSID clsid);
