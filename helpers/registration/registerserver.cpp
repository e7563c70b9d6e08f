// Registration of the library: its registrar script (REGISTRY 101) writes the class and its
// ProgIDs, then its type library (TYPELIB 1) is registered; unregistration undoes both.

#include "object/exports.h"

#include "automation/module.h"
#include "automation/registrar.h"

using tavrelo::automation::RegistrarMode;

namespace {

HRESULT registerThisModule(RegistrarMode mode)
{
    // The file this code was loaded from, wherever the library was installed or copied to.
    return tavrelo::automation::registerServerModule(
        tavrelo::automation::modulePathOf(reinterpret_cast<const void *>(&DllRegisterServer)), mode);
}

} // namespace

extern "C" {

HRESULT DllRegisterServer()
{
    return registerThisModule(RegistrarMode::Register);
}

HRESULT DllUnregisterServer()
{
    return registerThisModule(RegistrarMode::Unregister);
}

} // extern "C"
