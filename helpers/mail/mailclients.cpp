// Reading the registered mail clients.

#include "mailclients.h"

#include "registry/regkey.h"

#include <QByteArray>

#include <map>
#include <vector>

using namespace tavrelo::registry;

namespace {

struct CaseInsensitiveLess {
    bool operator()(const QString &a, const QString &b) const { return a.compare(b, Qt::CaseInsensitive) < 0; }
};

} // namespace

namespace tavrelo::mail {

std::optional<Client> readClient(HKEY clients, const QString &subKey)
{
    RegKey key;
    if (RegKey::open(clients, subKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    Client client{subKey, key.string().value_or(QString()), key.string(QLatin1String(kLibraryValue)).value_or(QString())};
    if (client.displayName.isEmpty())
        client.displayName = subKey;
    if (client.displayName.isEmpty() || client.libraryPath.isEmpty())
        return std::nullopt;
    return client;
}

QString defaultClientKey(HKEY clients)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueEx(clients, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::vector<BYTE> data(size + 1, 0); // one more: the text is terminated whatever was stored
    if (RegQueryValueEx(clients, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return {};
    return QString::fromUtf8(reinterpret_cast<const char *>(data.data()));
}

std::optional<QList<Client>> listClients(HKEY clients)
{
    DWORD count = 0;
    DWORD longest = 0;
    if (RegQueryInfoKey(clients, &count, &longest) != ERROR_SUCCESS)
        return std::nullopt;
    std::map<QString, Client, CaseInsensitiveLess> byName;
    std::vector<char> name(longest + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD size = static_cast<DWORD>(name.size());
        if (RegEnumKeyEx(clients, index, name.data(), &size) != ERROR_SUCCESS)
            continue;
        if (std::optional<Client> client = readClient(clients, QString::fromUtf8(name.data(), size)))
            byName.try_emplace(client->displayName, *client); // a name already there keeps its first client
    }
    QList<Client> ordered;
    for (const auto &[displayName, client] : byName)
        ordered << client;
    return ordered;
}

} // namespace tavrelo::mail
