// Late-bound calls and class information, both served from the registered type library: script
// can call the object only while its library is registered.

#include "quillet.h"
#include "quilletids.h"
#include "quilletvtable.h"

#include <QtGlobal>

namespace tavrelo::helpers {

using tavrelo::automation::FuncDesc;
using tavrelo::automation::TypeInfo;
using tavrelo::automation::TypeLib;

namespace {

constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);

// A type info lives only as long as its library: what we hand out holds the library.
std::shared_ptr<const TypeInfo> holdingLibrary(const std::shared_ptr<const TypeLib> &lib, const TypeInfo *info)
{
    return {lib, info};
}

} // namespace

HRESULT Quillet::ensureTypeInfo(LCID lcid)
{
    if (m_typeInfo)
        return S_OK;
    std::shared_ptr<const TypeLib> lib;
    const HRESULT hr = LoadRegTypeLib(LIBID_TAVRELOHELPERSLib, kQuilletLibMajor, kQuilletLibMinor, lcid, &lib);
    if (FAILED(hr))
        return hr;
    std::shared_ptr<const TypeInfo> info = lib->typeInfoOfGuid(IID_IQuillet);
    if (!info)
        return TYPE_E_ELEMENTNOTFOUND;
    QString problem;
    if (!quilletvtable::matches(*info, &problem)) {
        qWarning("TavreloHelpers: the registered type library does not fit this library: %s", qPrintable(problem));
        return TYPE_E_INVDATAREAD;
    }
    for (const FuncDesc &func : info->funcs())
        m_memberNames.insert(func.name, func.memid);
    m_typeLib = std::move(lib);
    m_typeInfo = std::move(info);
    return S_OK;
}

HRESULT Quillet::GetTypeInfoCount(std::uint32_t *count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT Quillet::GetTypeInfo(std::uint32_t index, LCID lcid, std::shared_ptr<const TypeInfo> *typeInfo)
{
    if (!typeInfo)
        return E_POINTER;
    typeInfo->reset();
    if (index != 0)
        return DISP_E_BADINDEX;
    const HRESULT hr = ensureTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    *typeInfo = holdingLibrary(m_typeLib, m_typeInfo.get());
    return S_OK;
}

HRESULT Quillet::GetIDsOfNames(const IID & /*iid*/, const QStringList &names, LCID lcid, DISPID *ids)
{
    if (!ids)
        return E_POINTER;
    const HRESULT hr = ensureTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    HRESULT result = S_OK;
    for (qsizetype i = 0; i < names.size(); ++i) {
        // Script mostly spells members as declared: those skip the case-blind search.
        const auto cached = m_memberNames.constFind(names.at(i));
        if (cached != m_memberNames.cend())
            ids[i] = *cached;
        else if (FAILED(m_typeInfo->GetIDsOfNames(QStringList{names.at(i)}, &ids[i])))
            result = DISP_E_UNKNOWNNAME;
    }
    return result;
}

HRESULT Quillet::Invoke(DISPID member, const IID & /*iid*/, LCID lcid, std::uint16_t flags, DispParams &params,
                        Variant *result, ExcepInfo *excepInfo, std::uint32_t *argErr)
{
    const HRESULT hr = ensureTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    return m_typeInfo->Invoke(static_cast<void *>(this), quilletvtable::entries(), member, flags, params, result,
                              excepInfo, argErr);
}

HRESULT Quillet::GetClassInfo(std::shared_ptr<const TypeInfo> *classInfo)
{
    if (!classInfo)
        return E_POINTER;
    classInfo->reset();
    const HRESULT hr = ensureTypeInfo(LOCALE_USER_DEFAULT);
    if (FAILED(hr))
        return hr;
    const std::shared_ptr<const TypeInfo> coclass = m_typeLib->typeInfoOfGuid(CLSID_Quillet);
    if (!coclass)
        return TYPE_E_ELEMENTNOTFOUND;
    *classInfo = holdingLibrary(m_typeLib, coclass.get());
    return S_OK;
}

HRESULT Quillet::GetGUID(std::uint32_t guidKind, GUID *guid)
{
    if (!guid)
        return E_POINTER;
    if (guidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID{};
        return E_INVALIDARG;
    }
    *guid = DIID__DIQuilletEvents;
    return S_OK;
}

} // namespace tavrelo::helpers
