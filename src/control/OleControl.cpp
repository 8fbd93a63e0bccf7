// The control-container protocol beyond script access.
#include "TarnwickCtrl.h"

struct CTarnwickCtrl::OleState {};

HRESULT CTarnwickCtrl::QueryOleInterface(REFIID, void** ppv) {
    *ppv = nullptr;
    return E_NOINTERFACE;
}

void CTarnwickCtrl::DestroyOleState(OleState* state) { delete state; }
