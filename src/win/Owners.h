// Owners of the system's resources. One template, Unique<Policy>, owns a value of a handle-like
// type; the policy says what "empty" is and how the value is closed, so every kind of handle
// shares the same get / put / release / reset and the same moves. Values that are structures
// rather than handles (VARIANT) have UniqueStruct beside it, and COM interfaces ComPtr.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace tarnwick {

// A policy: using pointer = T; static T invalid(); static bool valid(T); static void close(T).
template <typename Policy>
class Unique {
public:
    using pointer = typename Policy::pointer;

    Unique() = default;
    explicit Unique(pointer value) : value_(value) {}
    ~Unique() { reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    pointer get() const { return value_; }
    explicit operator bool() const { return Policy::valid(value_); }
    // For out-parameters: closes what is held, then hands out the slot.
    pointer* put() {
        reset();
        return &value_;
    }
    pointer release() {
        pointer value = value_;
        value_ = Policy::invalid();
        return value;
    }
    void reset(pointer value = Policy::invalid()) {
        if (Policy::valid(value_)) Policy::close(value_);
        value_ = value;
    }

private:
    pointer value_ = Policy::invalid();
};

// Empty is null; Close releases the value.
template <typename T, auto Close>
struct NullIsEmpty {
    using pointer = T;
    static T invalid() { return nullptr; }
    static bool valid(T value) { return value != nullptr; }
    static void close(T value) { Close(value); }
};

// File handles: CreateFile reports failure as INVALID_HANDLE_VALUE, other calls as null; both
// are empty.
struct FileHandlePolicy {
    using pointer = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};

struct FindHandlePolicy {
    using pointer = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};

using UniqueFile = Unique<FileHandlePolicy>;
using UniqueFind = Unique<FindHandlePolicy>;
using UniqueModule = Unique<NullIsEmpty<HMODULE, &FreeLibrary>>;
using UniqueKey = Unique<NullIsEmpty<HKEY, &RegCloseKey>>;
using UniqueLocal = Unique<NullIsEmpty<HLOCAL, &LocalFree>>;
using UniqueBstr = Unique<NullIsEmpty<BSTR, &SysFreeString>>;
// An SRW lock held exclusively; released when the owner ends.
using ExclusiveLock = Unique<NullIsEmpty<PSRWLOCK, &ReleaseSRWLockExclusive>>;
// The data of a platform array, locked by SafeArrayAccessData.
using ArrayDataLock = Unique<NullIsEmpty<SAFEARRAY*, &SafeArrayUnaccessData>>;

// Takes the lock, held while the owner returned lives (a result dropped unlocks at once).
[[nodiscard]] inline ExclusiveLock LockExclusive(SRWLOCK& lock) {
    AcquireSRWLockExclusive(&lock);
    return ExclusiveLock(&lock);
}

// Locks the array's data and points data at it; empty (hr set) when the array refuses.
// Unlocked when the owner returned ends, so a dropped result unlocks at once.
[[nodiscard]] inline ArrayDataLock AccessArrayData(SAFEARRAY* array, void** data, HRESULT& hr) {
    hr = SafeArrayAccessData(array, data);
    return ArrayDataLock(SUCCEEDED(hr) ? array : nullptr);
}

// A structure with an initialiser and a clearing call, held by value.
template <typename T, auto Init, auto Clear>
class UniqueStruct {
public:
    UniqueStruct() { Init(&value_); }
    ~UniqueStruct() { Clear(&value_); }
    UniqueStruct(const UniqueStruct&) = delete;
    UniqueStruct& operator=(const UniqueStruct&) = delete;
    T* get() { return &value_; }
    const T* get() const { return &value_; }
    // Clears what is held, then hands out the structure to be filled.
    T* put() {
        Clear(&value_);
        Init(&value_);
        return &value_;
    }
    // Moves the value to out, which the caller then owns.
    void release(T* out) {
        *out = value_;
        Init(&value_);
    }

private:
    T value_;
};

inline void InitVariant(VARIANT* value) { VariantInit(value); }
inline void ClearVariant(VARIANT* value) { VariantClear(value); }
using UniqueVariant = UniqueStruct<VARIANT, &InitVariant, &ClearVariant>;

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr& operator=(const ComPtr& o) { ComPtr tmp(o); std::swap(p_, tmp.p_); return *this; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() { reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    T* release() { T* p = p_; p_ = nullptr; return p; }
    void reset() { if (p_) { p_->Release(); p_ = nullptr; } }
private:
    T* p_ = nullptr;
};

// Runs a callable when the scope ends, unless dismissed.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() {
        if (armed_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void dismiss() { armed_ = false; }
private:
    F f_;
    bool armed_ = true;
};

}  // namespace tarnwick
