// Event connections: sinks called in connection order, stable cookies, and sinks that connect and
// disconnect while an event is being raised.

#include "automation/comobject.h"
#include "automation/connection.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

using tavrelo::automation::ConnectionPoint;

namespace {

const IID kEvents{0x1C7E2B90, 0x3A44, 0x4F6B, 0xA1, 0x0D, 0x6C, 0x5B, 0x2E, 0x11, 0x90, 0x01};

// A sink that writes each event it gets into a shared log and may act while it is called.
class Sink final : public ComObject<ComInterface<IDispatch, IID_IDispatch, kEvents>> {
public:
    enum class Answers { Both, EventsOnly, Neither };

    Sink(QStringList *log, QString name, Answers answers = Answers::Both)
        : m_log(log), m_name(std::move(name)), m_answers(answers)
    {
    }
    ~Sink() { m_log->append(m_name + QStringLiteral(" destroyed")); }

    // Writes down every query; answers the events' interface and IDispatch as it was told to.
    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        queried.append(iid);
        if ((iid == kEvents && m_answers == Answers::Neither) || (iid == IID_IDispatch && m_answers != Answers::Both)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return ComObject::QueryInterface(iid, object);
    }
    HRESULT GetTypeInfoCount(std::uint32_t *) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const tavrelo::automation::TypeInfo> *) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const IID &, const QStringList &, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID member, const IID &iid, LCID lcid, std::uint16_t flags, DispParams &params, Variant *,
                   ExcepInfo *, std::uint32_t *) override
    {
        EXPECT_EQ(iid, IID_NULL);
        EXPECT_EQ(lcid, LOCALE_USER_DEFAULT);
        EXPECT_EQ(flags, DISPATCH_METHOD);
        EXPECT_TRUE(params.args.empty());
        m_log->append(m_name + u':' + QString::number(member));
        if (onCall)
            onCall();
        return E_FAIL; // results of sinks are ignored
    }

    QList<IID> queried;
    std::function<void()> onCall;

private:
    QStringList *m_log;
    QString m_name;
    Answers m_answers;
};

// The object that raises the events; counts the references the point hands it.
class Owner final : public StaticComObject<ComInterface<IConnectionPointContainer, IID_IConnectionPointContainer>> {
public:
    HRESULT FindConnectionPoint(const IID &, IConnectionPoint **) override { return E_NOTIMPL; }
};

class Connections : public testing::Test {
protected:
    // A new sink, connected; the test keeps no reference of its own, the point holds it.
    Sink *connect(const char *name, std::uint32_t expectedCookie)
    {
        auto *sink = new Sink(&log, QString::fromUtf8(name));
        std::uint32_t cookie = 0;
        EXPECT_EQ(point.Advise(sink, &cookie), S_OK);
        EXPECT_EQ(cookie, expectedCookie) << name;
        sink->Release();
        return sink;
    }
    QStringList raised(DISPID dispid)
    {
        log.clear();
        point.raise(dispid);
        return log;
    }

    QStringList log;
    Owner owner;
    ConnectionPoint point{&owner, kEvents};
};

QStringList list(std::initializer_list<const char *> items)
{
    QStringList result;
    for (const char *item : items)
        result.append(QString::fromUtf8(item));
    return result;
}

}

TEST_F(Connections, sinksAreCalledInConnectionOrderAndCookiesStayValid)
{
    connect("a", 1);
    connect("b", 2);
    connect("c", 3);
    EXPECT_EQ(raised(7), list({"a:7", "b:7", "c:7"}));

    EXPECT_EQ(point.Unadvise(2), S_OK);
    EXPECT_EQ(log.last(), QStringLiteral("b destroyed"));
    EXPECT_EQ(point.connectionCount(), 2);
    EXPECT_EQ(raised(8), list({"a:8", "c:8"})) << "the empty place is skipped";

    connect("d", 4); // a new sink takes a new place, after the others
    EXPECT_EQ(raised(9), list({"a:9", "c:9", "d:9"}));
    EXPECT_EQ(point.Unadvise(3), S_OK) << "c kept its cookie";
    EXPECT_EQ(raised(1), list({"a:1", "d:1"}));

    for (const std::uint32_t stale : {0u, 2u, 3u, 5u, 1000u})
        EXPECT_EQ(point.Unadvise(stale), CONNECT_E_NOCONNECTION) << stale;
    EXPECT_EQ(point.connectionCount(), 2);
}

