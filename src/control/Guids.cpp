#include <initguid.h>
#include "Guids.h"

// {F124E7BF-3C68-4AFC-B779-E244DB192CE7}
extern "C" const CLSID CLSID_TarnwickPropPage = {
    0xf124e7bf, 0x3c68, 0x4afc, {0xb7, 0x79, 0xe2, 0x44, 0xdb, 0x19, 0x2c, 0xe7}};

const char kControlProgId[] = "TARNWICK.TarnwickCtrl.1";
const char kPropPageProgId[] = "TARNWICK.TarnwickPropPage.1";
