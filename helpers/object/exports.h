#pragma once

// The entries the helper library exports by name (C linkage): the in-process server entries the
// automation layer and clipvane-regsvr look up, and the empty function the launcher imports.

#include "exportmacro.h"

#include "automation/classes.h"

extern "C" {
// The class factory of Quillet; CLASS_E_CLASSNOTAVAILABLE for any other class.
TAVRELO_HELPERS_EXPORT HRESULT DllGetClassObject(const CLSID &clsid, const IID &iid, void **object);
// S_OK when no object, no server lock and no reference to the class object is alive, else S_FALSE.
TAVRELO_HELPERS_EXPORT HRESULT DllCanUnloadNow();
// Write and remove the library's registration (helpers/registration/).
TAVRELO_HELPERS_EXPORT HRESULT DllRegisterServer();
TAVRELO_HELPERS_EXPORT HRESULT DllUnregisterServer();
// Does nothing; linking against it makes sure the library is there.
TAVRELO_HELPERS_EXPORT int QuilletHelpersEmptyFunction();
}
