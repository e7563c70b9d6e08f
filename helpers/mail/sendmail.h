#pragma once

// Choosing a registered mail client (the default one, or one of a menu's) and handing a file to
// that client's Simple MAPI library, which opens a new message with the file attached. Outcomes
// are status codes, as the pages read them.

#include "mailclients.h"

#include "automation/hresult.h"
#include "automation/olewindow.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace tavrelo::mail {

enum Status : std::int32_t {
    kOK = 0,
    kCancel = 1,
    kNoClients = 2,
    kNoDefaultClient = 3,
    kNoLibrary = 4,
    kNoInterface = 5,
    kAttachmentOpenFailure = 6,
    kAttachmentWriteFailure = 7,
    kFailure = 8,
    kInsufficientMemory = 9,
    kLoginFailure = 10,
    kUserAbort = 11,
    kUnknown = 12,
    kAttachmentNotFound = 14,
};

// The system's default client, when it names a usable one.
std::optional<Client> defaultClient();

// The clients a menu offers, and the default client's subkey (empty when there is none).
struct ClientMenu {
    QList<Client> clients;
    QString defaultKey;
    bool isDefault(const Client &client) const;
};

// The usable clients; none when no client is registered or none of them is usable.
std::optional<ClientMenu> clientMenu();

// Hands the file to the client library at `libraryPath`, the message's window a child of
// `parent`, and removes the file once it was offered. E_POINTER without an argument, E_INVALIDARG
// for an empty one; else S_OK and the status in *result.
HRESULT sendFile(const QString &filePath, const QString &clientName, const QString &libraryPath, HWND parent,
                 std::int32_t *result);

} // namespace tavrelo::mail
