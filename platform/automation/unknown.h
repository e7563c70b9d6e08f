#pragma once

// The object model every automation object follows: interfaces found by identifier through
// QueryInterface, lifetime by reference counts. Interfaces are abstract classes; objects created
// in one module are used through them by another, so nothing here relies on RTTI across modules.

#include "guid.h"
#include "hresult.h"

#include <cstdint>
#include <utility>

using ULONG = std::uint32_t;

inline const IID IID_IUnknown{0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline const IID IID_IDispatch{0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline const IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline const IID IID_IConnectionPointContainer{0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07};
inline const IID IID_IConnectionPoint{0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07};
inline const IID IID_IProvideClassInfo{0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07};
inline const IID IID_IProvideClassInfo2{0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51};
inline const IID IID_IObjectWithSite{0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52};
inline const IID IID_IOleWindow{0x00000114, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline const IID IID_IOleInPlaceSite{0x00000119, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline const IID IID_IHTMLDocument2{0x332C4425, 0x26CB, 0x11D0, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19};

class IUnknown {
public:
    // On success stores an interface pointer (already AddRef'ed) in *object; E_NOINTERFACE and a
    // null *object when the interface is not supported; E_POINTER for a null `object`.
    virtual HRESULT QueryInterface(const IID &iid, void **object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// Owns one reference of an interface pointer.
template <typename T>
class ComPtr final {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes an extra reference of `p`.
    explicit ComPtr(T *p) : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(const ComPtr &other) : ComPtr(other.m_p) {}
    ComPtr(ComPtr &&other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { reset(); }
    ComPtr &operator=(ComPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }

    // Adopts a pointer whose reference the caller hands over (as QueryInterface returns them).
    static ComPtr adopt(T *p)
    {
        ComPtr result;
        result.m_p = p;
        return result;
    }

    void reset()
    {
        if (T *p = std::exchange(m_p, nullptr))
            p->Release();
    }
    // For out parameters: releases what is held and gives the slot to fill.
    T **put()
    {
        reset();
        return &m_p;
    }
    void **putVoid() { return reinterpret_cast<void **>(put()); }
    // Hands the reference to the caller.
    T *detach() { return std::exchange(m_p, nullptr); }

    T *get() const { return m_p; }
    T *operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    bool operator==(const ComPtr &other) const { return m_p == other.m_p; }

    // QueryInterface into another smart pointer.
    template <typename U>
    HRESULT as(const IID &iid, ComPtr<U> *out) const
    {
        if (!m_p)
            return E_POINTER;
        return m_p->QueryInterface(iid, out->putVoid());
    }

private:
    T *m_p = nullptr;
};
