#pragma once

// A registrar script read into what it registers (the language is described in registrar.h).

#include "registrar.h"

#include "registry/winreg.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tavrelo::automation {

struct RegistrarValue {
    QString name; // empty for the key's default value
    registry::DWORD type = registry::REG_SZ;
    QByteArray data; // as the registry stores it
};

struct RegistrarKey {
    enum class Flag { None, NoRemove, ForceRemove, Delete };
    Flag flag = Flag::None;
    QString name;
    QList<RegistrarValue> values;
    QList<RegistrarKey> subKeys;
};

struct RegistrarRoot {
    registry::HKEY root = nullptr;
    QString name; // as written, for messages
    QList<RegistrarKey> keys;
};

// Replaces the %NAME%s and reads the whole script; false with "line N: reason" in *error.
bool parseRegistrarScript(const QString &script, const Replacements &replacements, QList<RegistrarRoot> *roots,
                          QString *error);

}
