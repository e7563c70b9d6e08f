#include "connection.h"

#include <algorithm>

namespace tavrelo::automation {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer *owner, const IID &eventIid)
    : m_owner(owner), m_eventIid(eventIid)
{
}

ConnectionPoint::~ConnectionPoint() { disconnectAll(); }

// The point is part of its owner and lives as long as the owner does.
ULONG ConnectionPoint::AddRef() { return m_owner ? m_owner->AddRef() : 1; }
ULONG ConnectionPoint::Release() { return m_owner ? m_owner->Release() : 1; }

HRESULT ConnectionPoint::GetConnectionInterface(IID *iid)
{
    if (!iid)
        return E_POINTER;
    *iid = m_eventIid;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer **container)
{
    if (!container)
        return E_POINTER;
    *container = m_owner;
    if (!m_owner)
        return E_UNEXPECTED;
    m_owner->AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown *sink, std::uint32_t *cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    // The event interface is a dispatch interface: a sink that answers it is an IDispatch.
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(m_eventIid, dispatch.putVoid())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.putVoid())))
        return CONNECT_E_CANNOTCONNECT;
    m_sinks.push_back(std::move(dispatch));
    *cookie = std::uint32_t(m_sinks.size());
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(std::uint32_t cookie)
{
    if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1])
        return CONNECT_E_NOCONNECTION;
    // Released after its place is empty: the sink's going may call back into this point.
    const ComPtr<IDispatch> leaving = std::move(m_sinks[cookie - 1]);
    return S_OK;
}

void ConnectionPoint::raise(DISPID dispid)
{
    // By index over the live list, so that sinks may connect and disconnect while they are called.
    for (std::size_t i = 0; i < m_sinks.size(); ++i) {
        const ComPtr<IDispatch> sink = m_sinks[i];
        if (!sink)
            continue;
        DispParams params;
        Variant result;
        ExcepInfo exception;
        std::uint32_t argErr = 0;
        sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, &result, &exception, &argErr);
    }
}

int ConnectionPoint::connectionCount() const
{
    return int(std::ranges::count_if(m_sinks, [](const ComPtr<IDispatch> &sink) { return bool(sink); }));
}

void ConnectionPoint::disconnectAll()
{
    // The places stay, so that no later sink gets the cookie of one dropped here.
    std::vector<ComPtr<IDispatch>> leaving(m_sinks.size());
    leaving.swap(m_sinks);
}

}
