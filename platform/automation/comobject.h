#pragma once

// Reference counting and QueryInterface for automation objects, written once. Like IUnknown and
// ComPtr they stand outside any namespace, as the interfaces do.
//
// An object names the interfaces it hands out, each with the identifiers it answers:
//
//   class Gauge final : public ComObject<ComInterface<IDispatch, IID_IDispatch, IID_IGauge>> { ... };
//
// QueryInterface answers IUnknown with the first interface listed and each listed identifier
// with its interface; anything else is E_NOINTERFACE. An object that answers some identifiers
// only at times overrides QueryInterface and calls its base's for the rest.

#include "unknown.h"

#include <atomic>

// One interface of an object and the identifiers QueryInterface answers with it.
template <typename Interface, const IID &...Iids>
struct ComInterface {
    using Type = Interface;
    static bool answers(const IID &iid) { return ((iid == Iids) || ...); }
};

// The interfaces of an object and its QueryInterface; the reference counts come from the
// lifetimes below.
template <typename First, typename... Others>
class ComInterfaces : public First::Type, public Others::Type... {
public:
    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || First::answers(iid))
            *object = static_cast<typename First::Type *>(this);
        else
            static_cast<void>(((Others::answers(iid) && (*object = static_cast<typename Others::Type *>(this))) || ...));
        if (!*object)
            return E_NOINTERFACE;
        static_cast<typename First::Type *>(this)->AddRef();
        return S_OK;
    }

protected:
    ComInterfaces() = default;
    ~ComInterfaces() = default;
};

// An object on the heap that goes with its last reference. It starts with one reference, which
// its creator owns.
template <typename... Interfaces>
class ComObject : public ComInterfaces<Interfaces...> {
public:
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    ULONG references() const { return m_references; }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> m_references{1};
};

// An object that lives on a stack, or for the life of the module, and is never deleted: its
// references are counted all the same, so that its owner can tell whether others still hold it.
template <typename... Interfaces>
class StaticComObject : public ComInterfaces<Interfaces...> {
public:
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; }
    ULONG references() const { return m_references; }

protected:
    // `references`: those the owner holds itself (none for an object that only others hold).
    constexpr explicit StaticComObject(ULONG references = 1) : m_references(references) {}
    ~StaticComObject() = default;

private:
    std::atomic<ULONG> m_references;
};

// Creates an object whose one reference the caller owns.
template <typename T, typename... Args>
ComPtr<T> makeComObject(Args &&...args)
{
    return ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}
