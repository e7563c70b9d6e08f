// The library's exports by name beside the class factory's (classfactory.cpp): registration
// (helpers/registration/) and the launcher's two functions (helpers/messaging/).

#include "exports.h"

#include "automation/module.h"
#include "messaging/instancemessaging.h"
#include "registration/registerserver.h"

#include <cstring>

using tavrelo::registration::RegistrarScope;

namespace {

// The file this code was loaded from, wherever the library was installed or copied to.
QString thisModulePath()
{
    return tavrelo::automation::modulePathOf(reinterpret_cast<const void *>(&DllRegisterServer));
}

} // namespace

extern "C" {

HRESULT DllRegisterServer() { return tavrelo::registration::registerServer(thisModulePath(), RegistrarScope::Caller); }

HRESULT DllUnregisterServer()
{
    return tavrelo::registration::unregisterServer(thisModulePath(), RegistrarScope::Caller);
}

HRESULT DllInstall(int install, const char *commandLine)
{
    if (!commandLine || std::strcmp(commandLine, "machine") != 0)
        return E_INVALIDARG;
    return install ? tavrelo::registration::registerServer(thisModulePath(), RegistrarScope::Machine)
                   : tavrelo::registration::unregisterServer(thisModulePath(), RegistrarScope::Machine);
}

int QuilletHelpersEmptyFunction()
{
    return 0;
}

int QuilletHelpersRequestFileOpen(const char *text, std::int32_t *delivered, std::int32_t *found)
{
    const tavrelo::messaging::FileOpenOutcome outcome = tavrelo::messaging::requestFileOpen(QByteArray(text ? text : ""));
    if (outcome.found && found)
        *found = 1;
    if (outcome.delivered && delivered)
        *delivered = 1;
    return 0;
}

} // extern "C"
