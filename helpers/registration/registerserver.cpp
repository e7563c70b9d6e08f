// Registration of the library: its registrar script (REGISTRY 101) writes the class and its
// ProgIDs and makes htahost the program that runs HTML Applications, then its type library
// (TYPELIB 1) is registered, then our mail clients; unregistration undoes all three.

#include "mailregistration.h"

#include "object/exports.h"

#include "automation/module.h"
#include "automation/registrar.h"

#include <QDir>
#include <QFileInfo>

using tavrelo::automation::RegistrarMode;

namespace {

// The htahost that goes with the library at `modulePath`: the one installed beside it, else the
// one of the build tree this library was built in, else whichever PATH finds.
QString htaHostPath(const QString &modulePath)
{
    const QString besideLibrary =
        QFileInfo(modulePath).absolutePath() + QStringLiteral("/" CLIPVANE_LIB_TO_BIN "/htahost");
    const QFileInfo installed(QDir::cleanPath(besideLibrary));
    if (installed.isFile() && installed.isExecutable())
        return installed.absoluteFilePath();
    const QFileInfo built(QStringLiteral(CLIPVANE_BUILD_HTAHOST));
    if (built.isFile() && built.isExecutable())
        return built.absoluteFilePath();
    return QStringLiteral("htahost");
}

// A path as it goes into an open command, where a percent sign is written %%.
QString forOpenCommand(QString path) { return path.replace(u'%', QStringLiteral("%%")); }

// The file this code was loaded from, wherever the library was installed or copied to.
QString thisModulePath()
{
    return tavrelo::automation::modulePathOf(reinterpret_cast<const void *>(&DllRegisterServer));
}

HRESULT registerModule(const QString &path, RegistrarMode mode)
{
    return tavrelo::automation::registerServerModule(
        path, mode, {{QStringLiteral("HTAHOST"), forOpenCommand(htaHostPath(path))}});
}

} // namespace

extern "C" {

HRESULT DllRegisterServer()
{
    const QString path = thisModulePath();
    const HRESULT hr = registerModule(path, RegistrarMode::Register);
    return FAILED(hr) ? hr : mailregistration::registerClients(path);
}

HRESULT DllUnregisterServer()
{
    const HRESULT mailResult = mailregistration::unregisterClients();
    const HRESULT hr = registerModule(thisModulePath(), RegistrarMode::Unregister);
    return FAILED(hr) ? hr : mailResult;
}

} // extern "C"
