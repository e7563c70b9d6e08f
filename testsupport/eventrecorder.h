#pragma once

// A page as the messaging tests see it: a helper object, a site with a window whose script may
// be busy in a call, and a sink that writes down each event together with what the helper's
// properties read while it runs.

#include "automation/comobject.h"
#include "automation/connection.h"
#include "automation/olewindow.h"
#include "object/quillet.h"
#include "object/quilletids.h"
#include "support/stackdispatch.h"

#include <QString>
#include <QStringList>

// A page's site whose script can be made to wait for a call.
class BusyableSite final
    : public StaticComObject<ComInterface<IScriptTurnSite, IID_IOleWindow, IID_IOleInPlaceSite, IID_IScriptTurnSite>> {
public:
    explicit BusyableSite(HWND window) : m_window(window) {}

    HRESULT GetWindow(HWND *window) override
    {
        *window = m_window;
        return m_window ? S_OK : E_FAIL;
    }
    HRESULT CanRunHandlersNow() override { return busy ? S_FALSE : S_OK; }

    bool busy = false;

private:
    HWND m_window;
};

// Writes each event as "<event> <path>|<folder id>" with the values read while it runs.
class EventRecorder final : public StackDispatch<IDispatch> {
public:
    explicit EventRecorder(tavrelo::helpers::Quillet *helper) : m_helper(helper)
    {
        if (SUCCEEDED(helper->FindConnectionPoint(tavrelo::helpers::DIID__DIQuilletEvents, m_point.put())))
            m_point->Advise(static_cast<IDispatch *>(this), &m_cookie);
    }
    // The helper must outlive its recorder.
    ~EventRecorder()
    {
        if (m_point)
            m_point->Unadvise(m_cookie);
    }
    EventRecorder(const EventRecorder &) = delete;
    EventRecorder &operator=(const EventRecorder &) = delete;

    HRESULT Invoke(DISPID member, const IID &, LCID, std::uint16_t, DispParams &, Variant *, ExcepInfo *,
                   std::uint32_t *) override
    {
        events << describe(member);
        return S_OK;
    }

    // What the helper's three properties read now: "<change path>|<folder id>|<open path>".
    QString idleValues() const
    {
        QString changePath, openPath;
        std::int32_t folderId = 0;
        m_helper->get_FileChangeFilePath(&changePath);
        m_helper->get_FileChangeFolderID(&folderId);
        m_helper->get_FileOpenFilePath(&openPath);
        return QStringLiteral("%1|%2|%3").arg(changePath).arg(folderId).arg(openPath);
    }

    QStringList events;

private:
    QString describe(DISPID member) const
    {
        QString path;
        std::int32_t folderId = 0;
        switch (member) {
        case tavrelo::helpers::DISPID_ONFILECHANGED:
            m_helper->get_FileChangeFilePath(&path);
            m_helper->get_FileChangeFolderID(&folderId);
            return QStringLiteral("onfilechanged %1|%2").arg(path).arg(folderId);
        case tavrelo::helpers::DISPID_ONFILEOPENREQUEST:
            m_helper->get_FileOpenFilePath(&path);
            return QStringLiteral("onfileopenrequest ") + path;
        case tavrelo::helpers::DISPID_ONBUSY:
            m_helper->get_FileOpenFilePath(&path);
            return QStringLiteral("onbusy ") + path;
        default:
            return QStringLiteral("unknown %1").arg(member);
        }
    }

    tavrelo::helpers::Quillet *m_helper;
    ComPtr<IConnectionPoint> m_point;
    std::uint32_t m_cookie = 0;
};
