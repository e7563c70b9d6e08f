#pragma once

// Modules (shared libraries) as the automation layer sees them: where a module's file is, the
// resources embedded in it, and the entries it exports.

#include "hresult.h"

#include <QByteArray>
#include <QString>

#include <cstddef>

// A module with embedded resources exports this entry (C linkage, by this name): it finds the
// resource of `type` ("HTML", "TYPELIB", "REGISTRY", ...) named exactly `name`, and returns 1
// with its bytes, or 0. The bytes live as long as the module is loaded.
extern "C" {
using TavreloFindResourceFunction = int (*)(const char *type, const char *name, const unsigned char **data,
                                            std::size_t *size);
}
inline constexpr const char *kFindResourceEntry = "TavreloFindResource";

namespace tavrelo::automation {

// The absolute path of the module file that holds `address` (a function or object of it).
QString modulePathOf(const void *address);

// Loads a module (once per process; it stays loaded) and returns its handle, or null with a
// reason in *error.
void *loadModule(const QString &path, QString *error = nullptr);
// An exported entry of a loaded module, or null.
void *moduleEntry(void *module, const char *name);

// Reads a resource out of the module file at `path`, loading the module when needed.
// S_OK with the bytes; TYPE_E_CANTLOADLIBRARY when the module cannot be loaded or has no
// resource lookup; TYPE_E_ELEMENTNOTFOUND when it holds no such resource.
HRESULT loadModuleResource(const QString &path, const QString &type, const QString &name, QByteArray *data);

}
