// Class, interface and library ids. Those in the type library come from the header widl
// generates from tarnwick.idl, so the C++ side and the library cannot disagree.
#pragma once
#include <windows.h>
#include "tarnwick_h.h"

// The property page is not described in the type library.
extern "C" const CLSID CLSID_TarnwickPropPage;

extern const char kControlProgId[];   // "TARNWICK.TarnwickCtrl.1"
extern const char kPropPageProgId[];  // "TARNWICK.TarnwickPropPage.1"
