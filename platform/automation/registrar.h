#pragma once

// Registration of in-process servers. A module describes what it registers in a registrar
// script, its resource "REGISTRY" named "101", written in the registrar language:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {C588106B-...} = s 'Quillet Class'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Roots HKCR, HKCU, HKLM (or their long names); a key line is an optional flag (NoRemove,
// ForceRemove, Delete), the key name (bare or in single quotes) and an optional default value;
// `val <name> = <type> '<data>'` sets a named value; types s (string), e (expandable string),
// d (number, decimal or 0x hex), b (hex bytes). Inside quotes '' is one quote. %NAME% is replaced
// by the caller's replacements, %% is one percent sign.
//
// Register: keys are created; ForceRemove keys are deleted with everything below first; Delete
// keys are deleted. Unregister: ForceRemove keys are deleted whole; NoRemove keys are kept (their
// children are still processed); other keys lose the values the script names and are deleted
// when nothing else remains in them.

#include "hresult.h"

#include <QList>
#include <QString>

#include <utility>

namespace tavrelo::automation {

enum class RegistrarMode { Register, Unregister };

// Whose entries a script writes. Caller: each root as it is (HKCU is the caller's own hive, HKCR
// the merged view). Machine: every entry goes to the machine hive, for every user: HKCU's keys
// under HKLM, HKCR's under HKLM\Software\Classes; no user's hive is read or changed.
enum class RegistrarScope { Caller, Machine };

using Replacements = QList<std::pair<QString, QString>>; // name without percent signs, value

// Runs a registrar script. E_INVALIDARG (with the line in *error) for a script that does not
// parse, before anything is written; a registry failure as its HRESULT_FROM_WIN32.
HRESULT runRegistrarScript(const QString &script, const Replacements &replacements, RegistrarMode mode,
                           QString *error = nullptr, RegistrarScope scope = RegistrarScope::Caller);

// What DllRegisterServer and DllUnregisterServer of a module do: run its REGISTRY 101 script with
// %MODULE% (the module's path) and %APPPATH% (its folder, no trailing slash) and the `more`
// replacements of the module's own, each with its single quotes doubled, then register its type
// library (TYPELIB 1, else the ".tlb" file beside the module) with its folder, closing "/"
// included, as help folder, or, when unregistering, unregister it. A module with neither fails
// (TYPE_E_CANTLOADLIBRARY). Returns the first failure or S_OK.
HRESULT registerServerModule(const QString &modulePath, RegistrarMode mode, const Replacements &more = {},
                             RegistrarScope scope = RegistrarScope::Caller);

}
