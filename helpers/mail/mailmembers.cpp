// The mail members: choosing a registered mail client (from a popup menu or the default one) and
// handing a file to that client's Simple MAPI library, which opens a new message with the file
// attached. Outcomes are status codes in the result; only missing arguments fail the call.

#include "mailclients.h"

#include "object/popupmenu.h"
#include "object/quillet.h"

#include "registry/regkey.h"
#include "mapi/mapi.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPointer>

#include <algorithm>

#include <dlfcn.h>

using namespace tavrelo::registry;

namespace {

// Status codes of the mail members.
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

// A stored string as a property's value: an empty string, never a null one, when none is stored.
HRESULT storedText(const QString &text, QString *value)
{
    if (!value)
        return E_POINTER;
    *value = text.isNull() ? QStringLiteral("") : text;
    return S_OK;
}

} // namespace

HRESULT Quillet::SetupDefaultMailClient(std::int32_t *result)
{
    if (!result)
        return E_INVALIDARG;
    m_mailClientName.clear();
    m_mailClientLibrary.clear();
    *result = kNoDefaultClient;
    RegKey clients;
    if (RegKey::open(HKEY_LOCAL_MACHINE, QLatin1String(mail::kClientsKey), KEY_READ, &clients) != ERROR_SUCCESS)
        return S_OK;
    QString defaultKey = mail::defaultClientKey(clients.handle());
    if (defaultKey.isEmpty())
        return S_OK;
    // Key names match without regard to case; a client named by its key is named as the key is
    // spelt, as in the menu.
    const QStringList subKeys = clients.subKeys();
    const auto stored = std::find_if(subKeys.cbegin(), subKeys.cend(), [&](const QString &name) {
        return name.compare(defaultKey, Qt::CaseInsensitive) == 0;
    });
    if (stored != subKeys.cend())
        defaultKey = *stored;
    if (const std::optional<mail::Client> client = mail::readClient(clients.handle(), defaultKey)) {
        m_mailClientName = client->displayName;
        m_mailClientLibrary = client->libraryPath;
        *result = kOK;
    }
    return S_OK;
}

HRESULT Quillet::ShowMailClientsMenu(std::int32_t x, std::int32_t y, const QString &windowClass, std::int32_t *result)
{
    if (!result)
        return E_INVALIDARG;
    m_mailClientName.clear();
    m_mailClientLibrary.clear();
    *result = kCancel;
    RegKey clients;
    if (RegKey::open(HKEY_LOCAL_MACHINE, QLatin1String(mail::kClientsKey), KEY_READ, &clients) != ERROR_SUCCESS) {
        *result = kNoClients;
        return S_OK;
    }
    const QString defaultKey = mail::defaultClientKey(clients.handle());
    const std::optional<QList<mail::Client>> listed = mail::listClients(clients.handle());
    if (!listed || listed->isEmpty()) {
        *result = kNoClients;
        return S_OK;
    }
    HWND owner = nullptr;
    if (FAILED(findHostWindow(windowClass, &owner)) || !owner)
        return S_FALSE;
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return S_OK; // no menu can be made

    // The owner window becomes the menu's parent while it is shown and may take it along when it
    // goes; the guard tells.
    const QPointer<QMenu> menu = new QMenu;
    for (qsizetype i = 0; i < listed->size(); ++i) {
        const mail::Client &client = listed->at(i);
        // A display name is shown as it is: an "&" in it is no mnemonic.
        QAction *item = popupmenu::appendItem(menu, QString(client.displayName).replace(u'&', QStringLiteral("&&")),
                                              static_cast<std::int32_t>(i + 1), true, false);
        if (!defaultKey.isEmpty() && client.subKey.compare(defaultKey, Qt::CaseInsensitive) == 0)
            menu->setDefaultAction(item);
    }
    const std::int32_t chosen = popupmenu::track(menu, owner, x, y);
    if (chosen >= 1 && chosen <= listed->size()) {
        const mail::Client &client = listed->at(chosen - 1);
        m_mailClientName = client.displayName;
        m_mailClientLibrary = client.libraryPath;
        *result = kOK;
    }
    delete menu.data();
    return S_OK;
}

HRESULT Quillet::get_MailClientName(QString *name)
{
    return storedText(m_mailClientName, name);
}

HRESULT Quillet::get_MailClientDLLPath(QString *path)
{
    return storedText(m_mailClientLibrary, path);
}

HRESULT Quillet::SendFileToMailClient(const QString &filePath, const QString &clientName, const QString &libraryPath,
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
    HWND parent = nullptr;
    findHostWindow(QString(), &parent); // none found: no parent

    const ULONG sent = sendMail(0, reinterpret_cast<ULONG_PTR>(parent), &message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
    // The file is the client's once it was offered, whatever the client answered.
    QFile::remove(filePath);
    *result = statusOf(sent);
    dlclose(module);
    return S_OK;
}
