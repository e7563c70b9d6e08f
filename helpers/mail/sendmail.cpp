// Choosing a mail client and handing a file to its Simple MAPI library, which is loaded for the
// one call. Only missing arguments fail the call; every other outcome is a status.

#include "sendmail.h"

#include "registry/regkey.h"
#include "mapi/mapi.h"

#include <QFile>

#include <algorithm>

#include <dlfcn.h>

namespace tavrelo::mail {

using namespace registry;

namespace {

Status statusOf(ULONG sent)
{
    switch (sent) {
    case SUCCESS_SUCCESS: return kOK;
    case MAPI_USER_ABORT: return kUserAbort;
    case MAPI_E_FAILURE: return kFailure;
    case MAPI_E_LOGIN_FAILURE: return kLoginFailure;
    case MAPI_E_INSUFFICIENT_MEMORY: return kInsufficientMemory;
    case MAPI_E_ATTACHMENT_NOT_FOUND: return kAttachmentNotFound;
    case MAPI_E_ATTACHMENT_OPEN_FAILURE: return kAttachmentOpenFailure;
    case MAPI_E_ATTACHMENT_WRITE_FAILURE: return kAttachmentWriteFailure;
    default: return kUnknown;
    }
}

// The name the recipient sees: what follows the path's last "/" (or "\").
QByteArray shownNameOf(const QByteArray &path)
{
    return path.mid(std::max(path.lastIndexOf('/'), path.lastIndexOf('\\')) + 1);
}

} // namespace

std::optional<Client> defaultClient()
{
    RegKey clients;
    if (RegKey::open(HKEY_LOCAL_MACHINE, QLatin1String(kClientsKey), KEY_READ, &clients) != ERROR_SUCCESS)
        return std::nullopt;
    QString defaultKey = defaultClientKey(clients.handle());
    if (defaultKey.isEmpty())
        return std::nullopt;
    // Key names match without regard to case; a client named by its key is named as the key is
    // spelt, as in the menu.
    const QStringList subKeys = clients.subKeys();
    const auto stored = std::find_if(subKeys.cbegin(), subKeys.cend(), [&](const QString &name) {
        return name.compare(defaultKey, Qt::CaseInsensitive) == 0;
    });
    if (stored != subKeys.cend())
        defaultKey = *stored;
    return readClient(clients.handle(), defaultKey);
}

bool ClientMenu::isDefault(const Client &client) const
{
    return !defaultKey.isEmpty() && client.subKey.compare(defaultKey, Qt::CaseInsensitive) == 0;
}

std::optional<ClientMenu> clientMenu()
{
    RegKey clients;
    if (RegKey::open(HKEY_LOCAL_MACHINE, QLatin1String(kClientsKey), KEY_READ, &clients) != ERROR_SUCCESS)
        return std::nullopt;
    ClientMenu menu;
    menu.defaultKey = defaultClientKey(clients.handle());
    const std::optional<QList<Client>> listed = listClients(clients.handle());
    if (!listed || listed->isEmpty())
        return std::nullopt;
    menu.clients = *listed;
    return menu;
}

HRESULT sendFile(const QString &filePath, const QString &clientName, const QString &libraryPath, HWND parent,
                 std::int32_t *result)
{
    if (filePath.isNull() || clientName.isNull() || libraryPath.isNull() || !result)
        return E_POINTER;
    *result = kCancel;
    QByteArray path = QFile::encodeName(filePath);
    const QByteArray library = QFile::encodeName(libraryPath);
    if (path.isEmpty() || clientName.isEmpty() || library.isEmpty())
        return E_INVALIDARG;

    // The client's own library, not whatever a search would find first; it is freed again after
    // the call. While it cannot be used the file stays where it is.
    void *module = dlopen(library.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        *result = kNoLibrary;
        return S_OK;
    }
    const auto sendMail = reinterpret_cast<LPMAPISENDMAIL>(dlsym(module, MAPI_SEND_MAIL_ENTRY));
    if (!sendMail) {
        dlclose(module);
        *result = kNoInterface;
        return S_OK;
    }

    // A message with nothing but the one attachment, placed where the client likes.
    QByteArray shownName = shownNameOf(path);
    MapiFileDesc file{};
    file.nPosition = MAPI_POSITION_ANY;
    file.lpszPathName = path.data();
    file.lpszFileName = shownName.data();
    MapiMessage message{};
    message.nFileCount = 1;
    message.lpFiles = &file;

    const ULONG sent = sendMail(0, reinterpret_cast<ULONG_PTR>(parent), &message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
    // The file is the client's once it was offered, whatever the client answered.
    QFile::remove(filePath);
    *result = statusOf(sent);
    dlclose(module);
    return S_OK;
}

} // namespace tavrelo::mail
