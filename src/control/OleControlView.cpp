// The control's face: what IViewObject::Draw paints into a container's DC, and the hidden
// window of a windowed activation that paints the same.
#include "OleControl.h"
#include "framework/ModuleState.h"

namespace tarnwick {

void DrawControlFace(HDC dc, const RECT& bounds) {
    // Clipping to the bounds keeps a wide pen (or a rounding in a mapped DC) from painting past
    // them; the DC's own state is given back as it came.
    int saved = SaveDC(dc);
    IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    FillRect(dc, &bounds, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    Ellipse(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    if (saved) RestoreDC(dc, saved);
}

}  // namespace tarnwick

namespace {

const wchar_t kWindowClass[] = L"TarnwickCtrlWindow";

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (dc) {
            RECT client;
            GetClientRect(window, &client);
            tarnwick::DrawControlFace(dc, client);
            EndPaint(window, &paint);
        }
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;  // WM_PAINT covers the whole client area
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

HRESULT CTarnwickCtrl::OleState::CreateControlWindow(HWND parent) {
    if (!parent) return E_UNEXPECTED;
    // The class goes again with the last window (DestroyControlWindow), so a module loaded later at
    // another address never finds a class whose procedure points into the old one.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = tarnwick::ModuleInstance();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return HRESULT_FROM_WIN32(GetLastError());
    // Invisible at run time: the window exists for containers that need one, but is not shown.
    m_window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, m_pos.left,
                               m_pos.top, m_pos.right - m_pos.left, m_pos.bottom - m_pos.top,
                               parent, nullptr, tarnwick::ModuleInstance(), nullptr);
    if (!m_window) {
        DWORD error = GetLastError();
        UnregisterClassW(kWindowClass, tarnwick::ModuleInstance());
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    return S_OK;
}

void CTarnwickCtrl::OleState::DestroyControlWindow() {
    if (!m_window) return;
    DestroyWindow(m_window);
    m_window = nullptr;
    // Fails, harmlessly, while another control of this module still has its window.
    UnregisterClassW(kWindowClass, tarnwick::ModuleInstance());
}

void CTarnwickCtrl::OleState::NotifyViewChange() {
    if (m_viewSink && (m_viewAspects & DVASPECT_CONTENT)) {
        m_viewSink->OnViewChange(DVASPECT_CONTENT, -1);
        if (m_viewFlags & ADVF_ONLYONCE) {
            m_viewSink.reset();
            m_viewAspects = 0;
            m_viewFlags = 0;
        }
    }
    if (m_window) InvalidateRect(m_window, nullptr, TRUE);
}

// ---- IViewObject2 ----

STDMETHODIMP CTarnwickCtrl::OleState::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC,
                                           HDC drawDc, LPCRECTL bounds, LPCRECTL,
                                           BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_DOCPRINT) return DV_E_DVASPECT;
    if (!drawDc) return E_INVALIDARG;
    RECT rect;
    if (bounds) {
        rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    } else if (m_inPlaceActive && m_windowlessSite) {
        rect = m_pos;  // a windowless control draws at its own place in the container's DC
    } else {
        return E_INVALIDARG;
    }
    tarnwick::DrawControlFace(drawDc, rect);
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                                  LOGPALETTE** colors) {
    if (!colors) return E_POINTER;
    *colors = nullptr;
    return S_FALSE;  // the stock white and the DC's own colours: no palette to ask for
}

STDMETHODIMP CTarnwickCtrl::OleState::Freeze(DWORD, LONG, void*, DWORD* freeze) {
    if (freeze) *freeze = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CTarnwickCtrl::OleState::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP CTarnwickCtrl::OleState::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    m_viewSink = tarnwick::ComPtr<IAdviseSink>(sink);
    m_viewAspects = sink ? aspects : 0;
    m_viewFlags = sink ? flags : 0;
    if (sink && (flags & ADVF_PRIMEFIRST)) NotifyViewChange();
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = m_viewAspects;
    if (flags) *flags = m_viewFlags;
    if (sink) {
        *sink = m_viewSink.get();
        if (*sink) (*sink)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = m_extent;
    return S_OK;
}
