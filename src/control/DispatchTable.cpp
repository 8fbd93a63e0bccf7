#include "DispatchTable.h"
#include "ComShared.h"
#include "Guids.h"
#include "TarnwickCtrl.h"
#include "framework/ModuleState.h"
#include "framework/Strings.h"
#include "Owners.h"
#include <new>

namespace tarnwick {
namespace {

void PutLong(VARIANT* result, long value) {
    if (!result) return;
    V_VT(result) = VT_I4;
    V_I4(result) = value;
}

void PutText(VARIANT* result, const std::wstring& value) {
    BSTR text = ToBstr(value);
    if (!result) {
        SysFreeString(text);
        return;
    }
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = text;
}

constexpr DISPID kGetLastErrorInfo = 7;

#define THUNK(body) [](CTarnwickCtrl& c, const ScriptArgs& a, VARIANT* r) { body; }

const MethodEntry kMethods[] = {
    {1, L"GetLocalFileSize", VT_I4, 1, {VT_BSTR}, {L"strFilePath"},
     THUNK(PutLong(r, c.GetLocalFileSize(a.text[0])))},
    {2, L"GetLocalFileHeadSigned", VT_BSTR, 1, {VT_BSTR}, {L"strFilePath"},
     THUNK(PutText(r, c.GetLocalFileHeadSigned(a.text[0])))},
    {3, L"CreateZipFromLocalFile", VT_BSTR, 1, {VT_BSTR}, {L"strFilePath"},
     THUNK(PutText(r, c.CreateZipFromLocalFile(a.text[0])))},
    {4, L"DeleteFileFromCreateZip", VT_I4, 1, {VT_BSTR}, {L"strFilePath"},
     THUNK(PutLong(r, c.DeleteFileFromCreateZip(a.text[0])))},
    {5, L"GetLocalFileSHA256", VT_BSTR, 1, {VT_BSTR}, {L"strFilePath"},
     THUNK(PutText(r, c.GetLocalFileSHA256(a.text[0])))},
    {6, L"GetLocalFileSM3", VT_BSTR, 3, {VT_BSTR, VT_I4, VT_BSTR},
     {L"strFilePath", L"nWithZValue", L"strBase64Cert"},
     THUNK(PutText(r, c.GetLocalFileSM3(a.text[0], a.number[1], a.text[2])))},
    {7, L"GetLastErrorInfo", VT_BSTR, 0, {}, {}, THUNK(PutText(r, c.GetLastErrorInfo()))},
    {8, L"GetMemFileHeadSigned", VT_BSTR, 2, {VT_VARIANT, VT_BSTR},
     {L"lpIDisp", L"strFileType"},
     THUNK(PutText(r, c.GetMemFileHeadSigned(a.memory[0], a.text[1])))},
    {9, L"GetMemFileSM3", VT_BSTR, 3, {VT_VARIANT, VT_I4, VT_BSTR},
     {L"lpIDisp", L"nWithZValue", L"strBase64Cert"},
     THUNK(PutText(r, c.GetMemFileSM3(a.memory[0], a.number[1], a.text[2])))},
    {10, L"GetMemFileSize", VT_I4, 1, {VT_VARIANT}, {L"lpIDisp"},
     THUNK(PutLong(r, c.GetMemFileSize(a.memory[0])))},
    {11, L"GetMemMD5FileHeadSigned", VT_BSTR, 2, {VT_BSTR, VT_BSTR},
     {L"strFileInfo", L"strFileType"},
     THUNK(PutText(r, c.GetMemMD5FileHeadSigned(a.text[0], a.text[1])))},
    {12, L"GetMemFileSHA256", VT_BSTR, 1, {VT_VARIANT}, {L"lpIDisp"},
     THUNK(PutText(r, c.GetMemFileSHA256(a.memory[0])))},
    {13, L"CreateZipFromMemFile", VT_BSTR, 2, {VT_VARIANT, VT_BSTR},
     {L"lpIDisp", L"strFileName"},
     THUNK(PutText(r, c.CreateZipFromMemFile(a.memory[0], a.text[1])))},
};

#undef THUNK

// Coerces one script argument to its declared type, by the platform's rules.
HRESULT CoerceArg(VARIANT* arg, VARTYPE type, unsigned slot, ScriptArgs& out) {
    UniqueVariant converted;
    switch (type) {
    case VT_BSTR: {
        HRESULT hr = VariantChangeType(converted.get(), arg, 0, VT_BSTR);
        if (FAILED(hr)) return hr;
        const BSTR text = V_BSTR(converted.get());
        out.text[slot] = text ? std::wstring(text) : std::wstring();  // up to the first NUL
        return S_OK;
    }
    case VT_I4: {
        HRESULT hr = VariantChangeType(converted.get(), arg, 0, VT_I4);
        if (FAILED(hr)) return hr;
        out.number[slot] = V_I4(converted.get());
        return S_OK;
    }
    case VT_VARIANT: {  // a memory file
        VARIANT* v = arg;
        while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
        const VARTYPE vt = V_VT(v);
        memfile::MemorySource& source = out.memory[slot];
        source = memfile::MemorySource();
        // An absent object (null, undefined) reaches the method as a null object.
        if (vt == VT_EMPTY || vt == VT_NULL) return S_OK;
        if (vt == VT_DISPATCH) {
            source.object = V_DISPATCH(v);
            return S_OK;
        }
        if (vt == (VT_BYREF | VT_DISPATCH)) {
            source.object = *V_DISPATCHREF(v);
            return S_OK;
        }
        if (vt & VT_ARRAY) {
            source.array = (vt & VT_BYREF) ? *V_ARRAYREF(v) : V_ARRAY(v);
            source.elementType = vt & VT_TYPEMASK;
            if (!source.array) source = memfile::MemorySource();  // an empty array slot: nothing
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

const MethodEntry* MethodTable(size_t* count) {
    *count = sizeof(kMethods) / sizeof(kMethods[0]);
    return kMethods;
}

const MethodEntry* FindMethod(DISPID id) {
    for (const MethodEntry& m : kMethods)
        if (m.id == id) return &m;
    return nullptr;
}

const MethodEntry* FindMethod(const wchar_t* name) {
    if (!name) return nullptr;
    for (const MethodEntry& m : kMethods)
        if (_wcsicmp(m.name, name) == 0) return &m;
    return nullptr;
}

HRESULT DispatchInvoke(CTarnwickCtrl& control, DISPID id, WORD flags, DISPPARAMS* params,
                       VARIANT* result, UINT* argErr) {
    const MethodEntry* method = FindMethod(id);
    if (!method || !method->call) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_INVALIDARG;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != method->paramCount) return DISP_E_BADPARAMCOUNT;

    try {
        ScriptArgs args;
        for (unsigned i = 0; i < method->paramCount; ++i) {
            // Arguments arrive last first.
            UINT position = params->cArgs - 1 - i;
            HRESULT hr = CoerceArg(&params->rgvarg[position], method->params[i], i, args);
            if (FAILED(hr)) {
                if (argErr) *argErr = position;
                return hr;
            }
        }
        if (result) VariantInit(result);
        // A page the administrator's site list leaves out gets every method's failure value
        // and a text naming its site; the text itself stays readable.
        if (method->id != kGetLastErrorInfo && !control.MayScript()) {
            control.RefuseSite();
            if (method->result == VT_I4) PutLong(result, -1);
            else PutText(result, std::wstring());
            return S_OK;
        }
        method->call(control, args, result);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace tarnwick

// ---- IDispatch of the control ----

STDMETHODIMP CTarnwickCtrl::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CTarnwickCtrl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    tarnwick::ComPtr<ITypeLib> library;
    HRESULT hr = tarnwick::LoadControlTypeLib(library.put());
    if (FAILED(hr)) return hr;
    return library->GetTypeInfoOfGuid(DIID__DTarnwick, info);
}

STDMETHODIMP CTarnwickCtrl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    const tarnwick::MethodEntry* method = tarnwick::FindMethod(names[0]);
    HRESULT hr = S_OK;
    ids[0] = method ? method->id : DISPID_UNKNOWN;
    if (!method) hr = DISP_E_UNKNOWNNAME;
    // Further names are parameter names of that method.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        if (!method) continue;
        for (unsigned p = 0; p < method->paramCount; ++p) {
            if (names[i] && _wcsicmp(method->paramNames[p], names[i]) == 0) ids[i] = p;
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP CTarnwickCtrl::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                   UINT* argErr) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    // Keep the object alive for the call even if script drops it meanwhile.
    AddRef();
    HRESULT hr = tarnwick::DispatchInvoke(*this, id, flags, params, result, argErr);
    Release();
    return hr;
}
