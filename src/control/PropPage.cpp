// The property page object arrives with the container protocol; until then the class is
// registered but not available.
#include "ClassFactory.h"

HRESULT CreateTarnwickPropPage(REFIID, void**) { return CLASS_E_CLASSNOTAVAILABLE; }
