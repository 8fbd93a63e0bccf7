// RAII owners, one per kind of handle the control holds. put() serves out-parameters,
// release() hands the resource over, reset() closes it early.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace tarnwick {

template <typename T, T Invalid, typename Closer>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    T get() const { return value_; }
    explicit operator bool() const { return value_ != Invalid; }
    T* put() { reset(); return &value_; }
    T release() { T v = value_; value_ = Invalid; return v; }
    void reset(T value = Invalid) {
        if (value_ != Invalid) Closer()(value_);
        value_ = value;
    }
private:
    T value_ = Invalid;
};

struct ModuleFreer { void operator()(HMODULE h) const { FreeLibrary(h); } };
struct KeyCloser { void operator()(HKEY h) const { RegCloseKey(h); } };
struct LocalFreer { void operator()(HLOCAL h) const { LocalFree(h); } };
struct BstrFreer { void operator()(BSTR b) const { SysFreeString(b); } };

class UniqueFile {  // CreateFile / FindFirstFile style handle: INVALID_HANDLE_VALUE is empty
public:
    UniqueFile() = default;
    explicit UniqueFile(HANDLE h) : h_(h) {}
    ~UniqueFile() { reset(); }
    UniqueFile(const UniqueFile&) = delete;
    UniqueFile& operator=(const UniqueFile&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE release() { HANDLE h = h_; h_ = INVALID_HANDLE_VALUE; return h; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (*this) CloseHandle(h_);
        h_ = h;
    }
private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

class UniqueFind {
public:
    UniqueFind() = default;
    explicit UniqueFind(HANDLE h) : h_(h) {}
    ~UniqueFind() { reset(); }
    UniqueFind(const UniqueFind&) = delete;
    UniqueFind& operator=(const UniqueFind&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
        h_ = h;
    }
private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

using UniqueModule = UniqueResource<HMODULE, nullptr, ModuleFreer>;
using UniqueKey = UniqueResource<HKEY, nullptr, KeyCloser>;
using UniqueLocal = UniqueResource<HLOCAL, nullptr, LocalFreer>;
using UniqueBstr = UniqueResource<BSTR, nullptr, BstrFreer>;

class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&v_); }
    ~UniqueVariant() { VariantClear(&v_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* put() { VariantClear(&v_); return &v_; }
    void release(VARIANT* out) { *out = v_; VariantInit(&v_); }
private:
    VARIANT v_;
};

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

}  // namespace tarnwick

namespace tarnwick {

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
