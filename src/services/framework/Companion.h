// A companion library kept beside the control module. It is loaded on first use, from the
// control's own directory, once even when two apartments ask at the same time, and then kept for
// the life of the process: freeing it would have to happen under the loader lock at module end,
// and every fresh load of a statically linked runtime costs the process a thread-local-storage
// slot that the unload does not give back.
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick {

class Companion {
public:
    // Runs under the lock before the library is published; returning false leaves it refused,
    // and the next call prepares the same, still loaded library again. A refused library is kept
    // loaded too: freeing and loading it again on every call would cost a slot each time.
    using Prepare = bool (*)(HMODULE module, void* context);

    explicit Companion(const wchar_t* fileName) : fileName_(fileName) {}
    Companion(const Companion&) = delete;
    Companion& operator=(const Companion&) = delete;

    // True when the library is (now) loaded; code holds the system's reason otherwise (0 when
    // prepare refused it).
    bool Load(DWORD& code, Prepare prepare = nullptr, void* context = nullptr);
    bool IsLoaded() const;
    FARPROC Find(const char* name) const;
    // The full path it is (or would be) loaded from.
    std::wstring Path() const;

private:
    const wchar_t* fileName_;
    HMODULE module_ = nullptr;    // published once prepared
    HMODULE refused_ = nullptr;   // loaded, but its preparation failed
    SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace tarnwick
