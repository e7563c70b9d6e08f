#pragma once

// The plumbing of a test's own automation object that lives on the test's stack: counted
// references (never deleting), no type information, no names. It answers IUnknown, IDispatch and
// `Iids` with `Interface`; a test adds Invoke and whatever its interface needs.

#include "automation/comobject.h"
#include "automation/dispatch.h"

#include <memory>

template <typename Interface, const IID &...Iids>
class StackDispatch : public StaticComObject<ComInterface<Interface, IID_IDispatch, Iids...>> {
public:
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
};
