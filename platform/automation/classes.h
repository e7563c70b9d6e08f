#pragma once

// Finding and creating classes. A class is registered under HKCR\CLSID\{clsid}: its
// InprocServer32 default value names the library that serves it; the library is loaded once per
// process and asked for the class object through its exported DllGetClassObject.

#include "unknown.h"

#include <QString>

class IClassFactory : public IUnknown {
public:
    // CLASS_E_NOAGGREGATION when `outer` is not null.
    virtual HRESULT CreateInstance(IUnknown *outer, const IID &iid, void **object) = 0;
    virtual HRESULT LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

// The entries an in-process server exports by these names (C linkage).
extern "C" {
using DllGetClassObjectFunction = HRESULT (*)(const CLSID &clsid, const IID &iid, void **object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();
using DllInstallFunction = HRESULT (*)(int install, const char *commandLine);
}

// HKCR\<progId>\CLSID, following CurVer when the ProgID has no CLSID of its own.
// CO_E_CLASSSTRING when the ProgID is not registered or names no valid identifier.
HRESULT CLSIDFromProgID(const QString &progId, CLSID *clsid);

// REGDB_E_CLASSNOTREG when the class or its InprocServer32 is not registered; CO_E_DLLNOTFOUND
// when the library cannot be loaded; CO_E_ERRORINDLL when it lacks DllGetClassObject; else what
// DllGetClassObject returns.
HRESULT CoGetClassObject(const CLSID &clsid, const IID &iid, void **object);
HRESULT CoCreateInstance(const CLSID &clsid, IUnknown *outer, const IID &iid, void **object);

// Unloads the libraries whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

namespace tavrelo::automation {
// The library registered for a class (InprocServer32), empty when none.
QString registeredServerPath(const CLSID &clsid);
// True when `libraryPath` is the InprocServer32 of some class under HKCR\CLSID (compared after
// resolving both paths to their canonical form).
bool isRegisteredServer(const QString &libraryPath);
}
