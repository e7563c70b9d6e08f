// Modules, type libraries in files and in the registry, and classes registered by a real
// in-process server module and created from it.

#include "automation/classes.h"
#include "automation/module.h"
#include "automation/registrar.h"
#include "automation/typeinfo.h"
#include "support/registryprobe.h"
#include "support/scratchregistry.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <vector>

using namespace registryprobe;
using namespace tavrelo::automation;

namespace {

QString str(const char *text) { return QString::fromUtf8(text); }

const QString kServer = QFileInfo(QStringLiteral(TEST_SERVER)).canonicalFilePath();
const CLSID kGaugeClass = QUuid::fromString(QLatin1StringView("{3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101}"));
const GUID kServerLib = QUuid::fromString(QLatin1StringView("{3F0A9C40-5D2B-4E8A-8C1E-2B6D904A7101}"));
const IID kGaugeInterface = QUuid::fromString(QLatin1StringView("{3F0A9C42-5D2B-4E8A-8C1E-2B6D904A7101}"));
const QString kGaugeKey = QStringLiteral("CLSID\\{3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101}");

// A library that is a file of its own.
const char kFileLib[] = R"({"name": "FileLib", "helpString": "A library in a file",
    "libid": "{6A1F0E20-3C4D-4B5A-9E8F-10A0B0C0D0E1}", "version": "10.11", "lcid": 1033,
    "types": [{"kind": "dual", "name": "IFiled", "guid": "{6A1F0E21-3C4D-4B5A-9E8F-10A0B0C0D0E1}", "members": []},
              {"kind": "dispinterface", "name": "_DFiledEvents", "guid": "{6A1F0E22-3C4D-4B5A-9E8F-10A0B0C0D0E1}",
               "members": []}]})";
const GUID kFileLibId = QUuid::fromString(QLatin1StringView("{6A1F0E20-3C4D-4B5A-9E8F-10A0B0C0D0E1}"));
const QString kFileLibKey = QStringLiteral("TypeLib\\{6A1F0E20-3C4D-4B5A-9E8F-10A0B0C0D0E1}");

