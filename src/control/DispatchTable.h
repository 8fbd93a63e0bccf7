// The script interface in one table: dispatch id, name, parameters, result and the member that
// does the work. GetIDsOfNames and Invoke answer from it.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
#include "memfile/ScriptArray.h"

class CTarnwickCtrl;

namespace tarnwick {

constexpr unsigned kMaxParams = 3;

// Arguments after coercion: texts as UTF-16, numbers 32-bit, memory files (script objects or
// platform arrays) borrowed for the call.
struct ScriptArgs {
    std::wstring text[kMaxParams];
    long number[kMaxParams] = {};
    memfile::MemorySource memory[kMaxParams];
};

// Stores the method's result into the caller's VARIANT (which may be null).
using MethodThunk = void (*)(CTarnwickCtrl& control, const ScriptArgs& args, VARIANT* result);

struct MethodEntry {
    DISPID id;
    const wchar_t* name;
    VARTYPE result;                   // VT_I4 or VT_BSTR
    unsigned paramCount;
    VARTYPE params[kMaxParams];       // VT_BSTR, VT_I4 or VT_VARIANT (a memory file)
    const wchar_t* paramNames[kMaxParams];
    MethodThunk call;                 // null while the method is not available
};

const MethodEntry* FindMethod(DISPID id);
const MethodEntry* FindMethod(const wchar_t* name);
const MethodEntry* MethodTable(size_t* count);

HRESULT DispatchInvoke(CTarnwickCtrl& control, DISPID id, WORD flags, DISPPARAMS* params,
                       VARIANT* result, UINT* argErr);

}  // namespace tarnwick
