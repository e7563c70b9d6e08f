// What the helper object answers to QueryInterface, and the class object and unload entries of
// its library.

#include "helperfixture.h"

#include "automation/connection.h"
#include "automation/olewindow.h"

using HelperIdentity = RegisteredHelpers;

TEST_F(HelperIdentity, answersExactlyItsSevenInterfaces)
{
    const ComPtr<IDispatch> helper = createHelper();
    ASSERT_TRUE(helper);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(helper.as(IID_IUnknown, &identity), S_OK);

    for (const IID &iid : {IID_IUnknown, kQuilletIid, IID_IDispatch, IID_IObjectWithSite, IID_IConnectionPointContainer,
                           IID_IProvideClassInfo2, IID_IProvideClassInfo}) {
        SCOPED_TRACE(tavrelo::automation::guidToString(iid).toStdString());
        ComPtr<IUnknown> answer;
        ASSERT_EQ(helper.as(iid, &answer), S_OK);
        ASSERT_TRUE(answer);
        // Every interface leads back to the one identity.
        ComPtr<IUnknown> back;
        ASSERT_EQ(answer.as(IID_IUnknown, &back), S_OK);
        EXPECT_EQ(back.get(), identity.get());
    }
    // IQuillet and IDispatch are one table.
    ComPtr<IUnknown> quillet;
    ASSERT_EQ(helper.as(kQuilletIid, &quillet), S_OK);
    EXPECT_EQ(static_cast<void *>(quillet.get()), static_cast<void *>(helper.get()));

    for (const IID &iid : {IID_IClassFactory, IID_IConnectionPoint, IID_IOleWindow, IID_IOleInPlaceSite,
                           IID_IHTMLDocument2, kEventsIid, QUuid::createUuid()}) {
        SCOPED_TRACE(tavrelo::automation::guidToString(iid).toStdString());
        void *answer = &identity; // anything but null
        EXPECT_EQ(helper->QueryInterface(iid, &answer), E_NOINTERFACE);
        EXPECT_EQ(answer, nullptr);
    }
    EXPECT_EQ(helper->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
}

TEST_F(HelperIdentity, libraryStaysInUseWhileObjectsLocksOrTheClassObjectAreHeld)
{
    const auto canUnloadNow = helpersEntry<DllCanUnloadNowFunction>("DllCanUnloadNow");
    ASSERT_TRUE(canUnloadNow);
    EXPECT_EQ(canUnloadNow(), S_OK);

    ComPtr<IDispatch> first = createHelper();
    ComPtr<IDispatch> second = createHelper();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    first.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    second.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kQuilletClsid, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    IClassFactory *raw = factory.detach();
    raw->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE); // locked
    EXPECT_EQ(raw->LockServer(false), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);

    // An object created for an interface it lacks is gone at once.
    ASSERT_EQ(CoGetClassObject(kQuilletClsid, IID_IClassFactory, factory.putVoid()), S_OK);
    void *object = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOleWindow, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(HelperIdentity, classObjectServesOnlyQuilletAndRefusesAggregation)
{
    const auto getClassObject = helpersEntry<DllGetClassObjectFunction>("DllGetClassObject");
    ASSERT_TRUE(getClassObject);
    void *object = &object;
    EXPECT_EQ(getClassObject(QUuid::createUuid(), IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    const ComPtr<IDispatch> outer = createHelper();
    object = &object;
    EXPECT_EQ(CoCreateInstance(kQuilletClsid, outer.get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);

    const auto emptyFunction = helpersEntry<int (*)()>("QuilletHelpersEmptyFunction");
    ASSERT_TRUE(emptyFunction);
    EXPECT_EQ(emptyFunction(), 0);
}
