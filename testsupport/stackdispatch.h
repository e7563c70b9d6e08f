#pragma once

// The plumbing of a test's own automation object that lives on the test's stack: counted
// references (never deleting), no type information, no names. A test adds QueryInterface, Invoke
// and whatever its interface needs.

#include "automation/dispatch.h"

#include <atomic>
#include <memory>

template <typename Interface>
class StackDispatch : public Interface {
public:
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; } // lives on the test's stack
    HRESULT GetTypeInfoCount(std::uint32_t *count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const tavrelo::automation::TypeInfo> *) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const IID &, const QStringList &, LCID, DISPID *) override { return DISP_E_UNKNOWNNAME; }
    ULONG references() const { return m_references; }

private:
    std::atomic<ULONG> m_references{1};
};
