// The member table as script sees it through the registered type library, and late-bound calls.

#include "helperfixture.h"

#include "automation/connection.h"
#include "automation/typeinfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

using namespace tavrelo::automation;
using namespace tavrelo::registry;

namespace {

std::shared_ptr<const TypeInfo> typeInfoOf(IDispatch *helper)
{
    std::shared_ptr<const TypeInfo> info;
    EXPECT_EQ(helper->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    return info;
}

QStringList paramNames(const FuncDesc &func)
{
    QStringList names;
    for (const ParamDesc &param : func.params)
        names.append(param.name);
    return names;
}

} // namespace

using HelperDispatch = RegisteredHelpers;

TEST_F(HelperDispatch, typeInfoHoldsTheWholeMemberTableInOrder)
{
    const ComPtr<IDispatch> helper = createHelper();
    std::uint32_t count = 0;
    EXPECT_EQ(helper->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    const auto info = typeInfoOf(helper.get());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->guid(), kQuilletIid);
    EXPECT_EQ(info->kind(), TypeKind::Dual);
    EXPECT_EQ(info->helpString(), u"IQuillet Interface");
    const TypeLib *lib = info->containingLib();
    EXPECT_EQ(lib->name(), u"TAVRELOHELPERSLib");
    EXPECT_EQ(lib->helpString(), u"TavreloHelpers 1.0 Type Library");
    EXPECT_EQ(guidToString(lib->libid()), kLibid);
    EXPECT_EQ(lib->majorVersion() * 10 + lib->minorVersion(), 10);
    EXPECT_EQ(lib->lcid(), 0u);

    // The entries' order is the vtable order callers bind to: g(et), p(ut), m(ethod).
    const QStringList expected = QStringLiteral(
        "gRegistryString pRegistryString gRegistryDWORD pRegistryDWORD gPopupMenuHandle pPopupMenuHandle "
        "mPopupMenuCreate mPopupMenuAppendItem mPopupMenuAppendPathItem mPopupMenuAppendSeparator "
        "mPopupMenuEnableItem mPopupMenuCheckItem mPopupMenuTrack mPopupMenuDestroy mRestoreWindowPos "
        "mSaveWindowPos mAbbreviateFileName mLockFile mUnlockFile mDoPostMessage mDoCauseFind "
        "mDoSendChangeNotification gFileChangeFilePath gFileChangeFolderID mShowMailClientsMenu "
        "gMailClientName gMailClientDLLPath mSetupDefaultMailClient mGetTempFilePath mSendFileToMailClient "
        "mShowBrowseDialogBox mDoBroadcastCloseSplash mDoRevokeDragDrop gFileOpenFilePath mGetBaseDirectory "
        "mGetDocumentURL gKeyRegistryString").split(u' ');
    const QList<FuncDesc> &funcs = info->funcs();
    ASSERT_EQ(funcs.size(), 37);
    QStringList actual;
    QSet<DISPID> dispids;
    DISPID previous = 0;
    for (const FuncDesc &func : funcs) {
        const char kind = func.invokeKind == DISPATCH_PROPERTYGET ? 'g' : func.invokeKind == DISPATCH_PROPERTYPUT ? 'p' : 'm';
        actual.append(QLatin1Char(kind) + func.name);
        EXPECT_TRUE(func.memid == previous || func.memid == previous + 1) << func.name.toStdString();
        previous = func.memid;
        dispids.insert(func.memid);
        EXPECT_EQ(func.vtableIndex, actual.size() - 1);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(dispids.size(), 34);

    const FuncDesc &getString = funcs[0];
    EXPECT_EQ(paramNames(getString), QStringList({"p_bstrModule", "p_bstrName", "iWhereFlag", "pVal"}));
    EXPECT_TRUE(getString.params[3].retval);
    EXPECT_EQ(getString.params[3].vt, VT_BSTR);
    EXPECT_EQ(getString.params[2].typeName, u"int");
    EXPECT_EQ(getString.helpString, u"gets string from registry");
    const FuncDesc &putString = funcs[1];
    EXPECT_EQ(paramNames(putString), QStringList({"p_bstrModule", "p_bstrName", "iWhereFlag", ""}));
    EXPECT_FALSE(putString.params[3].retval);
    EXPECT_EQ(putString.params[3].vt, VT_BSTR);
    EXPECT_EQ(putString.helpString, u"puts string to registry");

    const FuncDesc &appendItem = funcs[7];
    EXPECT_EQ(paramNames(appendItem), QStringList({"bstrText", "lIndex", "bEnabled", "bChecked"}));
    EXPECT_EQ(appendItem.requiredCount(), 2);
    EXPECT_EQ(appendItem.params[2].defaultValue, Variant(std::int32_t{1}));
    EXPECT_EQ(appendItem.params[3].defaultValue, Variant(std::int32_t{0}));
    EXPECT_EQ(funcs[13].params[0].defaultValue, Variant(std::int32_t{0})); // PopupMenuDestroy
    EXPECT_EQ(funcs[13].helpString, u"destroy specifyed (or current if no specified) PopupMenu");

    const FuncDesc &postMessage = funcs[19];
    QStringList types;
    for (const ParamDesc &param : postMessage.params)
        types.append(param.typeName);
    EXPECT_EQ(types, QStringList({"UINT", "UINT_PTR", "LONG_PTR", "BSTR"}));
    EXPECT_EQ(postMessage.params[1].vt, postMessage.params[0].vt); // UINT_PTR is a UINT
    EXPECT_EQ(postMessage.params[2].vt, VT_I4);                    // LONG_PTR is a long

    const FuncDesc &documentUrl = funcs[35];
    EXPECT_EQ(documentUrl.memid, 33);
    EXPECT_EQ(paramNames(documentUrl), QStringList({"pDoc", "pvURL"}));
    EXPECT_EQ(documentUrl.params[0].vt, VT_DISPATCH);
    EXPECT_TRUE(documentUrl.params[1].retval);
    EXPECT_EQ(documentUrl.params[1].vt, VT_VARIANT);
    EXPECT_EQ(documentUrl.helpString, u"method GetDocumentURL returns URL of document");
}

TEST_F(HelperDispatch, classInfoNamesTheEventsInterface)
{
    const ComPtr<IDispatch> helper = createHelper();
    ComPtr<IProvideClassInfo2> classInfo;
    ASSERT_EQ(helper.as(IID_IProvideClassInfo2, &classInfo), S_OK);
    GUID events;
    ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_EQ(events, kEventsIid);

    std::shared_ptr<const TypeInfo> coclass;
    ASSERT_EQ(classInfo->GetClassInfo(&coclass), S_OK);
    EXPECT_EQ(coclass->kind(), TypeKind::CoClass);
    EXPECT_EQ(coclass->guid(), kQuilletClsid);
    EXPECT_EQ(coclass->helpString(), u"Quillet Class");
    ASSERT_EQ(coclass->implemented().size(), 2);
    EXPECT_EQ(coclass->implemented()[1].name, u"_DIQuilletEvents");
    EXPECT_TRUE(coclass->implemented()[1].isDefault && coclass->implemented()[1].isSource);

    const auto eventInfo = coclass->containingLib()->typeInfoOfGuid(kEventsIid);
    ASSERT_TRUE(eventInfo);
    EXPECT_EQ(eventInfo->helpString(), u"IQuillet Events Interface");
    QStringList events3;
    for (const FuncDesc &func : eventInfo->funcs())
        events3.append(func.name + u'=' + QString::number(func.memid));
    EXPECT_EQ(events3, QStringList({"onfilechanged=1", "onfileopenrequest=2", "onbusy=3"}));
}

TEST_F(HelperDispatch, membersAreReachedByNameInAnyCase)
{
    const ComPtr<IDispatch> helper = createHelper();
    const std::vector<Variant> where{QStringLiteral("Quillet"), QStringLiteral("LastFile"), std::int32_t{1}};
    std::vector<Variant> put = where;
    put.emplace_back(QStringLiteral("/home/ann/Clips.t-q"));
    ASSERT_EQ(call(helper.get(), QStringLiteral("registrystring"), DISPATCH_PROPERTYPUT, put), S_OK);
    // The put reached the settings member: the value is in the user's hive.
    EXPECT_EQ(registryString(HKEY_CURRENT_USER, QStringLiteral("SOFTWARE\\Tavrelo\\Quillet\\Quillet"), "LastFile"),
              u"/home/ann/Clips.t-q");
    Variant value;
    ASSERT_EQ(call(helper.get(), QStringLiteral("REGISTRYSTRING"), DISPATCH_METHOD | DISPATCH_PROPERTYGET, where, &value),
              S_OK);
    EXPECT_EQ(value, Variant(QStringLiteral("/home/ann/Clips.t-q")));

    // Nothing stored: script sees an empty string and 0.
    const std::vector<Variant> absent{QStringLiteral("Quillet"), QStringLiteral("Absent"), std::int32_t{2}};
    ASSERT_EQ(call(helper.get(), QStringLiteral("RegistryString"), DISPATCH_PROPERTYGET, absent, &value), S_OK);
    EXPECT_EQ(value.vt(), VT_BSTR);
    EXPECT_TRUE(value.toString().isEmpty());
    ASSERT_EQ(call(helper.get(), QStringLiteral("registrydword"), DISPATCH_PROPERTYGET, absent, &value), S_OK);
    EXPECT_EQ(value, Variant(std::int32_t{0}));

    DISPID ids[3] = {};
    EXPECT_EQ(helper->GetIDsOfNames(IID_NULL, {QStringLiteral("keyregistrystring"), QStringLiteral("NoSuchMember"),
                                               QStringLiteral("onbusy")},
                                    LOCALE_USER_DEFAULT, ids),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 34);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN); // events are no members

    // A member's failure comes back through the whole call path; an empty script string stays an
    // empty string, not a null one.
    EXPECT_EQ(call(helper.get(), QStringLiteral("sendfiletomailclient"), DISPATCH_METHOD,
                   {QStringLiteral("/tmp/a.t-q"), QStringLiteral(""), QStringLiteral("/lib/mapi.so")}, &value),
              E_INVALIDARG);
    ASSERT_EQ(call(helper.get(), QStringLiteral("MailClientName"), DISPATCH_PROPERTYGET, {}, &value), S_OK);
    EXPECT_EQ(value, Variant(QStringLiteral("")));
}

TEST_F(HelperDispatch, withoutItsRegisteredTypeLibraryEveryLateBoundCallFails)
{
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, ("TypeLib\\" + kLibid).toUtf8().constData()), ERROR_SUCCESS);
    const ComPtr<IDispatch> helper = createHelper();
    ASSERT_TRUE(helper); // the class itself is still registered

    std::shared_ptr<const TypeInfo> info;
    EXPECT_EQ(helper->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), TYPE_E_LIBNOTREGISTERED);
    DISPID id = 0;
    EXPECT_EQ(helper->GetIDsOfNames(IID_NULL, {QStringLiteral("RegistryString")}, LOCALE_USER_DEFAULT, &id),
              TYPE_E_LIBNOTREGISTERED);
    DispParams params{{QStringLiteral("Quillet"), QStringLiteral("LastFile"), std::int32_t{1}}};
    Variant result;
    EXPECT_EQ(helper->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, params, &result, nullptr, nullptr),
              TYPE_E_LIBNOTREGISTERED);
    ComPtr<IProvideClassInfo> classInfo;
    ASSERT_EQ(helper.as(IID_IProvideClassInfo, &classInfo), S_OK);
    EXPECT_EQ(classInfo->GetClassInfo(&info), TYPE_E_LIBNOTREGISTERED);

    // Registered again, the same object loads it on its next call.
    ASSERT_EQ(runRegsvr({kHelpersLibrary}).exitCode, 0);
    EXPECT_EQ(call(helper.get(), QStringLiteral("RegistryString"), DISPATCH_PROPERTYGET, params.args, &result), S_OK);
}

