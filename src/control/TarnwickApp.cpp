#include "TarnwickApp.h"
#include <cstdlib>
#include <ctime>

namespace {
CTarnwickApp theApp;
}

CTarnwickApp& TarnwickApp() { return theApp; }

CTarnwickApp::CTarnwickApp() = default;

BOOL CTarnwickApp::InitInstance() {
    m_nNameCounter = 0;
    srand(static_cast<unsigned>(_time64(nullptr)));
    m_hCryptoEngine = nullptr;
    return TRUE;
}

int CTarnwickApp::ExitInstance(bool processExiting) {
    UnloadCryptoEngine(processExiting);
    return 0;
}
