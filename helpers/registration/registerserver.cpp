// Registration of the library: its registrar script (REGISTRY 101) writes the class and its
// ProgIDs, the collection file type, the browser's context-menu entry and toolbar button, and
// makes htahost the program that runs HTML Applications; then its type library (TYPELIB 1) is
// registered, then our mail clients, then the desktop's and browsers' own entries
// (desktopintegration.h); unregistration undoes all four. DllInstall(…, "machine") does the same
// for every user of the machine: all registry entries into the machine hive, the desktop's files
// into the system's folders, nothing into the caller's own hive or home (a package's
// maintainer scripts run as root, whose home is no user's desktop).

#include "registerserver.h"

#include "desktopintegration.h"
#include "mailregistration.h"

#include "automation/module.h"

#include <QDir>
#include <QFileInfo>

namespace tavrelo::registration {

using automation::RegistrarMode;

namespace {

// A program that goes with the library at `modulePath`: the one installed beside it (bin beside
// lib), else the one of the build tree this library was built in, else whichever PATH finds.
QString programPath(const QString &modulePath, const QString &name, const QString &builtPath)
{
    const QString besideLibrary =
        QFileInfo(modulePath).absolutePath() + QStringLiteral("/" CLIPVANE_LIB_TO_BIN "/") + name;
    const QFileInfo installed(QDir::cleanPath(besideLibrary));
    if (installed.isFile() && installed.isExecutable())
        return installed.absoluteFilePath();
    const QFileInfo built(builtPath);
    if (built.isFile() && built.isExecutable())
        return built.absoluteFilePath();
    return name;
}

QString htaHostPath(const QString &modulePath)
{
    return programPath(modulePath, QStringLiteral("htahost"), QStringLiteral(CLIPVANE_BUILD_HTAHOST));
}
QString launcherPath(const QString &modulePath)
{
    return programPath(modulePath, QStringLiteral("Clipvane"), QStringLiteral(CLIPVANE_BUILD_LAUNCHER));
}
QString nativeHostPath(const QString &modulePath)
{
    return programPath(modulePath, QStringLiteral("clipvane-native-host"), QStringLiteral(CLIPVANE_BUILD_NATIVE_HOST));
}

// A path as it goes into an open command, where a percent sign is written %%.
QString forOpenCommand(QString path) { return path.replace(u'%', QStringLiteral("%%")); }

HRESULT registerModule(const QString &path, RegistrarMode mode, RegistrarScope scope)
{
    // The design names the launcher beside the library; here it lies in the programs' folder.
    return tavrelo::automation::registerServerModule(
        path, mode,
        {{QStringLiteral("HTAHOST"), forOpenCommand(htaHostPath(path))},
         {QStringLiteral("CLIPVANE"), launcherPath(path)},
         {QStringLiteral("CLIPVANECOMMAND"), forOpenCommand(launcherPath(path))}},
        scope);
}

// The machine-wide entries of script REGISTRY 102. A user who may not change the machine hive
// registers without them, as without the mail clients; a machine-wide registration fails instead.
HRESULT registerMachineEntries(const QString &path, RegistrarMode mode, RegistrarScope scope)
{
    QByteArray script;
    HRESULT hr = tavrelo::automation::loadModuleResource(path, QStringLiteral("REGISTRY"), QStringLiteral("102"), &script);
    if (FAILED(hr))
        return hr;
    hr = tavrelo::automation::runRegistrarScript(QString::fromUtf8(script),
                                                 {{QStringLiteral("MODULE"), QString(path).replace(u'\'', QStringLiteral("''"))},
                                                  {QStringLiteral("CLIPVANE"), launcherPath(path).replace(u'\'', QStringLiteral("''"))}},
                                                 mode);
    return hr == E_ACCESSDENIED && scope == RegistrarScope::Caller ? S_OK : hr;
}

} // namespace

HRESULT registerServer(const QString &path, RegistrarScope scope)
{
    HRESULT hr = registerModule(path, RegistrarMode::Register, scope);
    if (SUCCEEDED(hr))
        hr = registerMachineEntries(path, RegistrarMode::Register, scope);
    if (SUCCEEDED(hr))
        hr = mailregistration::registerClients(path);
    if (SUCCEEDED(hr))
        hr = desktopintegration::registerDesktop({launcherPath(path), nativeHostPath(path), path},
                                                 scope == RegistrarScope::Machine ? desktopintegration::Scope::Machine
                                                                                  : desktopintegration::Scope::Caller);
    return hr;
}

HRESULT unregisterServer(const QString &path, RegistrarScope scope)
{
    const HRESULT desktopResult = desktopintegration::unregisterDesktop(
        path, scope == RegistrarScope::Machine ? desktopintegration::Scope::Machine : desktopintegration::Scope::Caller);
    const HRESULT mailResult = mailregistration::unregisterClients();
    const HRESULT machineResult = registerMachineEntries(path, RegistrarMode::Unregister, scope);
    const HRESULT hr = registerModule(path, RegistrarMode::Unregister, scope);
    return FAILED(hr) ? hr : FAILED(machineResult) ? machineResult : FAILED(mailResult) ? mailResult : desktopResult;
}

} // namespace tavrelo::registration
