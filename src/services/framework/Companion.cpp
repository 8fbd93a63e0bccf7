#include "framework/Companion.h"
#include "framework/ModuleState.h"
#include "Owners.h"

namespace tarnwick {

bool Companion::Load(DWORD& code, Prepare prepare, void* context) {
    code = 0;
    if (IsLoaded()) return true;
    const ExclusiveLock held = LockExclusive(lock_);
    if (!module_) {
        HMODULE module = refused_ ? refused_ : LoadLibraryW(Path().c_str());
        if (!module) {
            code = GetLastError();
        } else if (prepare && !prepare(module, context)) {
            refused_ = module;
        } else {
            refused_ = nullptr;
            InterlockedExchangePointer(reinterpret_cast<void**>(&module_), module);
        }
    }
    return module_ != nullptr;
}

bool Companion::IsLoaded() const {
    return InterlockedCompareExchangePointer(
               reinterpret_cast<void* volatile*>(const_cast<HMODULE*>(&module_)), nullptr, nullptr) != nullptr;
}

FARPROC Companion::Find(const char* name) const {
    return IsLoaded() ? GetProcAddress(module_, name) : nullptr;
}

std::wstring Companion::Path() const { return ModuleDirectory() + fileName_; }

}  // namespace tarnwick