// A place for files of one test.
class Files final {
public:
    QString write(const QString &name, const QByteArray &bytes) const
    {
        const QString path = m_dir.filePath(name);
        ScratchRegistry::writeFile(path, bytes);
        return path;
    }
    // A copy of the server module, as a module of its own, in a new folder.
    QString copyOfServer(const QString &folder) const
    {
        QDir(m_dir.path()).mkpath(folder);
        const QString path = m_dir.filePath(folder + str("/libcopied.so"));
        EXPECT_TRUE(QFile::copy(kServer, path));
        return path;
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

bool isLoaded(const QString &path)
{
    void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

// A late-bound call by name, as script makes it.
HRESULT callByName(IDispatch *object, const char *name, std::uint16_t flags, std::vector<Variant> args,
                   Variant *result = nullptr)
{
    DISPID id = DISPID_UNKNOWN;
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, {str(name)}, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DispParams params{std::move(args)};
    ExcepInfo exception;
    std::uint32_t argErr = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &exception, &argErr);
}

constexpr std::uint16_t kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

}

TEST(Modules, resourcesAndEntries)
{
    QByteArray typeLib;
    ASSERT_EQ(loadModuleResource(kServer, str("TYPELIB"), str("1"), &typeLib), S_OK);
    EXPECT_TRUE(typeLib.contains("AutomationTestServerLib"));
    QByteArray script;
    ASSERT_EQ(loadModuleResource(kServer, str("REGISTRY"), str("101"), &script), S_OK);
    EXPECT_TRUE(script.startsWith("HKCR"));
    EXPECT_EQ(loadModuleResource(kServer, str("REGISTRY"), str("1"), &script), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(loadModuleResource(kServer, str("HTML"), str("101"), &script), TYPE_E_ELEMENTNOTFOUND);

    // Qt has no resource entry; a missing file is no module.
    const QString qtCore = modulePathOf(reinterpret_cast<const void *>(&qVersion));
    EXPECT_TRUE(QFileInfo(qtCore).isAbsolute());
    EXPECT_TRUE(qtCore.contains(str("Qt6Core"))) << qtCore.toStdString();
    EXPECT_EQ(loadModuleResource(qtCore, str("TYPELIB"), str("1"), &script), TYPE_E_CANTLOADLIBRARY);
    QString error;
    EXPECT_EQ(loadModule(str("/nonexistent/libnothing.so"), &error), nullptr);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(loadModuleResource(str("/nonexistent/libnothing.so"), str("TYPELIB"), str("1"), &script),
              TYPE_E_CANTLOADLIBRARY);

    // Loaded once, by whichever path names it.
    void *module = loadModule(kServer);
    ASSERT_TRUE(module);
    Files files;
    const QString link = files.path() + str("/link.so");
    ASSERT_TRUE(QFile::link(kServer, link));
    EXPECT_EQ(loadModule(link), module);
    void *entry = moduleEntry(module, "DllGetClassObject");
    ASSERT_TRUE(entry);
    EXPECT_EQ(modulePathOf(entry), kServer);
    EXPECT_FALSE(moduleEntry(module, "NoSuchEntry"));
}

TEST(TypeLibFiles, loadFromModulesAndJsonFiles)
{
    std::shared_ptr<const TypeLib> lib;
    ASSERT_EQ(LoadTypeLib(kServer, &lib), S_OK);
    EXPECT_EQ(lib->libid(), kServerLib);
    std::shared_ptr<const TypeLib> again;
    ASSERT_EQ(LoadTypeLib(kServer, &again), S_OK);
    EXPECT_EQ(again, lib) << "a module's library is read once";

    Files files;
    const QString path = files.write(str("filed.json"), kFileLib);
    ASSERT_EQ(LoadTypeLib(path, &lib), S_OK);
    EXPECT_EQ(lib->name(), str("FileLib"));
    // A file of its own is read afresh.
    files.write(str("filed.json"), QByteArray(kFileLib).replace("FileLib", "ChangedLib"));
    ASSERT_EQ(LoadTypeLib(path, &lib), S_OK);
    EXPECT_EQ(lib->name(), str("ChangedLib"));

    EXPECT_EQ(LoadTypeLib(files.write(str("broken.json"), "{\"name\": 1}"), &lib), TYPE_E_INVDATAREAD);
    EXPECT_EQ(LoadTypeLib(files.path() + str("/missing.json"), &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(modulePathOf(reinterpret_cast<const void *>(&qVersion)), &lib), TYPE_E_CANTLOADLIBRARY);
}

TEST(TypeLibRegistration, registeredLibrariesAreFoundByIdentity)
{
    ScratchRegistry registry;
    Files files;
    const QString path = files.write(str("filed.json"), kFileLib);
    std::shared_ptr<const TypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(kFileLibId, 10, 11, 1033, &lib), TYPE_E_LIBNOTREGISTERED);

    ASSERT_EQ(LoadTypeLib(path, &lib), S_OK);
    ASSERT_EQ(RegisterTypeLib(*lib, path, files.path()), S_OK);
    // Versions and locales in hex, as the registry has always spelt them.
    const QString version = kFileLibKey + str("\\a.b");
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, version), str("A library in a file"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, version + str("\\FLAGS")), str("0"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, version + str("\\HELPDIR")), files.path());
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, version + str("\\409\\linux64")), path);
    const QString dual = str("Interface\\{6A1F0E21-3C4D-4B5A-9E8F-10A0B0C0D0E1}");
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, dual), str("IFiled"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, dual + str("\\TypeLib")), str("{6A1F0E20-3C4D-4B5A-9E8F-10A0B0C0D0E1}"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, dual + str("\\TypeLib"), str("Version")), str("a.b"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("Interface\\{6A1F0E22-3C4D-4B5A-9E8F-10A0B0C0D0E1}")))
        << "only dual interfaces";

    std::shared_ptr<const TypeLib> registered;
    ASSERT_EQ(LoadRegTypeLib(kFileLibId, 10, 11, 1033, &registered), S_OK);
    EXPECT_EQ(registered->name(), str("FileLib"));
    EXPECT_EQ(LoadRegTypeLib(kFileLibId, 10, 12, 1033, &registered), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(kFileLibId, 10, 11, 7, &registered), TYPE_E_LIBNOTREGISTERED)
        << "another locale, and no neutral one";

    // A language-neutral registration serves every locale.
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, version + str("\\0\\linux64"), QString(), path));
    EXPECT_EQ(LoadRegTypeLib(kFileLibId, 10, 11, 7, &registered), S_OK);

    QFile::remove(path);
    EXPECT_EQ(LoadRegTypeLib(kFileLibId, 10, 11, 1033, &registered), TYPE_E_CANTLOADLIBRARY);
}

