#include "registrar.h"

#include "module.h"
#include "registry/regkey.h"
#include "registrarscript.h"
#include "typeinfo.h"

#include <QFileInfo>

namespace tavrelo::automation {

using namespace registry;

namespace {

// Applies one parsed script; the first registry failure stops it, with the key in *failedKey.
class RegistrarRun final {
public:
    explicit RegistrarRun(RegistrarMode mode) : m_mode(mode) {}

    LONG apply(HKEY parent, const RegistrarKey &key, const QString &parentPath)
    {
        const QString path = parentPath + u'\\' + key.name;
        const LONG error = m_mode == RegistrarMode::Register ? add(parent, key, path) : remove(parent, key, path);
        if (error != ERROR_SUCCESS && m_failedKey.isEmpty())
            m_failedKey = path;
        return error;
    }

    const QString &failedKey() const { return m_failedKey; }

private:
    static LONG deleteTree(HKEY parent, const QString &name)
    {
        const LONG error = RegDeleteTree(parent, name.toUtf8().constData());
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }

    LONG add(HKEY parent, const RegistrarKey &key, const QString &path)
    {
        if (key.flag == RegistrarKey::Flag::Delete || key.flag == RegistrarKey::Flag::ForceRemove) {
            if (const LONG error = deleteTree(parent, key.name); error != ERROR_SUCCESS)
                return error;
            if (key.flag == RegistrarKey::Flag::Delete)
                return ERROR_SUCCESS;
        }
        RegKey opened;
        LONG error = RegKey::create(parent, key.name, &opened);
        for (auto value = key.values.cbegin(); error == ERROR_SUCCESS && value != key.values.cend(); ++value)
            error = opened.setValue(value->name, value->type, value->data);
        for (auto sub = key.subKeys.cbegin(); error == ERROR_SUCCESS && sub != key.subKeys.cend(); ++sub)
            error = apply(opened.handle(), *sub, path);
        return error;
    }

    LONG remove(HKEY parent, const RegistrarKey &key, const QString &path)
    {
        if (key.flag == RegistrarKey::Flag::Delete)
            return ERROR_SUCCESS; // went when registering
        if (key.flag == RegistrarKey::Flag::ForceRemove)
            return deleteTree(parent, key.name);
        RegKey opened;
        LONG error = RegKey::open(parent, key.name, KEY_ALL_ACCESS, &opened);
        if (error == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        for (auto sub = key.subKeys.cbegin(); error == ERROR_SUCCESS && sub != key.subKeys.cend(); ++sub)
            error = apply(opened.handle(), *sub, path);
        if (error != ERROR_SUCCESS || key.flag == RegistrarKey::Flag::NoRemove)
            return error;
        for (const RegistrarValue &value : key.values) {
            const LONG valueError = opened.deleteValue(value.name);
            if (valueError != ERROR_SUCCESS && valueError != ERROR_FILE_NOT_FOUND)
                return valueError;
        }
        opened = RegKey();
        deleteKeyIfEmpty(parent, key.name);
        return ERROR_SUCCESS;
    }

    RegistrarMode m_mode;
    QString m_failedKey;
};

// The module's type library: its TYPELIB resource, else the ".tlb" file beside it (the module's
// path with its last extension replaced). *loadedFrom is the file it was loaded from.
HRESULT loadModuleTypeLib(const QString &path, std::shared_ptr<const TypeLib> *lib, QString *loadedFrom)
{
    if (SUCCEEDED(LoadTypeLib(path, lib))) {
        *loadedFrom = path;
        return S_OK;
    }
    const QFileInfo module(path);
    const QString name = module.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    *loadedFrom = module.absolutePath() + u'/' + (dot > 0 ? name.left(dot) : name) + QStringLiteral(".tlb");
    return LoadTypeLib(*loadedFrom, lib);
}

// Registers or unregisters the module's type library; a module without one fails, since script
// could not call its objects. The help folder is the library file's folder with its closing
// separator.
HRESULT registerModuleTypeLib(const QString &path, RegistrarMode mode)
{
    std::shared_ptr<const TypeLib> lib;
    QString loadedFrom;
    const HRESULT hr = loadModuleTypeLib(path, &lib, &loadedFrom);
    if (FAILED(hr))
        return hr;
    if (mode == RegistrarMode::Register)
        return RegisterTypeLib(*lib, loadedFrom, QFileInfo(loadedFrom).absolutePath() + u'/');
    return UnRegisterTypeLib(lib->libid(), lib->majorVersion(), lib->minorVersion(), lib->lcid(), SYS_LINUX64);
}

}

HRESULT runRegistrarScript(const QString &script, const Replacements &replacements, RegistrarMode mode, QString *error,
                           RegistrarScope scope)
{
    QList<RegistrarRoot> roots;
    if (!parseRegistrarScript(script, replacements, &roots, error))
        return E_INVALIDARG;
    RegistrarRun run(mode);
    for (const RegistrarRoot &root : roots) {
        HKEY parent = root.root;
        QString parentPath = root.name;
        RegKey machineClasses;
        if (scope == RegistrarScope::Machine && root.root == HKEY_CURRENT_USER) {
            parent = HKEY_LOCAL_MACHINE;
            parentPath = QStringLiteral("HKLM");
        } else if (scope == RegistrarScope::Machine && root.root == HKEY_CLASSES_ROOT) {
            const QString classes = QStringLiteral("Software\\Classes");
            const LONG opened = mode == RegistrarMode::Register
                                    ? RegKey::create(HKEY_LOCAL_MACHINE, classes, &machineClasses)
                                    : RegKey::open(HKEY_LOCAL_MACHINE, classes, KEY_ALL_ACCESS, &machineClasses);
            if (opened == ERROR_FILE_NOT_FOUND)
                continue; // nothing registered there to remove
            if (opened != ERROR_SUCCESS) {
                if (error)
                    *error = QStringLiteral("HKLM\\") + classes + QStringLiteral(": ") + QString::fromUtf8(describeError(opened));
                return HRESULT_FROM_WIN32(opened);
            }
            parent = machineClasses.handle();
            parentPath = QStringLiteral("HKLM\\") + classes;
        }
        for (const RegistrarKey &key : root.keys) {
            if (const LONG failure = run.apply(parent, key, parentPath); failure != ERROR_SUCCESS) {
                if (error)
                    *error = run.failedKey() + QStringLiteral(": ") + QString::fromUtf8(describeError(failure));
                return HRESULT_FROM_WIN32(failure);
            }
        }
    }
    return S_OK;
}

HRESULT registerServerModule(const QString &modulePath, RegistrarMode mode, const Replacements &more,
                             RegistrarScope scope)
{
    const QFileInfo file(modulePath);
    const QString path = file.absoluteFilePath();
    // The script quotes what it is given, so quotes inside the path are doubled.
    const auto quoted = [](QString text) { return text.replace(u'\'', QStringLiteral("''")); };
    QByteArray script;
    HRESULT hr = loadModuleResource(path, QStringLiteral("REGISTRY"), QStringLiteral("101"), &script);
    if (SUCCEEDED(hr)) {
        Replacements replacements{{QStringLiteral("MODULE"), quoted(path)},
                                  {QStringLiteral("APPPATH"), quoted(file.absolutePath())}};
        for (const auto &[name, value] : more)
            replacements.append({name, quoted(value)});
        hr = runRegistrarScript(QString::fromUtf8(script), replacements, mode, nullptr, scope);
    }
    const HRESULT typeLibResult = registerModuleTypeLib(path, mode);
    return FAILED(hr) ? hr : typeLibResult;
}

}
