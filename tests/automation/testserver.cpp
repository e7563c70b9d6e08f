// An in-process server for the tests of class creation and registration: one class, Gauge,
// whose members go through the type library it carries, and the resources a registered module
// has (TYPELIB 1, REGISTRY 101).

#include "automation/classes.h"
#include "automation/module.h"
#include "automation/registrar.h"
#include "automation/typeinfo.h"

#include <array>
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

using tavrelo::automation::MethodThunk;
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

class Gauge final : public IDispatch {
public:
    Gauge() { ++g_objects; }
    ~Gauge() { --g_objects; }

    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != kGaugeInterface)
            return E_NOINTERFACE;
        *object = static_cast<IDispatch *>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

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
                   ExcepInfo *exception, std::uint32_t *argErr) override
    {
        return m_info->Invoke(this, kVtable, member, flags, params, result, exception, argErr);
    }

private:
    static Gauge *self(void *object) { return static_cast<Gauge *>(static_cast<IDispatch *>(object)); }

    static const std::array<MethodThunk, 4> kVtable;

    std::atomic<ULONG> m_references{1};
    std::shared_ptr<const TypeLib> m_library = library();
    std::shared_ptr<const TypeInfo> m_info = m_library->typeInfoOfGuid(kGaugeInterface);
    std::int32_t m_level = 0;
};

const std::array<MethodThunk, 4> Gauge::kVtable = {
    [](void *object, Variant *args) { // Level get
        args[0] = Variant(self(object)->m_level);
        return S_OK;
    },
    [](void *object, Variant *args) { // Level put
        self(object)->m_level = args[0].toInt();
        return S_OK;
    },
    [](void *, Variant *args) { // Scale
        args[3] = Variant(args[0].toInt() * args[1].toInt() + args[2].toInt());
        return S_OK;
    },
    [](void *, Variant *args) { return HRESULT(args[0].toInt()); }, // Fail
};

class GaugeFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory *>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 1; } // lives as long as the module
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown *outer, const IID &iid, void **object) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto *gauge = new Gauge;
        const HRESULT hr = gauge->QueryInterface(iid, object);
        gauge->Release();
        return hr;
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
