// Events reach the sinks a page connects, in connection order.

#include "helperfixture.h"

#include "automation/connection.h"
#include "object/quillet.h"
#include "support/stackdispatch.h"

#include <atomic>

using namespace tavrelo::helpers;

namespace {

struct Delivery {
    QString sink;
    DISPID event;
    std::uint16_t flags;
    std::size_t argCount;
    bool operator==(const Delivery &) const = default;
};

// A page's event sink: records every call it receives.
class RecordingSink final : public StackDispatch<IDispatch> {
public:
    RecordingSink(QString name, std::vector<Delivery> *log) : m_name(std::move(name)), m_log(log) {}

    HRESULT Invoke(DISPID member, const IID &, LCID, std::uint16_t flags, DispParams &params, Variant *, ExcepInfo *,
                   std::uint32_t *) override
    {
        m_log->push_back({m_name, member, flags, params.args.size()});
        return E_FAIL; // a failing handler must not stop the others
    }

private:
    QString m_name;
    std::vector<Delivery> *m_log;
};

} // namespace

using HelperEvents = RegisteredHelpers;

TEST_F(HelperEvents, everyConnectedSinkReceivesEachEventInConnectionOrder)
{
    const ComPtr<IDispatch> helper = createHelper();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(helper.as(IID_IConnectionPointContainer, &container), S_OK);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.put()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(point);
    ASSERT_EQ(container->FindConnectionPoint(kEventsIid, point.put()), S_OK);

    std::vector<Delivery> log;
    RecordingSink first(QStringLiteral("first"), &log);
    RecordingSink second(QStringLiteral("second"), &log);
    std::uint32_t firstCookie = 0;
    std::uint32_t secondCookie = 0;
    ASSERT_EQ(point->Advise(&first, &firstCookie), S_OK);
    ASSERT_EQ(point->Advise(&second, &secondCookie), S_OK);

    auto *quillet = static_cast<Quillet *>(helper.get());
    quillet->raiseEvent(2);
    quillet->raiseEvent(1);
    EXPECT_EQ(log, (std::vector<Delivery>{{QStringLiteral("first"), 2, DISPATCH_METHOD, 0},
                                          {QStringLiteral("second"), 2, DISPATCH_METHOD, 0},
                                          {QStringLiteral("first"), 1, DISPATCH_METHOD, 0},
                                          {QStringLiteral("second"), 1, DISPATCH_METHOD, 0}}));

    log.clear();
    ASSERT_EQ(point->Unadvise(firstCookie), S_OK);
    quillet->raiseEvent(3);
    EXPECT_EQ(log, (std::vector<Delivery>{{QStringLiteral("second"), 3, DISPATCH_METHOD, 0}}));
    EXPECT_EQ(first.references(), 1u); // let go when it disconnected
}

TEST_F(HelperEvents, anObjectWithoutSinksRaisesIntoNothingAndKeepsWorking)
{
    const ComPtr<IDispatch> helper = createHelper();
    static_cast<Quillet *>(helper.get())->raiseEvent(1);
    Variant value;
    EXPECT_EQ(call(helper.get(), QStringLiteral("RegistryDWORD"), DISPATCH_PROPERTYGET,
                   {QStringLiteral("Quillet"), QStringLiteral("SortBy"), std::int32_t{2}}, &value),
              S_OK);
    EXPECT_EQ(value, Variant(std::int32_t{0}));
}

TEST_F(HelperEvents, sinksAreLetGoWhenTheObjectGoes)
{
    std::vector<Delivery> log;
    RecordingSink sink(QStringLiteral("sink"), &log);
    ComPtr<IDispatch> helper = createHelper();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(helper.as(IID_IConnectionPointContainer, &container), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(kEventsIid, point.put()), S_OK);
    std::uint32_t cookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    EXPECT_GT(sink.references(), 1u);
    point.reset();
    container.reset();
    helper.reset();
    EXPECT_EQ(sink.references(), 1u);
}