TEST(TypeLibRegistration, unregisteringLeavesNothingOfTheLibraryBehind)
{
    ScratchRegistry registry;
    Files files;
    std::shared_ptr<const TypeLib> older;
    std::shared_ptr<const TypeLib> newer;
    ASSERT_EQ(LoadTypeLib(files.write(str("old.json"), kFileLib), &older), S_OK);
    ASSERT_EQ(LoadTypeLib(files.write(str("new.json"), QByteArray(kFileLib).replace("10.11", "11.0")), &newer), S_OK);
    // The interface belongs to the version registered last.
    ASSERT_EQ(RegisterTypeLib(*newer, files.path() + str("/new.json"), files.path()), S_OK);
    ASSERT_EQ(RegisterTypeLib(*older, files.path() + str("/old.json"), files.path()), S_OK);

    EXPECT_EQ(UnRegisterTypeLib(kFileLibId, 11, 0, 1033, SYS_LINUX64), S_OK);
    EXPECT_EQ(subKeys(HKEY_CLASSES_ROOT, kFileLibKey), QStringList{str("a.b")}) << "the other version stays";
    std::shared_ptr<const TypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(kFileLibId, 10, 11, 1033, &lib), S_OK);

    // A version keeps its interfaces while another locale of it is registered.
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, kFileLibKey + str("\\a.b\\0\\linux64"), QString(), str("/elsewhere")));
    EXPECT_EQ(UnRegisterTypeLib(kFileLibId, 10, 11, 1033, SYS_LINUX64), S_OK);
    EXPECT_EQ(subKeys(HKEY_CLASSES_ROOT, kFileLibKey + str("\\a.b")), (QStringList{str("0"), str("FLAGS"), str("HELPDIR")}));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, str("Interface\\{6A1F0E21-3C4D-4B5A-9E8F-10A0B0C0D0E1}")));

    EXPECT_EQ(UnRegisterTypeLib(kFileLibId, 10, 11, 0, SYS_LINUX64), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kFileLibKey));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("Interface\\{6A1F0E21-3C4D-4B5A-9E8F-10A0B0C0D0E1}")));
    EXPECT_EQ(UnRegisterTypeLib(kFileLibId, 10, 11, 0, SYS_LINUX64), S_OK) << "nothing left to remove";
    EXPECT_EQ(UnRegisterTypeLib(kFileLibId, 10, 11, 0, SYSKIND(7)), E_INVALIDARG);
}

