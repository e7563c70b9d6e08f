#include "classes.h"

#include "module.h"
#include "moduletable.h"
#include "registry/regkey.h"

#include <QFileInfo>

using namespace tavrelo::automation;
using namespace tavrelo::registry;

HRESULT CLSIDFromProgID(const QString &progId, CLSID *clsid)
{
    if (!clsid)
        return E_POINTER;
    // A version-independent ProgID names its current version; a few steps guard against loops.
    QString name = progId;
    for (int step = 0; step < 8 && !name.isEmpty() && !name.contains(u'\\'); ++step) {
        RegKey key;
        if (RegKey::open(HKEY_CLASSES_ROOT, name, KEY_READ, &key) != ERROR_SUCCESS)
            break;
        RegKey classKey;
        if (RegKey::open(key.handle(), QStringLiteral("CLSID"), KEY_READ, &classKey) == ERROR_SUCCESS)
            return guidFromString(classKey.string().value_or(QString()), clsid) ? S_OK : CO_E_CLASSSTRING;
        name = readRegString(key.handle(), QStringLiteral("CurVer"));
    }
    return CO_E_CLASSSTRING;
}

HRESULT CoGetClassObject(const CLSID &clsid, const IID &iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    const QString path = registeredServerPath(clsid);
    if (path.isEmpty())
        return REGDB_E_CLASSNOTREG;
    ModuleTable &modules = ModuleTable::instance();
    const std::scoped_lock lock(modules.mutex());
    void *module = modules.load(path, false, nullptr);
    if (!module)
        return CO_E_DLLNOTFOUND;
    const auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(moduleEntry(module, "DllGetClassObject"));
    return getClassObject ? getClassObject(clsid, iid, object) : CO_E_ERRORINDLL;
}

HRESULT CoCreateInstance(const CLSID &clsid, IUnknown *outer, const IID &iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    ComPtr<IClassFactory> factory;
    const HRESULT hr = CoGetClassObject(clsid, IID_IClassFactory, factory.putVoid());
    return FAILED(hr) ? hr : factory->CreateInstance(outer, iid, object);
}

void CoFreeUnusedLibraries() { ModuleTable::instance().unloadUnused(); }

namespace tavrelo::automation {

QString registeredServerPath(const CLSID &clsid)
{
    return readRegString(HKEY_CLASSES_ROOT, QStringLiteral("CLSID\\") + guidToString(clsid) + QStringLiteral("\\InprocServer32"));
}

bool isRegisteredServer(const QString &libraryPath)
{
    const QString wanted = QFileInfo(libraryPath).canonicalFilePath();
    RegKey classes;
    if (wanted.isEmpty() || RegKey::open(HKEY_CLASSES_ROOT, QStringLiteral("CLSID"), KEY_READ, &classes) != ERROR_SUCCESS)
        return false;
    const QStringList ids = classes.subKeys();
    return std::ranges::any_of(ids, [&](const QString &id) {
        const QString server = readRegString(classes.handle(), id + QStringLiteral("\\InprocServer32"));
        return !server.isEmpty() && QFileInfo(server).canonicalFilePath() == wanted;
    });
}

}
