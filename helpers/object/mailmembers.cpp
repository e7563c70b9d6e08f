// The helper object's members for mail (helpers/mail/): choosing a registered mail client, from a
// popup menu or the default one, handing a file to it, free temporary names, and file dialogs.

#include "popupmenu.h"
#include "quillet.h"

#include "mail/filedialog.h"
#include "mail/sendmail.h"
#include "mail/tempfiles.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>

namespace tavrelo::helpers {

namespace mail = tavrelo::mail;

namespace {

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
    const std::optional<mail::Client> client = mail::defaultClient();
    m_mailClientName = client ? client->displayName : QString();
    m_mailClientLibrary = client ? client->libraryPath : QString();
    *result = client ? mail::kOK : mail::kNoDefaultClient;
    return S_OK;
}

HRESULT Quillet::ShowMailClientsMenu(std::int32_t x, std::int32_t y, const QString &windowClass, std::int32_t *result)
{
    if (!result)
        return E_INVALIDARG;
    m_mailClientName.clear();
    m_mailClientLibrary.clear();
    *result = mail::kCancel;
    const std::optional<mail::ClientMenu> listed = mail::clientMenu();
    if (!listed) {
        *result = mail::kNoClients;
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
    for (qsizetype i = 0; i < listed->clients.size(); ++i) {
        const mail::Client &client = listed->clients.at(i);
        // A display name is shown as it is: an "&" in it is no mnemonic.
        QAction *item = popupmenu::appendItem(menu, QString(client.displayName).replace(u'&', QStringLiteral("&&")),
                                              static_cast<std::int32_t>(i + 1), true, false);
        if (listed->isDefault(client))
            menu->setDefaultAction(item);
    }
    const std::int32_t chosen = popupmenu::track(menu, owner, x, y);
    if (chosen >= 1 && chosen <= listed->clients.size()) {
        const mail::Client &client = listed->clients.at(chosen - 1);
        m_mailClientName = client.displayName;
        m_mailClientLibrary = client.libraryPath;
        *result = mail::kOK;
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
    HWND parent = nullptr;
    findHostWindow(QString(), &parent); // none found: no parent
    return mail::sendFile(filePath, clientName, libraryPath, parent, result);
}

HRESULT Quillet::GetTempFilePath(const QString &fileName, const QString &extension, QString *path)
{
    if (fileName.isNull() || extension.isNull() || !path)
        return E_POINTER;
    *path = mail::freeTempFilePath(fileName, extension);
    return S_OK;
}

HRESULT Quillet::ShowBrowseDialogBox(std::int32_t saveDialog, const QString &title, const QString &filter,
                                     const QString &defaultExtension, const QString &initialDir, std::int32_t flags,
                                     QString *filePath)
{
    if (!filePath)
        return E_POINTER;
    *filePath = mail::browseForFile(saveDialog != 0, title, filter, defaultExtension, initialDir, flags, m_site.get());
    return S_OK;
}

} // namespace tavrelo::helpers