TEST(ServerRegistration, classesAreCreatedWhileRegistered)
{
    ScratchRegistry registry;
    ComPtr<IDispatch> gauge;
    EXPECT_EQ(CoCreateInstance(kGaugeClass, nullptr, IID_IDispatch, gauge.putVoid()), REGDB_E_CLASSNOTREG);

    ASSERT_EQ(registerServerModule(kServer, RegistrarMode::Register), S_OK);
    EXPECT_EQ(registeredServerPath(kGaugeClass), kServer);
    EXPECT_TRUE(isRegisteredServer(kServer));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, kGaugeKey, str("AppFolder")), QFileInfo(kServer).absolutePath());
    std::shared_ptr<const TypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(kServerLib, 1, 0, LOCALE_USER_DEFAULT, &lib), S_OK);
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str("Interface\\{3F0A9C42-5D2B-4E8A-8C1E-2B6D904A7101}")), str("IGauge"));

    ASSERT_EQ(CoCreateInstance(kGaugeClass, nullptr, IID_IDispatch, gauge.putVoid()), S_OK);
    Variant result;
    ASSERT_EQ(callByName(gauge.get(), "scale", kCall, {Variant(std::int32_t(3))}, &result), S_OK);
    EXPECT_EQ(result, Variant(std::int32_t(3))) << "3 * 1 + 0";
    ASSERT_EQ(callByName(gauge.get(), "Scale", kCall, {Variant(str("3")), Variant(4.0), Variant(std::int32_t(5))}, &result),
              S_OK);
    EXPECT_EQ(result, Variant(std::int32_t(17)));
    ASSERT_EQ(callByName(gauge.get(), "Level", DISPATCH_PROPERTYPUT, {Variant(std::int32_t(8))}), S_OK);
    ASSERT_EQ(callByName(gauge.get(), "LEVEL", kCall, {}, &result), S_OK);
    EXPECT_EQ(result, Variant(std::int32_t(8)));
    EXPECT_EQ(callByName(gauge.get(), "Fail", kCall, {Variant(E_ACCESSDENIED)}), E_ACCESSDENIED);
    ComPtr<IUnknown> typed;
    EXPECT_EQ(gauge.as(kGaugeInterface, &typed), S_OK);

    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(CoCreateInstance(kGaugeClass, gauge.get(), IID_IUnknown, aggregated.putVoid()), CLASS_E_NOAGGREGATION);
    const CLSID otherClass = QUuid::fromString(QLatin1StringView("{3F0A9C4F-5D2B-4E8A-8C1E-2B6D904A7101}"));
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, str("CLSID\\") + guidToString(otherClass) + str("\\InprocServer32"),
                          QString(), kServer));
    EXPECT_EQ(CoCreateInstance(otherClass, nullptr, IID_IUnknown, aggregated.putVoid()), CLASS_E_CLASSNOTAVAILABLE)
        << "the module answers for its own classes only";
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, (str("CLSID\\") + guidToString(otherClass)).toUtf8().constData()),
              ERROR_SUCCESS);

    ASSERT_EQ(registerServerModule(kServer, RegistrarMode::Unregister), S_OK);
    EXPECT_EQ(CoCreateInstance(kGaugeClass, nullptr, IID_IDispatch, gauge.putVoid()), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(isRegisteredServer(kServer));
    EXPECT_EQ(LoadRegTypeLib(kServerLib, 1, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("TypeLib\\{3F0A9C40-5D2B-4E8A-8C1E-2B6D904A7101}")));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("Interface\\{3F0A9C42-5D2B-4E8A-8C1E-2B6D904A7101}")));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("TavreloTests.Gauge")));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("TavreloTests.Gauge.1")));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, str("CLSID"))) << "NoRemove";
    EXPECT_EQ(subKeys(HKEY_CLASSES_ROOT, str("CLSID")), QStringList());
}

TEST(ServerRegistration, theModulesOwnEntriesRegisterIt)
{
    ScratchRegistry registry;
    void *module = loadModule(kServer);
    const auto registerServer = reinterpret_cast<DllRegisterServerFunction>(moduleEntry(module, "DllRegisterServer"));
    const auto unregisterServer =
        reinterpret_cast<DllUnregisterServerFunction>(moduleEntry(module, "DllUnregisterServer"));
    ASSERT_TRUE(registerServer && unregisterServer);
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(registeredServerPath(kGaugeClass), kServer);
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(registeredServerPath(kGaugeClass), QString());
}

