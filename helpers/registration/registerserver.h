#pragma once

// Registration of the helper library (registerserver.cpp tells what is written) and its removal,
// for the caller or for every user of the machine.

#include "automation/hresult.h"
#include "automation/registrar.h"

#include <QString>

namespace tavrelo::registration {

using automation::RegistrarScope;

// `modulePath` is the library's own file, wherever it was installed or copied to.
HRESULT registerServer(const QString &modulePath, RegistrarScope scope);
HRESULT unregisterServer(const QString &modulePath, RegistrarScope scope);

} // namespace tavrelo::registration
