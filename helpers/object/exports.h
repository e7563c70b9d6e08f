#pragma once

// The entries the helper library exports by name (C linkage): the in-process server entries the
// automation layer and clipvane-regsvr look up, and the two functions the launcher imports.

#include "exportmacro.h"

#include "automation/classes.h"

#include <cstdint>

extern "C" {
// The class factory of Quillet; CLASS_E_CLASSNOTAVAILABLE for any other class.
TAVRELO_HELPERS_EXPORT HRESULT DllGetClassObject(const CLSID &clsid, const IID &iid, void **object);
// S_OK when no object, no server lock and no reference to the class object is alive, else S_FALSE.
TAVRELO_HELPERS_EXPORT HRESULT DllCanUnloadNow();
// Write and remove the library's registration (helpers/registration/).
TAVRELO_HELPERS_EXPORT HRESULT DllRegisterServer();
TAVRELO_HELPERS_EXPORT HRESULT DllUnregisterServer();
// With `commandLine` "machine": the registration (install != 0) or its removal for every user of
// the machine, written into the machine hive and the system's folders only; E_INVALIDARG for any
// other command line.
TAVRELO_HELPERS_EXPORT HRESULT DllInstall(int install, const char *commandLine);
// Does nothing; linking against it makes sure the library is there.
TAVRELO_HELPERS_EXPORT int QuilletHelpersEmptyFunction();
// Hands `text` (UTF-8, NUL-terminated) to the running viewer as a file-open request. Sets *found
// to 1 when a viewer's notification endpoint exists and *delivered to 1 when it accepted the
// request; never clears either. Returns 0.
TAVRELO_HELPERS_EXPORT int QuilletHelpersRequestFileOpen(const char *text, std::int32_t *delivered,
                                                         std::int32_t *found);
}
