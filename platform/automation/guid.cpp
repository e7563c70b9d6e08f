#include "guid.h"

#include <QRegularExpression>

namespace tavrelo::automation {

QString guidToString(const GUID &guid) { return guid.toString(QUuid::WithBraces).toUpper(); }

bool guidFromString(QStringView text, GUID *guid)
{
    // QUuid is lenient about braces (one without the other); the registry spelling is not.
    static const QRegularExpression pattern(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (text.startsWith(u'{') && text.endsWith(u'}'))
        text = text.mid(1, text.size() - 2);
    if (!pattern.match(text).hasMatch())
        return false;
    if (guid)
        *guid = QUuid::fromString(text);
    return true;
}

}
