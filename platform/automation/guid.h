#pragma once

// Class, interface and library identifiers.

#include <QString>
#include <QStringView>
#include <QUuid>

using GUID = QUuid;
using IID = QUuid;
using CLSID = QUuid;

inline const IID IID_NULL{};

namespace tavrelo::automation {
// The registry spelling: braces and upper-case hex digits, "{C588106B-4E66-11D4-B7AB-00C0F04903DC}".
QString guidToString(const GUID &guid);
// Accepts the registry spelling in any letter case, with or without braces; false for anything else.
bool guidFromString(QStringView text, GUID *guid);
}
