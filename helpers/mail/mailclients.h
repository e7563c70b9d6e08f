#pragma once

// The mail clients registered with the system: each subkey of HKLM\SOFTWARE\Clients\Mail is one
// client, whose default value is its display name and whose "DllPath" names its Simple MAPI
// library; the default value of the Mail key itself names the default client's subkey. Read
// here, written only by registration.

#include "registry/winreg.h"

#include <QList>
#include <QString>

#include <optional>

namespace tavrelo::mail {

inline constexpr const char *kClientsKey = "SOFTWARE\\Clients\\Mail";
inline constexpr const char *kLibraryValue = "DllPath";

struct Client {
    QString subKey;
    QString displayName; // the default value, else the subkey's own name
    QString libraryPath; // "DllPath", environment references expanded
};

// The client under `subKey` of the open Mail key, when it is usable: its key opens and both its
// display name and its library path are non-empty. String values count only as REG_SZ or
// REG_EXPAND_SZ, the latter expanded; anything else reads as empty.
std::optional<Client> readClient(tavrelo::registry::HKEY clients, const QString &subKey);

// The default value of the Mail key as stored (no expansion), empty unless it is a string.
QString defaultClientKey(tavrelo::registry::HKEY clients);

// The usable clients, ordered by display name without regard to case; of several with one
// display name only the first enumerated is kept. None when the subkeys cannot be counted.
std::optional<QList<Client>> listClients(tavrelo::registry::HKEY clients);

} // namespace tavrelo::mail