// The type library comes from the module, else from the ".tlb" file beside it; a module with
// neither fails instead of registering nothing. The help folder ends in its separator.
TEST(ServerRegistration, theTypeLibraryComesFromTheModuleElseFromTheFileBesideIt)
{
    ScratchRegistry registry;
    Files files;
    QByteArray typeLib;
    ASSERT_EQ(loadModuleResource(kServer, str("TYPELIB"), str("1"), &typeLib), S_OK);
    const auto bareCopy = [&](const char *folder) {
        QDir(files.path()).mkpath(str(folder));
        const QString path = files.path() + u'/' + str(folder) + str("/libbare.so");
        EXPECT_TRUE(QFile::copy(str(BARE_TEST_SERVER), path));
        return path;
    };
    const QString beside = bareCopy("beside"), alone = bareCopy("alone");
    files.write(str("beside/libbare.tlb"), typeLib);
    const QString version = str("TypeLib\\{3F0A9C40-5D2B-4E8A-8C1E-2B6D904A7101}\\1.0");
    const struct {
        QString module;
        HRESULT result;
        QString loadedFrom;
    } cases[] = {
        {kServer, S_OK, kServer},
        {beside, S_OK, files.path() + str("/beside/libbare.tlb")},
        {alone, TYPE_E_CANTLOADLIBRARY, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.module.toStdString());
        EXPECT_EQ(registerServerModule(c.module, RegistrarMode::Register), c.result);
        EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, version + str("\\0\\linux64")).value_or(QString()), c.loadedFrom);
        EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, version + str("\\HELPDIR")).value_or(QString()),
                  c.loadedFrom.isEmpty() ? QString() : QFileInfo(c.loadedFrom).absolutePath() + u'/');
        std::shared_ptr<const TypeLib> lib;
        EXPECT_EQ(LoadRegTypeLib(kServerLib, 1, 0, 0, &lib), c.loadedFrom.isEmpty() ? TYPE_E_LIBNOTREGISTERED : S_OK);
        EXPECT_EQ(registerServerModule(c.module, RegistrarMode::Unregister), c.result);
        EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("TypeLib\\{3F0A9C40-5D2B-4E8A-8C1E-2B6D904A7101}")));
        EXPECT_EQ(registeredServerPath(kGaugeClass), QString());
    }
}

TEST(ServerRegistration, registeringTwiceLeavesOneCopyWithoutStaleValues)
{
    ScratchRegistry registry;
    ASSERT_EQ(registerServerModule(kServer, RegistrarMode::Register), S_OK);
    const QStringList values = valueNames(HKEY_CLASSES_ROOT, kGaugeKey);
    const QStringList keys = subKeys(HKEY_CLASSES_ROOT, kGaugeKey);
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, kGaugeKey, str("Stale"), str("from an older version")));
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, kGaugeKey + str("\\Obsolete"), QString(), str("old")));

    ASSERT_EQ(registerServerModule(kServer, RegistrarMode::Register), S_OK);
    EXPECT_EQ(valueNames(HKEY_CLASSES_ROOT, kGaugeKey), values);
    EXPECT_EQ(subKeys(HKEY_CLASSES_ROOT, kGaugeKey), keys);
    EXPECT_EQ(subKeys(HKEY_CLASSES_ROOT, str("CLSID")), QStringList{str("{3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101}")});
    EXPECT_EQ(valueNames(HKEY_CLASSES_ROOT, kGaugeKey + str("\\InprocServer32")),
              (QStringList{QString(), str("ThreadingModel")}));
}

TEST(ServerRegistration, aPathWithAQuoteRegistersAsItIs)
{
    ScratchRegistry registry;
    Files files;
    const QString copy = files.copyOfServer(str("it's here"));
    ASSERT_EQ(registerServerModule(copy, RegistrarMode::Register), S_OK);
    EXPECT_EQ(registeredServerPath(kGaugeClass), copy);
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, kGaugeKey, str("AppFolder")), files.path() + str("/it's here"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str("TypeLib\\{3F0A9C40-5D2B-4E8A-8C1E-2B6D904A7101}\\1.0\\0\\linux64")),
              copy);
    EXPECT_TRUE(isRegisteredServer(copy));
    EXPECT_FALSE(isRegisteredServer(kServer)) << "the same bytes in another file";

    ComPtr<IDispatch> gauge;
    ASSERT_EQ(CoCreateInstance(kGaugeClass, nullptr, IID_IDispatch, gauge.putVoid()), S_OK);
    EXPECT_TRUE(isLoaded(copy));
}

