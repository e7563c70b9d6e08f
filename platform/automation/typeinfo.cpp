#include "typeinfo.h"

#include <algorithm>

namespace tavrelo::automation {

int FuncDesc::inputCount() const
{
    return int(std::ranges::count_if(params, [](const ParamDesc &p) { return !p.retval; }));
}

int FuncDesc::requiredCount() const
{
    return int(std::ranges::count_if(params, [](const ParamDesc &p) { return !p.retval && !p.optional; }));
}

bool FuncDesc::hasRetval() const { return !params.isEmpty() && params.last().retval; }

HRESULT TypeInfo::GetIDsOfNames(const QStringList &names, DISPID *ids) const
{
    if (!ids)
        return E_POINTER;
    if (names.isEmpty())
        return E_INVALIDARG;
    const auto sameName = [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; };
    const auto func = std::ranges::find_if(m_funcs, [&](const FuncDesc &f) { return sameName(f.name, names.first()); });
    HRESULT hr = S_OK;
    for (qsizetype i = 0; i < names.size(); ++i) {
        DISPID id = DISPID_UNKNOWN;
        if (func != m_funcs.end() && i == 0) {
            id = func->memid;
        } else if (func != m_funcs.end()) {
            // Further names are parameters of that member, numbered by position.
            const auto param =
                std::ranges::find_if(func->params, [&](const ParamDesc &p) { return sameName(p.name, names[i]); });
            if (param != func->params.end())
                id = DISPID(param - func->params.begin());
        }
        ids[i] = id;
        if (id == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

const FuncDesc *TypeInfo::findFunc(DISPID memid, std::uint16_t flags) const
{
    for (const FuncDesc &func : m_funcs) {
        if (func.memid != memid)
            continue;
        const bool isPut = func.invokeKind == DISPATCH_PROPERTYPUT;
        if ((flags & DISPATCH_PROPERTYPUT) ? isPut : (!isPut && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))))
            return &func;
    }
    return nullptr;
}

HRESULT TypeInfo::Invoke(void *self, std::span<const MethodThunk> vtable, DISPID memid, std::uint16_t flags,
                         DispParams &params, Variant *result, ExcepInfo *excepInfo, std::uint32_t *argErr) const
{
    const FuncDesc *func = findFunc(memid, flags);
    if (!func)
        return DISP_E_MEMBERNOTFOUND;
    const auto entry = std::size_t(func->vtableIndex);
    if (func->vtableIndex < 0 || entry >= vtable.size() || !vtable[entry])
        return E_NOTIMPL;
    const int inputs = func->inputCount();
    const int given = int(params.args.size());
    if (given > inputs)
        return DISP_E_BADPARAMCOUNT;

    // Arguments fill the parameters in order, except that the new value of a put (the last
    // argument) always belongs to the last parameter.
    const bool put = func->invokeKind == DISPATCH_PROPERTYPUT;
    const auto argumentFor = [&](int param) {
        if (put && given > 0 && param == inputs - 1)
            return given - 1;
        const int leading = put && given > 0 ? given - 1 : given;
        return param < leading ? param : -1;
    };

    std::vector<Variant> slots(std::size_t(func->params.size()));
    for (int i = 0; i < inputs; ++i) {
        const ParamDesc &param = func->params[i];
        const int arg = argumentFor(i);
        const Variant *value = arg >= 0 ? &params.args[std::size_t(arg)] : nullptr;
        if (param.optional && (!value || value->isEmpty())) {
            slots[std::size_t(i)] = param.defaultValue;
            continue;
        }
        if (!value)
            return DISP_E_PARAMNOTOPTIONAL;
        const HRESULT hr = VariantChangeType(&slots[std::size_t(i)], *value, param.vt);
        if (FAILED(hr)) {
            if (argErr)
                *argErr = std::uint32_t(arg);
            return hr;
        }
    }

    const HRESULT hr = vtable[entry](self, slots.data());
    if (FAILED(hr)) {
        if (excepInfo)
            excepInfo->scode = hr;
        return hr;
    }
    if (result)
        *result = func->hasRetval() ? std::move(slots.back()) : Variant();
    return hr;
}

std::shared_ptr<const TypeInfo> TypeLib::typeInfoOfGuid(const GUID &guid) const
{
    const auto found = std::ranges::find_if(m_types, [&](const auto &type) { return type->guid() == guid; });
    return found == m_types.end() ? nullptr : *found;
}

std::shared_ptr<const TypeInfo> TypeLib::typeInfoOfName(const QString &name) const
{
    const auto found = std::ranges::find_if(
        m_types, [&](const auto &type) { return type->name().compare(name, Qt::CaseInsensitive) == 0; });
    return found == m_types.end() ? nullptr : *found;
}

}
