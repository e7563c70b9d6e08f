#pragma once

// Outgoing events: a connection point per event interface, holding the sinks that listen.

#include "comobject.h"
#include "dispatch.h"

#include <vector>

class IConnectionPointContainer;

class IConnectionPoint : public IUnknown {
public:
    virtual HRESULT GetConnectionInterface(IID *iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer **container) = 0;
    // The sink must answer the event interface or IDispatch (CONNECT_E_CANNOTCONNECT otherwise);
    // *cookie identifies the connection for Unadvise.
    virtual HRESULT Advise(IUnknown *sink, std::uint32_t *cookie) = 0;
    // CONNECT_E_NOCONNECTION for a cookie that names no live connection.
    virtual HRESULT Unadvise(std::uint32_t cookie) = 0;

protected:
    ~IConnectionPoint() = default;
};

class IConnectionPointContainer : public IUnknown {
public:
    // CONNECT_E_NOCONNECTION when the object raises no such events.
    virtual HRESULT FindConnectionPoint(const IID &iid, IConnectionPoint **point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

inline constexpr std::uint32_t GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

class IProvideClassInfo : public IUnknown {
public:
    virtual HRESULT GetClassInfo(std::shared_ptr<const tavrelo::automation::TypeInfo> *classInfo) = 0;

protected:
    ~IProvideClassInfo() = default;
};

class IProvideClassInfo2 : public IProvideClassInfo {
public:
    // For GUIDKIND_DEFAULT_SOURCE_DISP_IID: the IID of the default event interface.
    virtual HRESULT GetGUID(std::uint32_t guidKind, GUID *guid) = 0;

protected:
    ~IProvideClassInfo2() = default;
};

namespace tavrelo::automation {

// A connection point that lives inside the object raising the events: its references are the
// owner's (they are passed on to it, not counted here), so it must not outlive the owner. Any number of sinks; a sink that disconnects leaves
// an empty place, so cookies stay valid and the order of the others does not change.
class ConnectionPoint final : public ComInterfaces<ComInterface<IConnectionPoint, IID_IConnectionPoint>> {
public:
    ConnectionPoint(IConnectionPointContainer *owner, const IID &eventIid);
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint &) = delete;
    ConnectionPoint &operator=(const ConnectionPoint &) = delete;

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetConnectionInterface(IID *iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer **container) override;
    HRESULT Advise(IUnknown *sink, std::uint32_t *cookie) override;
    HRESULT Unadvise(std::uint32_t cookie) override;

    // Calls each connected sink in connection order with IDispatch::Invoke(dispid, IID_NULL,
    // LOCALE_USER_DEFAULT, DISPATCH_METHOD, no arguments); results are ignored and empty places
    // skipped. A sink may connect or disconnect sinks while it is called.
    void raise(DISPID dispid);

    // Live connections (empty places not counted).
    int connectionCount() const;
    // Drops every sink (when the owner goes away).
    void disconnectAll();

private:
    IConnectionPointContainer *m_owner;
    IID m_eventIid;
    std::vector<ComPtr<IDispatch>> m_sinks;
};

}
