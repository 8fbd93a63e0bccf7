// Persistence of the control. Its only persistent datum is the version of its saved form:
// a stream (and the "Contents" stream of a storage) holds it as 4 bytes, a property bag as the
// value "_Version" (VT_I4). Every save writes the current version. A load accepts any version:
// older forms carry nothing the current one lacks, and a newer one is read as far as this
// version understands it. A form other than the current one leaves the control dirty, so the
// container writes the current form back on its next save.
#include "OleControl.h"
#include "Guids.h"

using tarnwick::ComPtr;
using tarnwick::kPersistVersion;

namespace {
const wchar_t kContentsStream[] = L"Contents";
const wchar_t kVersionProperty[] = L"_Version";

HRESULT WriteVersion(IStream* stream) {
    DWORD version = kPersistVersion;
    ULONG written = 0;
    HRESULT hr = stream->Write(&version, sizeof(version), &written);
    if (FAILED(hr)) return hr;
    return written == sizeof(version) ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadVersion(IStream* stream, DWORD* version) {
    ULONG read = 0;
    HRESULT hr = stream->Read(version, sizeof(*version), &read);
    if (FAILED(hr)) return hr;
    return read == sizeof(*version) ? S_OK : STG_E_READFAULT;
}
}  // namespace

HRESULT CTarnwickCtrl::OleState::LoadVersion(DWORD version) {
    m_dirty = version != kPersistVersion;
    NotifyViewChange();
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_Tarnwick;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::IsDirty() { return m_dirty ? S_OK : S_FALSE; }

// ---- IPersistStreamInit (and the InitNew of IPersistPropertyBag) ----

STDMETHODIMP CTarnwickCtrl::OleState::InitNew() {
    m_extent = {tarnwick::kDefaultExtentX, tarnwick::kDefaultExtentY};
    m_dirty = false;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::Load(LPSTREAM stream) {
    if (!stream) return E_POINTER;
    DWORD version = 0;
    HRESULT hr = ReadVersion(stream, &version);
    if (FAILED(hr)) return hr;
    return LoadVersion(version);
}

STDMETHODIMP CTarnwickCtrl::OleState::Save(LPSTREAM stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    HRESULT hr = WriteVersion(stream);
    if (FAILED(hr)) return hr;
    if (clearDirty) m_dirty = false;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = sizeof(DWORD);
    return S_OK;
}

// ---- IPersistPropertyBag ----

STDMETHODIMP CTarnwickCtrl::OleState::Load(IPropertyBag* bag, IErrorLog* log) {
    if (!bag) return E_POINTER;
    tarnwick::UniqueVariant value;
    value.get()->vt = VT_I4;
    HRESULT hr = bag->Read(kVersionProperty, value.get(), log);
    if (FAILED(hr)) return LoadVersion(0);  // a bag from before the version was written
    if (value.get()->vt != VT_I4 &&
        FAILED(VariantChangeType(value.get(), value.get(), 0, VT_I4)))
        return LoadVersion(0);
    return LoadVersion(static_cast<DWORD>(value.get()->lVal));
}

STDMETHODIMP CTarnwickCtrl::OleState::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
    if (!bag) return E_POINTER;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = static_cast<LONG>(kPersistVersion);
    HRESULT hr = bag->Write(kVersionProperty, &value);
    if (FAILED(hr)) return hr;
    if (clearDirty) m_dirty = false;
    return S_OK;
}

// ---- IPersistStorage: the version in the storage's "Contents" stream ----

STDMETHODIMP CTarnwickCtrl::OleState::InitNew(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (m_storage) return CO_E_ALREADYINITIALIZED;
    m_storage = ComPtr<IStorage>(storage);
    return InitNew();
}

STDMETHODIMP CTarnwickCtrl::OleState::Load(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (m_storage) return CO_E_ALREADYINITIALIZED;
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                     stream.put());
    if (FAILED(hr)) return hr;
    hr = Load(stream.get());
    if (FAILED(hr)) return hr;
    m_storage = ComPtr<IStorage>(storage);
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::Save(IStorage* storage, BOOL) {
    if (!storage) return E_POINTER;
    ComPtr<IStream> stream;
    HRESULT hr = storage->CreateStream(kContentsStream,
                                       STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                       stream.put());
    if (FAILED(hr)) return hr;
    // The dirty flag stays until SaveCompleted says the container has the new form.
    return WriteVersion(stream.get());
}

STDMETHODIMP CTarnwickCtrl::OleState::SaveCompleted(IStorage* storage) {
    if (storage) m_storage = ComPtr<IStorage>(storage);
    m_dirty = false;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::OleState::HandsOffStorage() {
    m_storage.reset();
    return S_OK;
}