TEST_F(HelperDispatch, aTypeLibraryThatDoesNotFitTheMembersIsRefused)
{
    // A library whose PopupMenuAppendItem lost a parameter: calling through it would hand the
    // member arguments that are not there.
    QByteArray json;
    ASSERT_EQ(loadModuleResource(kHelpersLibrary, QStringLiteral("TYPELIB"), QStringLiteral("1"), &json), S_OK);
    QJsonObject root = QJsonDocument::fromJson(json).object();
    QJsonArray types = root[u"types"].toArray();
    QJsonObject quillet = types[0].toObject();
    QJsonArray members = quillet[u"members"].toArray();
    QJsonObject appendItem = members[7].toObject();
    QJsonArray params = appendItem[u"params"].toArray();
    params.removeLast();
    appendItem[u"params"] = params;
    members[7] = appendItem;
    quillet[u"members"] = members;
    types[0] = quillet;
    root[u"types"] = types;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("changed.tlb.json"));
    ScratchRegistry::writeFile(path, QJsonDocument(root).toJson());
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ("TypeLib\\" + kLibid + "\\1.0\\0\\linux64").toUtf8().constData(),
                           KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const QByteArray pathBytes = path.toUtf8();
    RegSetValueEx(key, nullptr, REG_SZ, reinterpret_cast<const BYTE *>(pathBytes.constData()),
                  static_cast<DWORD>(pathBytes.size() + 1));
    RegCloseKey(key);

    const ComPtr<IDispatch> helper = createHelper();
    DISPID id = 0;
    EXPECT_EQ(helper->GetIDsOfNames(IID_NULL, {QStringLiteral("PopupMenuAppendItem")}, LOCALE_USER_DEFAULT, &id),
              TYPE_E_INVDATAREAD);
    DispParams args{{QStringLiteral("Open"), std::int32_t{1}, std::int32_t{1}}};
    EXPECT_EQ(helper->Invoke(5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, args, nullptr, nullptr, nullptr),
              TYPE_E_INVDATAREAD);
}
