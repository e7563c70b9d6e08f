#pragma once

// The helper object: the one class that the pages embed for every native service a page cannot
// perform itself. Members follow the automation contract: strings arrive as QString (a null
// QString is a null string), results come back through pointers that are left untouched when
// there is nothing to return, and every member returns an HRESULT.

#include "automation/hresult.h"

#include <QString>

#include <cstdint>

#if defined(TAVRELO_HELPERS_BUILD)
#define TAVRELO_HELPERS_EXPORT __attribute__((visibility("default")))
#else
#define TAVRELO_HELPERS_EXPORT
#endif

class TAVRELO_HELPERS_EXPORT Quillet final {
public:
    Quillet() = default;
    Quillet(const Quillet &) = delete;
    Quillet &operator=(const Quillet &) = delete;

    // Settings (registrysettings.cpp).
    HRESULT get_RegistryString(const QString &module, const QString &name, int whereFlag, QString *value);
    HRESULT put_RegistryString(const QString &module, const QString &name, int whereFlag, const QString &value);
    HRESULT get_RegistryDWORD(const QString &module, const QString &name, int whereFlag, std::int32_t *value);
    HRESULT put_RegistryDWORD(const QString &module, const QString &name, int whereFlag, std::int32_t value);
    HRESULT get_KeyRegistryString(const QString &key, const QString &subKey, const QString &name, QString *value);
};
