#include "htahandler.h"

#include "registry/winreg.h"

#include <QByteArray>

#include <optional>

namespace tavrelo::shell {

using namespace tavrelo::registry;

namespace {

// The default value of HKEY_CLASSES_ROOT\<key> when it is a non-empty REG_SZ or REG_EXPAND_SZ.
std::optional<QString> defaultString(const QByteArray &key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.constData(), KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = REG_NONE;
    QByteArray data(1024, '\0');
    LONG error = ERROR_MORE_DATA;
    // A value longer than the buffer is read again with the size it reports.
    while (error == ERROR_MORE_DATA) {
        DWORD size = DWORD(data.size());
        error = RegQueryValueEx(opened, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size);
        data.resize(qsizetype(size));
    }
    RegCloseKey(opened);
    if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    // The stored size counts the terminating NUL; the text ends at the first one.
    if (const qsizetype end = data.indexOf('\0'); end >= 0)
        data.truncate(end);
    const QString text = QString::fromUtf8(data);
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

}

HtaOpenCommand findHtaOpenCommand()
{
    const std::optional<QString> fileClass = defaultString(QByteArrayLiteral(".hta"));
    if (!fileClass)
        return {HtaOpenCommand::Outcome::NoFileClass, {}};
    const std::optional<QString> command = defaultString(fileClass->toUtf8() + "\\shell\\open\\command");
    if (!command)
        return {HtaOpenCommand::Outcome::NoOpenCommand, {}};
    return {HtaOpenCommand::Outcome::Found, *command};
}

}
