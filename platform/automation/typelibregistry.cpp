// Loading type libraries from files and modules, and their registration under HKCR\TypeLib.

#include "typeinfo.h"

#include "module.h"
#include "registry/regkey.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>

#include <mutex>

using namespace tavrelo::automation;
using namespace tavrelo::registry;

Q_LOGGING_CATEGORY(lcTypeLib, "tavrelo.automation.typelib")

namespace {

// Modules do not change while they are loaded, and they stay loaded: their libraries are read once.
struct ModuleLibraries {
    std::mutex mutex;
    QHash<QString, std::shared_ptr<const TypeLib>> byPath; // canonical path
};

ModuleLibraries &moduleLibraries()
{
    static ModuleLibraries libraries;
    return libraries;
}

bool isModuleFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(4) == QByteArrayLiteral("\x7F" "ELF");
}

HRESULT parse(const QByteArray &json, const QString &path, std::shared_ptr<const TypeLib> *lib)
{
    QString reason;
    const HRESULT hr = TypeLib::fromJson(json, lib, &reason);
    if (FAILED(hr))
        qCWarning(lcTypeLib).noquote() << "The type library of" << path << "is damaged:" << reason;
    return hr;
}

HRESULT loadFromModule(const QString &canonicalPath, std::shared_ptr<const TypeLib> *lib)
{
    ModuleLibraries &libraries = moduleLibraries();
    const std::scoped_lock lock(libraries.mutex);
    if (const auto cached = libraries.byPath.constFind(canonicalPath); cached != libraries.byPath.cend()) {
        *lib = *cached;
        return S_OK;
    }
    QByteArray json;
    HRESULT hr = loadModuleResource(canonicalPath, QStringLiteral("TYPELIB"), QStringLiteral("1"), &json);
    if (FAILED(hr))
        return TYPE_E_CANTLOADLIBRARY;
    hr = parse(json, canonicalPath, lib);
    if (SUCCEEDED(hr))
        libraries.byPath.insert(canonicalPath, *lib);
    return hr;
}

// Key names of the registration: versions and locales in hex without leading zeros.
QString hex(std::uint32_t number) { return QString::number(number, 16); }

QString libraryKey(const GUID &libid) { return QStringLiteral("TypeLib\\") + guidToString(libid); }

QString versionName(std::uint16_t major, std::uint16_t minor) { return hex(major) + u'.' + hex(minor); }

const char *platformName(SYSKIND syskind)
{
    switch (syskind) {
    case SYS_WIN32: return "win32";
    case SYS_LINUX64: return "linux64";
    }
    return nullptr;
}

LONG setDefault(HKEY parent, const QString &path, const QString &text)
{
    RegKey key;
    LONG error = RegKey::create(parent, path, &key);
    return error == ERROR_SUCCESS ? key.setString(QString(), text) : error;
}

LONG registerInterface(const TypeInfo &info, const TypeLib &lib)
{
    const QString path = QStringLiteral("Interface\\") + guidToString(info.guid());
    LONG error = setDefault(HKEY_CLASSES_ROOT, path, info.name());
    RegKey typeLibKey;
    if (error == ERROR_SUCCESS)
        error = RegKey::create(HKEY_CLASSES_ROOT, path + QStringLiteral("\\TypeLib"), &typeLibKey);
    if (error == ERROR_SUCCESS)
        error = typeLibKey.setString(QString(), guidToString(lib.libid()));
    if (error == ERROR_SUCCESS)
        error = typeLibKey.setString(QStringLiteral("Version"), versionName(lib.majorVersion(), lib.minorVersion()));
    return error;
}

// The interfaces registered for a library version go with its last locale.
LONG unregisterInterfaces(const GUID &libid, const QString &version)
{
    RegKey interfaces;
    if (RegKey::open(HKEY_CLASSES_ROOT, QStringLiteral("Interface"), KEY_READ, &interfaces) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    const QStringList ids = interfaces.subKeys();
    for (const QString &id : ids) {
        const QString typeLibPath = QStringLiteral("Interface\\") + id + QStringLiteral("\\TypeLib");
        GUID registered;
        if (!guidFromString(readRegString(HKEY_CLASSES_ROOT, typeLibPath), &registered) || registered != libid ||
            readRegString(HKEY_CLASSES_ROOT, typeLibPath, QStringLiteral("Version")) != version)
            continue;
        const LONG error = RegDeleteTree(HKEY_CLASSES_ROOT, (QStringLiteral("Interface\\") + id).toUtf8().constData());
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
            return error;
    }
    deleteKeyIfEmpty(HKEY_CLASSES_ROOT, QStringLiteral("Interface"));
    return ERROR_SUCCESS;
}

}