TEST_F(Connections, aSinkMayDisconnectItselfWhileCalled)
{
    Sink *a = connect("a", 1);
    connect("b", 2);
    connect("c", 3);
    a->onCall = [&] {
        EXPECT_EQ(point.Unadvise(1), S_OK);
        log.append(QStringLiteral("a still alive"));
    };
    EXPECT_EQ(raised(5), list({"a:5", "a still alive", "a destroyed", "b:5", "c:5"}))
        << "a lives until its call returns";
    EXPECT_EQ(raised(6), list({"b:6", "c:6"}));
    EXPECT_EQ(point.connectionCount(), 2);
}

TEST_F(Connections, sinksConnectedOrDroppedDuringAnEventAreSeenAtOnce)
{
    Sink *b = connect("b", 1);
    connect("c", 2);
    bool first = true;
    b->onCall = [&] {
        if (!std::exchange(first, false))
            return;
        EXPECT_EQ(point.Unadvise(2), S_OK);
        connect("e", 3);
    };
    EXPECT_EQ(raised(4), list({"b:4", "c destroyed", "e:4"}));
    EXPECT_EQ(raised(4), list({"b:4", "e:4"}));
}

TEST_F(Connections, aSinkMustAnswerTheEventInterfaceOrIDispatch)
{
    auto *both = new Sink(&log, QStringLiteral("both"));
    std::uint32_t cookie = 0;
    ASSERT_EQ(point.Advise(both, &cookie), S_OK);
    EXPECT_EQ(both->queried.value(0), kEvents) << "the event interface is asked for first";
    EXPECT_EQ(both->references(), 2u);

    auto *eventsOnly = new Sink(&log, QStringLiteral("events"), Sink::Answers::EventsOnly);
    EXPECT_EQ(point.Advise(eventsOnly, &cookie), S_OK);
    EXPECT_EQ(cookie, 2u);

    auto *neither = new Sink(&log, QStringLiteral("neither"), Sink::Answers::Neither);
    cookie = 42;
    EXPECT_EQ(point.Advise(neither, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(neither->queried, (QList<IID>{kEvents, IID_IDispatch}));
    EXPECT_EQ(neither->references(), 1u) << "no reference kept";
    EXPECT_EQ(point.Advise(nullptr, &cookie), E_POINTER);

    EXPECT_EQ(raised(3), list({"both:3", "events:3"}));
    neither->Release();
    both->Release();
    eventsOnly->Release();
}

TEST_F(Connections, thePointIsPartOfItsOwner)
{
    EXPECT_EQ(point.AddRef(), 2u);
    EXPECT_EQ(owner.references(), 2u);
    point.Release();

    IConnectionPointContainer *container = nullptr;
    ASSERT_EQ(point.GetConnectionPointContainer(&container), S_OK);
    EXPECT_EQ(container, &owner);
    EXPECT_EQ(owner.references(), 2u);
    container->Release();

    IID iid;
    ASSERT_EQ(point.GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, kEvents);

    void *object = nullptr;
    ASSERT_EQ(point.QueryInterface(IID_IConnectionPoint, &object), S_OK);
    EXPECT_EQ(object, static_cast<IConnectionPoint *>(&point));
    point.Release();
    EXPECT_EQ(point.QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(owner.references(), 1u);
}

TEST_F(Connections, disconnectingAllReleasesEverySinkAndKeepsCookiesUnique)
{
    connect("a", 1);
    connect("b", 2);
    point.disconnectAll();
    EXPECT_EQ(log, list({"a destroyed", "b destroyed"}));
    EXPECT_EQ(point.connectionCount(), 0);
    EXPECT_EQ(point.Unadvise(1), CONNECT_E_NOCONNECTION);
    connect("c", 3);
    EXPECT_EQ(raised(2), list({"c:2"}));
    {
        ConnectionPoint shortLived(&owner, kEvents);
        auto *d = new Sink(&log, QStringLiteral("d"));
        std::uint32_t cookie = 0;
        shortLived.Advise(d, &cookie);
        d->Release();
        log.clear();
    }
    EXPECT_EQ(log, list({"d destroyed"})) << "the point releases its sinks when it goes";
}
