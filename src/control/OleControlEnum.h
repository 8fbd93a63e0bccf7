// A snapshot enumerator for the IEnumXxx interfaces the control hands out (verbs, connections,
// connection points). Copy semantics come from a traits class: Copy() gives the caller its own
// reference or memory, Destroy() drops what the snapshot holds.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <new>
#include <vector>
#include "framework/ModuleState.h"

namespace tarnwick {

template <typename Interface, typename Item, const IID* Iid, typename Traits>
class SnapshotEnum : public Interface {
public:
    // Takes ownership of the items (as Traits::Destroy will release them).
    static HRESULT Create(std::vector<Item>&& items, Interface** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        SnapshotEnum* e = new (std::nothrow) SnapshotEnum();
        if (!e) {
            for (Item& item : items) Traits::Destroy(item);
            return E_OUTOFMEMORY;
        }
        e->m_items = std::move(items);
        *out = e;
        return S_OK;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *Iid)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

    STDMETHODIMP Next(ULONG count, Item* items, ULONG* fetched) override {
        if (!items) return E_POINTER;
        if (count != 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && m_pos < m_items.size()) {
            HRESULT hr = Traits::Copy(&items[n], m_items[m_pos]);
            if (FAILED(hr)) {
                while (n > 0) Traits::Destroy(items[--n]);
                if (fetched) *fetched = 0;
                return hr;
            }
            ++n;
            ++m_pos;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        size_t left = m_items.size() - m_pos;
        if (count > left) {
            m_pos = m_items.size();
            return S_FALSE;
        }
        m_pos += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        m_pos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::vector<Item> copy;
        try {
            copy.resize(m_items.size());
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        for (size_t i = 0; i < m_items.size(); ++i) {
            HRESULT hr = Traits::Copy(&copy[i], m_items[i]);
            if (FAILED(hr)) {
                while (i > 0) Traits::Destroy(copy[--i]);
                return hr;
            }
        }
        Interface* clone = nullptr;
        HRESULT hr = Create(std::move(copy), &clone);
        if (FAILED(hr)) return hr;
        static_cast<SnapshotEnum*>(clone)->m_pos = m_pos;
        *out = clone;
        return S_OK;
    }

private:
    SnapshotEnum() { ObjectCreated(); }
    virtual ~SnapshotEnum() {
        for (Item& item : m_items) Traits::Destroy(item);
        ObjectDestroyed();
    }
    LONG m_refs = 1;
    std::vector<Item> m_items;
    size_t m_pos = 0;
};

}  // namespace tarnwick