HRESULT LoadTypeLib(const QString &path, std::shared_ptr<const TypeLib> *lib)
{
    if (!lib)
        return E_POINTER;
    const QString canonicalPath = QFileInfo(path).canonicalFilePath();
    if (canonicalPath.isEmpty())
        return TYPE_E_CANTLOADLIBRARY;
    if (isModuleFile(canonicalPath))
        return loadFromModule(canonicalPath, lib);
    QFile file(canonicalPath);
    if (!file.open(QIODevice::ReadOnly))
        return TYPE_E_CANTLOADLIBRARY;
    return parse(file.readAll(), canonicalPath, lib);
}

HRESULT LoadRegTypeLib(const GUID &libid, std::uint16_t major, std::uint16_t minor, LCID lcid,
                       std::shared_ptr<const TypeLib> *lib)
{
    if (!lib)
        return E_POINTER;
    const QString versionPath = libraryKey(libid) + u'\\' + versionName(major, minor) + u'\\';
    QString path;
    for (const LCID locale : {lcid, LCID(0)}) {
        path = readRegString(HKEY_CLASSES_ROOT, versionPath + hex(locale) + QStringLiteral("\\linux64"));
        if (!path.isEmpty())
            break;
    }
    if (path.isEmpty())
        return TYPE_E_LIBNOTREGISTERED;
    return SUCCEEDED(LoadTypeLib(path, lib)) ? S_OK : TYPE_E_CANTLOADLIBRARY;
}

HRESULT RegisterTypeLib(const TypeLib &lib, const QString &fullPath, const QString &helpDir)
{
    const QString versionPath = libraryKey(lib.libid()) + u'\\' + versionName(lib.majorVersion(), lib.minorVersion());
    LONG error = setDefault(HKEY_CLASSES_ROOT, versionPath, lib.helpString().isEmpty() ? lib.name() : lib.helpString());
    if (error == ERROR_SUCCESS)
        error = setDefault(HKEY_CLASSES_ROOT, versionPath + QStringLiteral("\\FLAGS"), QStringLiteral("0"));
    if (error == ERROR_SUCCESS)
        error = setDefault(HKEY_CLASSES_ROOT, versionPath + QStringLiteral("\\HELPDIR"), helpDir);
    if (error == ERROR_SUCCESS)
        error = setDefault(HKEY_CLASSES_ROOT, versionPath + u'\\' + hex(lib.lcid()) + QStringLiteral("\\linux64"),
                           fullPath);
    for (const auto &info : lib.typeInfos()) {
        if (error == ERROR_SUCCESS && info->kind() == TypeKind::Dual)
            error = registerInterface(*info, lib);
    }
    return HRESULT_FROM_WIN32(error);
}

HRESULT UnRegisterTypeLib(const GUID &libid, std::uint16_t major, std::uint16_t minor, LCID lcid, SYSKIND syskind)
{
    const char *platform = platformName(syskind);
    if (!platform)
        return E_INVALIDARG;
    const QString libraryPath = libraryKey(libid);
    const QString version = versionName(major, minor);
    const QString versionPath = libraryPath + u'\\' + version;
    const QString localePath = versionPath + u'\\' + hex(lcid);
    LONG error = RegDeleteTree(HKEY_CLASSES_ROOT, (localePath + u'\\' + QLatin1StringView(platform)).toUtf8().constData());
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(error);
    deleteKeyIfEmpty(HKEY_CLASSES_ROOT, localePath);

    // The version goes when no locale is left in it, and the library when no version is.
    RegKey versionKey;
    if (RegKey::open(HKEY_CLASSES_ROOT, versionPath, KEY_READ, &versionKey) != ERROR_SUCCESS)
        return S_OK;
    const QStringList parts = versionKey.subKeys();
    versionKey = RegKey();
    const bool localesLeft = std::ranges::any_of(parts, [](const QString &part) {
        return part.compare(QLatin1StringView("FLAGS"), Qt::CaseInsensitive) != 0 &&
               part.compare(QLatin1StringView("HELPDIR"), Qt::CaseInsensitive) != 0;
    });
    if (localesLeft)
        return S_OK;
    error = RegDeleteTree(HKEY_CLASSES_ROOT, versionPath.toUtf8().constData());
    if (error == ERROR_SUCCESS)
        error = unregisterInterfaces(libid, version);
    if (deleteKeyIfEmpty(HKEY_CLASSES_ROOT, libraryPath))
        deleteKeyIfEmpty(HKEY_CLASSES_ROOT, QStringLiteral("TypeLib"));
    return HRESULT_FROM_WIN32(error);
}
