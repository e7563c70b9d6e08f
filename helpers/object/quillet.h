#pragma once

// The helper object: the one class that the pages embed for every native service a page cannot
// perform itself. Script reaches it late-bound through IDispatch, served from the registered type
// library; the members below are the entries of IQuillet in that library's order.
//
// Members follow the automation contract: strings arrive as QString (a null QString is a null
// string), results come back through pointers that are left untouched when there is nothing to
// return, and every member returns an HRESULT.

#include "exportmacro.h"
#include "quilletids.h"

#include "automation/comobject.h"
#include "automation/connection.h"
#include "automation/dispatch.h"
#include "automation/olewindow.h"
#include "automation/typeinfo.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>


namespace tavrelo::messaging {
class NotificationWindow;
}

namespace tavrelo::helpers {

// IUnknown: IUnknown, IQuillet, IDispatch, IObjectWithSite, IConnectionPointContainer,
// IProvideClassInfo2 and IProvideClassInfo; nothing else.
class TAVRELO_HELPERS_EXPORT Quillet final
    : public ComObject<ComInterface<IDispatch, IID_IDispatch, IID_IQuillet>, ComInterface<IObjectWithSite, IID_IObjectWithSite>,
                       ComInterface<IConnectionPointContainer, IID_IConnectionPointContainer>,
                       ComInterface<IProvideClassInfo2, IID_IProvideClassInfo2, IID_IProvideClassInfo>> {
public:
    // A new object whose one reference the caller owns; null when memory runs out.
    static ComPtr<Quillet> create();

    Quillet(const Quillet &) = delete;
    Quillet &operator=(const Quillet &) = delete;

    // IDispatch (quilletdispatch.cpp).
    HRESULT GetTypeInfoCount(std::uint32_t *count) override;
    HRESULT GetTypeInfo(std::uint32_t index, LCID lcid,
                        std::shared_ptr<const tavrelo::automation::TypeInfo> *typeInfo) override;
    HRESULT GetIDsOfNames(const IID &iid, const QStringList &names, LCID lcid, DISPID *ids) override;
    HRESULT Invoke(DISPID member, const IID &iid, LCID lcid, std::uint16_t flags, DispParams &params, Variant *result,
                   ExcepInfo *excepInfo, std::uint32_t *argErr) override;

    // IObjectWithSite.
    HRESULT SetSite(IUnknown *site) override;
    HRESULT GetSite(const IID &iid, void **site) override;

    // IConnectionPointContainer: one point, for _DIQuilletEvents.
    HRESULT FindConnectionPoint(const IID &iid, IConnectionPoint **point) override;

    // IProvideClassInfo2 (quilletdispatch.cpp).
    HRESULT GetClassInfo(std::shared_ptr<const tavrelo::automation::TypeInfo> *classInfo) override;
    HRESULT GetGUID(std::uint32_t guidKind, GUID *guid) override;

    // Raises an event of _DIQuilletEvents (DISPID_ONFILECHANGED, ...) to every connected sink in
    // connection order.
    void raiseEvent(DISPID event);

    // The window the object serves: the site's window, else the top-level widget of this process
    // whose "tavreloWindowClass" property equals `windowClass` (without regard to case), walked up
    // to its top-level parent. E_FAIL and a null *window when there is none.
    HRESULT findHostWindow(const QString &windowClass, HWND *window);

    // ---- IQuillet, in the order of its entries ----

    // Settings (registrysettings.cpp).
    HRESULT get_RegistryString(const QString &module, const QString &name, int whereFlag, QString *value);
    HRESULT put_RegistryString(const QString &module, const QString &name, int whereFlag, const QString &value);
    HRESULT get_RegistryDWORD(const QString &module, const QString &name, int whereFlag, std::int32_t *value);
    HRESULT put_RegistryDWORD(const QString &module, const QString &name, int whereFlag, std::int32_t value);

    // Popup menus (popupmenu.cpp).
    HRESULT get_PopupMenuHandle(std::int32_t *handle);
    HRESULT put_PopupMenuHandle(std::int32_t handle);
    HRESULT PopupMenuCreate();
    HRESULT PopupMenuAppendItem(const QString &text, std::int32_t index, std::int32_t enabled, std::int32_t checked);
    HRESULT PopupMenuAppendPathItem(const QString &text, std::int32_t index, std::int32_t enabled,
                                    std::int32_t checked);
    HRESULT PopupMenuAppendSeparator();
    HRESULT PopupMenuEnableItem(std::int32_t index, std::int32_t enable);
    HRESULT PopupMenuCheckItem(std::int32_t index, std::int32_t check);
    HRESULT PopupMenuTrack(std::int32_t x, std::int32_t y, const QString &windowClass, std::int32_t *selection);
    HRESULT PopupMenuDestroy(std::int32_t menu);

    // Window placement, file-name abbreviation, file locks (windowplacement.cpp, abbreviation.cpp,
    // filelocks.cpp).
    HRESULT RestoreWindowPos(const QString &module, const QString &name, const QString &windowClass);
    HRESULT SaveWindowPos(const QString &module, const QString &name, const QString &windowClass);
    HRESULT AbbreviateFileName(const QString &fileName, QString *abbreviated);
    HRESULT LockFile(const QString &fileName);
    HRESULT UnlockFile(const QString &fileName);

    // Messaging between windows (messagingmembers.cpp).
    HRESULT DoPostMessage(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam, const QString &windowClass);
    HRESULT DoCauseFind();
    HRESULT DoSendChangeNotification(const QString &fileName, int folderId);
    HRESULT get_FileChangeFilePath(QString *path);
    HRESULT get_FileChangeFolderID(std::int32_t *folderId);

    // Mail clients, file dialogs, temporary files (mailmembers.cpp), paths (paths.cpp), drag and
    // drop (dragdrop.cpp).
    HRESULT ShowMailClientsMenu(std::int32_t x, std::int32_t y, const QString &windowClass, std::int32_t *result);
    HRESULT get_MailClientName(QString *name);
    HRESULT get_MailClientDLLPath(QString *path);
    HRESULT SetupDefaultMailClient(std::int32_t *result);
    HRESULT GetTempFilePath(const QString &fileName, const QString &extension, QString *path);
    HRESULT SendFileToMailClient(const QString &filePath, const QString &clientName, const QString &libraryPath,
                                 std::int32_t *result);
    HRESULT ShowBrowseDialogBox(std::int32_t saveDialog, const QString &title, const QString &filter,
                                const QString &defaultExtension, const QString &initialDir, std::int32_t flags,
                                QString *filePath);
    HRESULT DoBroadcastCloseSplash();
    HRESULT DoRevokeDragDrop();
    HRESULT get_FileOpenFilePath(QString *path);
    HRESULT GetBaseDirectory(QString *directory);
    HRESULT GetDocumentURL(IDispatch *document, Variant *url);

    // Settings (registrysettings.cpp).
    HRESULT get_KeyRegistryString(const QString &key, const QString &subKey, const QString &name, QString *value);

private:
    Quillet();
    ~Quillet();

    IUnknown *identity() { return static_cast<IDispatch *>(this); }
    // Loads the registered type library and IQuillet's type info once; a failure is returned
    // and the load tried again on the next call.
    HRESULT ensureTypeInfo(LCID lcid);

    ComPtr<IUnknown> m_site;
    tavrelo::automation::ConnectionPoint m_events;
    std::shared_ptr<const tavrelo::automation::TypeLib> m_typeLib;
    std::shared_ptr<const tavrelo::automation::TypeInfo> m_typeInfo;
    QHash<QString, DISPID> m_memberNames; // exact spelling -> DISPID, filled with the type info

    // ---- Popup menus (popupmenu.cpp) ----
    // The current menu's handle, 0 for none. The object never destroys that menu itself: the page
    // that created it does.
    std::int32_t m_popupMenu = 0;
    // ---- end of popup menus ----

    // ---- Instance messaging (messagingmembers.cpp) ----
    // The hidden window through which other instances reach this object; it lives exactly as
    // long as the object.
    std::unique_ptr<tavrelo::messaging::NotificationWindow> m_notifications;
    // ---- end of instance messaging ----

    // ---- Mail clients (mailmembers.cpp) ----
    // The selected client's display name and library path: both empty until a menu choice or the
    // default client sets them together, and cleared again by the next attempt.
    QString m_mailClientName;
    QString m_mailClientLibrary;
    // ---- end of mail clients ----

    // ---- File locks (filelocks.cpp) ----
public:
    // The name of the lock of a collection path.
    static QByteArray lockNameOf(const QString &path);
    // The lock file beside the collection that other users and machines lock too.
    static QString sharedLockPathOf(const QString &path);

private:
    // The lock names this object has taken; a name stays until a failure removes it. Destroying
    // the object forgets them without releasing: a lock still held stays with the process.
    QList<QByteArray> m_lockNames;
    // Per lock name, the shared lock files this object holds, one for each hold that got one.
    QHash<QByteArray, QStringList> m_sharedLocks;
    // ---- end of file locks ----
};

} // namespace tavrelo::helpers