TEST(Classes, progIdsLeadToClasses)
{
    ScratchRegistry registry;
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(str("TavreloTests.Gauge"), &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(registerServerModule(kServer, RegistrarMode::Register), S_OK);
    ASSERT_EQ(CLSIDFromProgID(str("TavreloTests.Gauge.1"), &clsid), S_OK);
    EXPECT_EQ(clsid, kGaugeClass);
    clsid = CLSID();
    ASSERT_EQ(CLSIDFromProgID(str("tavrelotests.gauge"), &clsid), S_OK) << "through CurVer";
    EXPECT_EQ(clsid, kGaugeClass);

    EXPECT_EQ(CLSIDFromProgID(QString(), &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(str("No.Such.Class"), &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(str("CLSID\\{3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101}"), &clsid), CO_E_CLASSSTRING);
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, str("Bad.Class\\CLSID"), QString(), str("not an identifier")));
    EXPECT_EQ(CLSIDFromProgID(str("Bad.Class"), &clsid), CO_E_CLASSSTRING);
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, str("Loop.A\\CurVer"), QString(), str("Loop.B")));
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, str("Loop.B\\CurVer"), QString(), str("Loop.A")));
    EXPECT_EQ(CLSIDFromProgID(str("Loop.A"), &clsid), CO_E_CLASSSTRING);
}

TEST(Classes, libraryFailuresHaveTheirOwnResults)
{
    ScratchRegistry registry;
    const QString server = kGaugeKey + str("\\InprocServer32");
    ComPtr<IUnknown> object;
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, kGaugeKey, QString(), str("no server")));
    EXPECT_EQ(CoGetClassObject(kGaugeClass, IID_IClassFactory, object.putVoid()), REGDB_E_CLASSNOTREG);
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, server, QString(), str("/nonexistent/libgone.so")));
    EXPECT_EQ(CoGetClassObject(kGaugeClass, IID_IClassFactory, object.putVoid()), CO_E_DLLNOTFOUND);
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, server, QString(), modulePathOf(reinterpret_cast<const void *>(&qVersion))));
    EXPECT_EQ(CoGetClassObject(kGaugeClass, IID_IClassFactory, object.putVoid()), CO_E_ERRORINDLL);
    EXPECT_EQ(CoCreateInstance(kGaugeClass, nullptr, IID_IUnknown, object.putVoid()), CO_E_ERRORINDLL);
    EXPECT_FALSE(object);
}

TEST(Classes, unusedLibrariesAreUnloaded)
{
    ScratchRegistry registry;
    Files files;
    const QString copy = files.copyOfServer(str("unloadable"));
    // Registered by hand: registration reads the module's resources, which keeps it loaded.
    const Replacements replacements{{str("MODULE"), copy}};
    ASSERT_EQ(runRegistrarScript(str("HKCR { CLSID { {3F0A9C41-5D2B-4E8A-8C1E-2B6D904A7101} { InprocServer32 = s '%MODULE%' } } }"),
                                 replacements, RegistrarMode::Register),
              S_OK);

    ComPtr<IDispatch> gauge;
    ASSERT_EQ(CoCreateInstance(kGaugeClass, nullptr, IID_IDispatch, gauge.putVoid()), S_OK);
    ASSERT_TRUE(isLoaded(copy));
    CoFreeUnusedLibraries();
    EXPECT_TRUE(isLoaded(copy)) << "an object of it is alive";
    gauge.reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(isLoaded(copy));

    // It comes back when asked for again.
    ASSERT_EQ(CoCreateInstance(kGaugeClass, nullptr, IID_IDispatch, gauge.putVoid()), S_OK);
    Variant result;
    EXPECT_EQ(callByName(gauge.get(), "Scale", kCall, {Variant(std::int32_t(2)), Variant(std::int32_t(2))}, &result), S_OK);
    EXPECT_EQ(result, Variant(std::int32_t(4)));

    // A module whose resources were read stays.
    gauge.reset();
    QByteArray bytes;
    ASSERT_EQ(loadModuleResource(copy, str("TYPELIB"), str("1"), &bytes), S_OK);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(isLoaded(copy));
}
