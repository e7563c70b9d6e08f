// An in-process server for the tests of class creation and registration: one class, Gauge,
// whose members go through the type library it carries, and the resources a registered module
// has (TYPELIB 1, REGISTRY 101).

#include "automation/classes.h"
#include "automation/comobject.h"
#include "automation/membertable.h"
#include "automation/module.h"
#include "automation/registrar.h"
#include "automation/typeinfo.h"

#include <atomic>
#include <cstring>
#include <string_view>

#define EXPORTED extern "C" __attribute__((visibility("default")))

namespace {

const CLSID kGaugeClass{0x3F0A9C41, 0x5D2B, 0x4E8A, 0x8C, 0x1E, 0x2B, 0x6D, 0x90, 0x4A, 0x71, 0x01};
const IID kGaugeInterface{0x3F0A9C42, 0x5D2B, 0x4E8A, 0x8C, 0x1E, 0x2B, 0x6D, 0x90, 0x4A, 0x71, 0x01};

constexpr std::string_view kTypeLib = R"({
  "name": "AutomationTestServerLib", "helpString": "Automation test server", "version": "1.0", "lcid": 0,
  "libid": "{3F0A9C40-5D2B-4E8A-8C1E-2B6D904A7101}",
  "types": [
    {"kind": "dual", "name": "IGauge", "guid": "{3F0A9C42-5D2B-4E8A-8C1E-2B6D904A7101}", "members": [
      {"dispid": 1, "name": "Level", "invoke": "propget", "params": [{"name": "value", "type": "long", "retval": true}]},
      {"dispid": 1, "name": "Level", "invoke": "propput", "params": [{"name": "", "type": "long"}]},
      {"dispid": 2, "name": "Scale", "invoke": "method",
       "params": [{"name": "value", "type": "long"}, {"name": "factor", "type": "long", "default": 1},
                  {"name": "offset", "type": "long", "default": 0}, {"name": "result", "type": "long", "retval": true}]},
      {"dispid": 3, "name": "Fail", "invoke": "method", "params": [{"name": "hr", "type": "long"}]}]},
    {"kind": "dispinterface", "name": "_DGaugeEvents", "guid": "{3F0A9C43-5D2B-4E8A-8C1E-2B6D904A7101}",
     "members": [{"dispid": 1, "name": "onchange", "invoke": "method", "params": []}]},
    {"kind": "coclass", "name": "Gauge", "guid": "{3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101}",
     "implements": [{"name": "IGauge", "default": true}, {"name": "_DGaugeEvents", "default": true, "source": true}]}
  ]
})";

constexpr std::string_view kRegistrarScript = R"(HKCR
{
    TavreloTests.Gauge.1 = s 'Gauge Class'
    {
        CLSID = s '{3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101}'
    }
    TavreloTests.Gauge = s 'Gauge Class'
    {
        CurVer = s 'TavreloTests.Gauge.1'
    }
    NoRemove CLSID
    {
        ForceRemove {3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101} = s 'Gauge Class'
        {
            ProgID = s 'TavreloTests.Gauge.1'
            VersionIndependentProgID = s 'TavreloTests.Gauge'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            TypeLib = s '{3F0A9C40-5D2B-4E8A-8C1E-2B6D904A7101}'
            val AppFolder = s '%APPPATH%'
        }
    }
}
)";

std::atomic<int> g_objects{0};

using tavrelo::automation::TypeInfo;
using tavrelo::automation::TypeLib;

// The library is read from the module's own bytes, which keeps the module free to unload.
std::shared_ptr<const TypeLib> library()
{
    static const std::shared_ptr<const TypeLib> lib = [] {
        std::shared_ptr<const TypeLib> parsed;
        TypeLib::fromJson(QByteArray(kTypeLib.data(), qsizetype(kTypeLib.size())), &parsed);
        return parsed;
    }();
    return lib;
}

class Gauge final : public ComObject<ComInterface<IDispatch, IID_IDispatch, kGaugeInterface>> {
public:
    Gauge() { ++g_objects; }
    ~Gauge() { --g_objects; }

    HRESULT GetTypeInfoCount(std::uint32_t *count) override
    {
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const TypeInfo> *info) override
    {
        *info = m_info;
        return S_OK;
    }
    HRESULT GetIDsOfNames(const IID &, const QStringList &names, LCID, DISPID *ids) override
    {
        return m_info->GetIDsOfNames(names, ids);
    }
    HRESULT Invoke(DISPID member, const IID &, LCID, std::uint16_t flags, DispParams &params, Variant *result,
                   ExcepInfo *exception, std::uint32_t *argErr) override;

    // IGauge, in the order of its entries.
    HRESULT get_Level(std::int32_t *value)
    {
        *value = m_level;
        return S_OK;
    }
    HRESULT put_Level(std::int32_t value)
    {
        m_level = value;
        return S_OK;
    }
    HRESULT Scale(std::int32_t value, std::int32_t factor, std::int32_t offset, std::int32_t *result)
    {
        *result = value * factor + offset;
        return S_OK;
    }
    HRESULT Fail(std::int32_t hr) { return HRESULT(hr); }

private:
    std::shared_ptr<const TypeLib> m_library = library();
    std::shared_ptr<const TypeInfo> m_info = m_library->typeInfoOfGuid(kGaugeInterface);
    std::int32_t m_level = 0;
};

constexpr auto kGaugeEntries =
    tavrelo::automation::memberTable<&Gauge::get_Level, &Gauge::put_Level, &Gauge::Scale, &Gauge::Fail>();

HRESULT Gauge::Invoke(DISPID member, const IID &, LCID, std::uint16_t flags, DispParams &params, Variant *result,
                      ExcepInfo *exception, std::uint32_t *argErr)
{
    return m_info->Invoke(this, kGaugeEntries.entries, member, flags, params, result, exception, argErr);
}

// Lives as long as the module.
class GaugeFactory final : public StaticComObject<ComInterface<IClassFactory, IID_IClassFactory>> {
public:
    HRESULT CreateInstance(IUnknown *outer, const IID &iid, void **object) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return makeComObject<Gauge>()->QueryInterface(iid, object);
    }
    HRESULT LockServer(bool) override { return S_OK; }
};

}

EXPORTED HRESULT DllGetClassObject(const CLSID &clsid, const IID &iid, void **object)
{
    static GaugeFactory factory;
    if (clsid != kGaugeClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

EXPORTED HRESULT DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

EXPORTED HRESULT DllRegisterServer()
{
    return tavrelo::automation::registerServerModule(tavrelo::automation::modulePathOf(&g_objects),
                                                     tavrelo::automation::RegistrarMode::Register);
}

EXPORTED HRESULT DllUnregisterServer()
{
    return tavrelo::automation::registerServerModule(tavrelo::automation::modulePathOf(&g_objects),
                                                     tavrelo::automation::RegistrarMode::Unregister);
}

EXPORTED int TavreloFindResource(const char *type, const char *name, const unsigned char **data, std::size_t *size)
{
    const auto found = [&](std::string_view bytes) {
        *data = reinterpret_cast<const unsigned char *>(bytes.data());
        *size = bytes.size();
        return 1;
    };
#ifndef TESTSERVER_WITHOUT_TYPELIB // the bare server's type library is a file beside it, if any
    if (std::strcmp(type, "TYPELIB") == 0 && std::strcmp(name, "1") == 0)
        return found(kTypeLib);
#endif
    if (std::strcmp(type, "REGISTRY") == 0 && std::strcmp(name, "101") == 0)
        return found(kRegistrarScript);
    return 0;
}
