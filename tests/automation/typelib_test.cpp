// Type libraries read from JSON, name lookup and late-bound calls through a vtable.

#include "automation/typeinfo.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using tavrelo::automation::FuncDesc;
using tavrelo::automation::MethodThunk;
using tavrelo::automation::TypeInfo;
using tavrelo::automation::TypeKind;
using tavrelo::automation::TypeLib;

namespace {

QString str(const char *text) { return QString::fromUtf8(text); }

const char kMeterLib[] = R"({
  "name": "MeterLib", "helpString": "Meters for tests", "libid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0001}",
  "version": "2.3", "lcid": 9,
  "aliases": [{"name": "UINT_PTR", "type": "UINT"}, {"name": "HANDLE_T", "type": "UINT_PTR"}],
  "types": [
    {"kind": "dual", "name": "IMeter", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0002}", "helpString": "A meter",
     "members": [
      {"dispid": 1, "name": "Reading", "invoke": "propget", "helpString": "the reading in a unit",
       "params": [{"name": "unit", "type": "BSTR"}, {"name": "value", "type": "double", "retval": true}]},
      {"dispid": 1, "name": "Reading", "invoke": "propput",
       "params": [{"name": "unit", "type": "BSTR"}, {"name": "", "type": "double"}]},
      {"dispid": 2, "name": "Mark", "invoke": "method",
       "params": [{"name": "label", "type": "BSTR"}, {"name": "bEnabled", "type": "long", "optional": true, "default": 1},
                  {"name": "flags", "type": "long", "default": 0}]},
      {"dispid": 3, "name": "Handle", "invoke": "propget", "params": [{"name": "h", "type": "HANDLE_T", "retval": true}]},
      {"dispid": 4, "name": "Fail", "invoke": "method", "params": [{"name": "hr", "type": "long"}]},
      {"dispid": 5, "name": "Anything", "invoke": "method",
       "params": [{"name": "v", "type": "VARIANT", "optional": true}, {"name": "r", "type": "VARIANT", "retval": true}]},
      {"dispid": 6, "name": "Flag", "invoke": "propput", "params": [{"name": "", "type": "VARIANT_BOOL"}]},
      {"dispid": 7, "name": "Attach", "invoke": "method",
       "params": [{"name": "o", "type": "IDispatch*"}, {"name": "n", "type": "int"}]},
      {"dispid": 8, "name": "Tag", "invoke": "propput",
       "params": [{"name": "name", "type": "BSTR"}, {"name": "slot", "type": "long", "default": 9},
                  {"name": "", "type": "long"}]}]},
    {"kind": "dispinterface", "name": "_DMeterEvents", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0003}",
     "members": [{"dispid": 1, "name": "onread", "invoke": "method", "params": []}]},
    {"kind": "coclass", "name": "Meter", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0004}", "helpString": "Meter Class",
     "implements": [{"name": "IMeter", "default": true}, {"name": "_DMeterEvents", "default": true, "source": true}]}
  ]
})";

const GUID kMeterInterface = QUuid::fromString(QLatin1StringView("{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0002}"));

std::shared_ptr<const TypeLib> meterLib()
{
    std::shared_ptr<const TypeLib> lib;
    QString error;
    EXPECT_EQ(TypeLib::fromJson(kMeterLib, &lib, &error), S_OK) << error.toStdString();
    return lib;
}

// A library around one dual interface with these members.
QByteArray withMembers(const char *members)
{
    return QByteArrayLiteral(R"({"name": "L", "libid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0010}", "version": "1.0",
        "types": [{"kind": "dual", "name": "IThing", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0011}", "members": [)") +
           members + "]}]}";
}

}

TEST(TypeLibJson, readsLibraryInterfacesAndClasses)
{
    const auto lib = meterLib();
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->name(), str("MeterLib"));
    EXPECT_EQ(lib->helpString(), str("Meters for tests"));
    EXPECT_EQ(lib->majorVersion(), 2);
    EXPECT_EQ(lib->minorVersion(), 3);
    EXPECT_EQ(lib->lcid(), 9u);
    ASSERT_EQ(lib->typeInfos().size(), 3);

    const auto meter = lib->typeInfoOfGuid(kMeterInterface);
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->kind(), TypeKind::Dual);
    EXPECT_EQ(meter->containingLib(), lib.get());
    EXPECT_EQ(lib->typeInfoOfName(str("imeter")), meter);
    EXPECT_EQ(lib->typeInfoOfName(str("_DMeterEvents"))->kind(), TypeKind::Dispatch);
    EXPECT_FALSE(lib->typeInfoOfName(str("IOther")));
    EXPECT_FALSE(lib->typeInfoOfGuid(QUuid::createUuid()));

    const QList<FuncDesc> &funcs = meter->funcs();
    ASSERT_EQ(funcs.size(), 9);
    for (int i = 0; i < funcs.size(); ++i)
        EXPECT_EQ(funcs[i].vtableIndex, i) << "entries in the order written";
    EXPECT_EQ(funcs[1].invokeKind, DISPATCH_PROPERTYPUT);
    EXPECT_EQ(funcs[0].helpString, str("the reading in a unit"));

    const FuncDesc &mark = funcs[2];
    EXPECT_EQ(mark.inputCount(), 3);
    EXPECT_EQ(mark.requiredCount(), 1);
    EXPECT_FALSE(mark.hasRetval());
    EXPECT_EQ(mark.params[1].defaultValue, Variant(std::int32_t(1)));
    EXPECT_TRUE(mark.params[2].optional) << "a default makes a parameter optional";
    EXPECT_EQ(mark.params[2].defaultValue, Variant(std::int32_t(0)));

    const FuncDesc &handle = funcs[3];
    EXPECT_TRUE(handle.hasRetval());
    EXPECT_EQ(handle.params[0].typeName, str("HANDLE_T"));
    EXPECT_EQ(handle.params[0].vt, VT_UINT) << "an alias of an alias";
    EXPECT_EQ(funcs[7].params[0].vt, VT_DISPATCH);
    EXPECT_EQ(funcs[7].params[1].vt, VT_INT);
    EXPECT_EQ(funcs[6].params[0].vt, VT_BOOL);

    const auto meterClass = lib->typeInfoOfName(str("Meter"));
    EXPECT_EQ(meterClass->kind(), TypeKind::CoClass);
    ASSERT_EQ(meterClass->implemented().size(), 2);
    EXPECT_EQ(meterClass->implemented()[1].name, str("_DMeterEvents"));
    EXPECT_TRUE(meterClass->implemented()[1].isDefault);
    EXPECT_TRUE(meterClass->implemented()[1].isSource);
    EXPECT_FALSE(meterClass->implemented()[0].isSource);
}

TEST(TypeLibJson, rejectsMalformedLibrariesWithAReason)
{
    const struct {
        QByteArray json;
        const char *reason;
    } cases[] = {
        {"{\"name\": ", "not JSON"},
        {"[]", "not a JSON object"},
        {R"({"name": "L", "types": []})", "libid"},
        {R"({"name": "L", "libid": "{123}", "types": []})", "no valid identifier"},
        {R"({"name": "L", "libid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0010}", "version": "1", "types": []})", "version"},
        {R"({"name": "L", "libid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0010}", "aliases": [{"name": "X", "type": "short"}],
             "types": []})", "unknown type \"short\""},
        {R"({"name": "L", "libid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0010}", "types": [
             {"kind": "interface", "name": "I", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0011}"}]})", "kind"},
        {R"({"name": "L", "libid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0010}", "types": [
             {"kind": "coclass", "name": "C", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0011}",
              "implements": [{"name": "IMissing"}]}]})", "no interface"},
        {R"({"name": "L", "libid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0010}", "types": [
             {"kind": "dispinterface", "name": "I", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0011}", "members": []},
             {"kind": "dispinterface", "name": "i", "guid": "{5E2C44A0-1B7D-4C55-9A3E-7F11C0DE0012}", "members": []}]})",
         "a second type"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "method", "params": [{"name": "x", "type": "short"}]})"),
         "unknown type \"short\""},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "method",
                        "params": [{"name": "r", "type": "long", "retval": true}, {"name": "x", "type": "long"}]})"),
         "must be the last"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "method", "params": []},
                       {"dispid": 1, "name": "A", "invoke": "method", "params": []})"),
         "a second member"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "method", "params": []},
                       {"dispid": 2, "name": "a", "invoke": "method", "params": []})"),
         "one name must have one dispid"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "propput", "params": []})"), "property put"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "propget", "params": []})"), "needs a retval"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "method", "params": [
                        {"name": "x", "type": "long", "optional": true}, {"name": "y", "type": "long"}]})"),
         "a required parameter follows an optional one"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "method", "params": [
                        {"name": "x", "type": "long", "default": "many"}]})"),
         "default does not fit"},
        {withMembers(R"({"dispid": 1.5, "name": "A", "invoke": "method", "params": []})"), "whole number"},
        {withMembers(R"({"dispid": 1, "name": "A", "invoke": "call", "params": []})"), "\"invoke\" must be"},
    };
    for (const auto &malformed : cases) {
        std::shared_ptr<const TypeLib> lib;
        QString error;
        EXPECT_EQ(TypeLib::fromJson(malformed.json, &lib, &error), TYPE_E_INVDATAREAD) << malformed.json.constData();
        EXPECT_TRUE(error.contains(QLatin1StringView(malformed.reason)))
            << "expected \"" << malformed.reason << "\" in: " << error.toStdString();
        EXPECT_FALSE(lib);
    }
    // The same member shapes are fine where they belong.
    std::shared_ptr<const TypeLib> lib;
    EXPECT_EQ(TypeLib::fromJson(withMembers(R"({"dispid": 1, "name": "A", "invoke": "propput", "params": [
                                   {"name": "k", "type": "long", "optional": true}, {"name": "", "type": "long"}]})"),
                                &lib),
              S_OK) << "the new value of a put follows optional keys";
}

namespace {

// Stands in for an object: records which entry was called with what.
struct Recorder {
    std::shared_ptr<const TypeInfo> info;
    int entry = -1;
    std::vector<Variant> args;
};

template <int N>
HRESULT record(void *self, Variant *args)
{
    auto *recorder = static_cast<Recorder *>(self);
    const FuncDesc &func = recorder->info->funcs()[N];
    recorder->entry = N;
    recorder->args.assign(args, args + func.params.size());
    if (func.hasRetval())
        args[func.params.size() - 1] = Variant(str("result of ") + func.name);
    return S_OK;
}

HRESULT fail(void *self, Variant *args)
{
    static_cast<Recorder *>(self)->entry = 4;
    return args[0].toInt();
}

constexpr std::array<MethodThunk, 9> kMeterVtable = {record<0>, record<1>, record<2>, record<3>, fail,
                                                     record<5>, record<6>, record<7>, record<8>};

class MeterCalls : public testing::Test {
protected:
    // A call as script makes it; the arguments are kept to see they are left alone.
    HRESULT call(DISPID id, std::uint16_t flags, std::vector<Variant> args)
    {
        params.args = std::move(args);
        const std::vector<Variant> given = params.args;
        result = Variant(str("untouched"));
        argErr = 99;
        const HRESULT hr = recorder.info->Invoke(&recorder, kMeterVtable, id, flags, params, &result, &exception, &argErr);
        EXPECT_EQ(params.args, given) << "the caller's arguments stay as they were";
        return hr;
    }

    std::shared_ptr<const TypeLib> lib = meterLib();
    Recorder recorder{lib->typeInfoOfGuid(kMeterInterface), -1, {}};
    DispParams params;
    Variant result;
    ExcepInfo exception;
    std::uint32_t argErr = 0;
    static constexpr std::uint16_t kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
};

}

TEST_F(MeterCalls, namesResolveWithoutRegardToCase)
{
    DISPID ids[2] = {0, 0};
    for (const char *name : {"Mark", "mark", "MARK"}) {
        EXPECT_EQ(recorder.info->GetIDsOfNames({str(name)}, ids), S_OK) << name;
        EXPECT_EQ(ids[0], 2) << name;
    }
    EXPECT_EQ(recorder.info->GetIDsOfNames({str("Nothing")}, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);

    // Further names are the member's parameters, by position.
    EXPECT_EQ(recorder.info->GetIDsOfNames({str("mark"), str("FLAGS")}, ids), S_OK);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(recorder.info->GetIDsOfNames({str("mark"), str("colour")}, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(MeterCalls, membersAreFoundByDispidAndKind)
{
    const TypeInfo &info = *recorder.info;
    EXPECT_EQ(info.findFunc(1, DISPATCH_PROPERTYGET)->invokeKind, DISPATCH_PROPERTYGET);
    EXPECT_EQ(info.findFunc(1, kCall)->invokeKind, DISPATCH_PROPERTYGET);
    EXPECT_EQ(info.findFunc(1, DISPATCH_PROPERTYPUT)->invokeKind, DISPATCH_PROPERTYPUT);
    EXPECT_EQ(info.findFunc(2, DISPATCH_METHOD)->name, str("Mark"));
    EXPECT_FALSE(info.findFunc(2, DISPATCH_PROPERTYPUT)) << "a method is no put";
    EXPECT_FALSE(info.findFunc(6, kCall)) << "a put-only property cannot be read";
    EXPECT_FALSE(info.findFunc(42, kCall));

    EXPECT_EQ(call(42, kCall, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(6, kCall, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(recorder.entry, -1);
}

TEST_F(MeterCalls, omittedOptionalArgumentsTakeTheirDefaults)
{
    const Variant label(str("here"));
    ASSERT_EQ(call(2, kCall, {label}), S_OK);
    EXPECT_EQ(recorder.entry, 2);
    EXPECT_EQ(recorder.args, (std::vector<Variant>{label, Variant(std::int32_t(1)), Variant(std::int32_t(0))}));
    EXPECT_EQ(result, Variant()) << "no retval: an empty result";

    ASSERT_EQ(call(2, kCall, {label, Variant(str("5"))}), S_OK);
    EXPECT_EQ(recorder.args, (std::vector<Variant>{label, Variant(std::int32_t(5)), Variant(std::int32_t(0))}));

    // An empty argument counts as omitted.
    ASSERT_EQ(call(2, kCall, {label, Variant(), Variant(7.0)}), S_OK);
    EXPECT_EQ(recorder.args, (std::vector<Variant>{label, Variant(std::int32_t(1)), Variant(std::int32_t(7))}));

    // An optional VARIANT without a default is empty; a given one arrives unchanged.
    ASSERT_EQ(call(5, kCall, {}), S_OK);
    EXPECT_EQ(recorder.args[0], Variant());
    EXPECT_EQ(result, Variant(str("result of Anything")));
    ASSERT_EQ(call(5, kCall, {Variant(Variant::Null{})}), S_OK);
    EXPECT_EQ(recorder.args[0], Variant(Variant::Null{}));
}

TEST_F(MeterCalls, argumentCountsAreChecked)
{
    EXPECT_EQ(call(2, kCall, {}), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(call(2, kCall, {Variant(str("a")), Variant(std::int32_t(1)), Variant(std::int32_t(2)), Variant(true)}),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(3, kCall, {Variant(std::int32_t(1))}), DISP_E_BADPARAMCOUNT) << "a retval takes no argument";
    EXPECT_EQ(call(1, DISPATCH_PROPERTYPUT, {Variant(2.0)}), DISP_E_PARAMNOTOPTIONAL) << "the unit is missing";
    EXPECT_EQ(call(1, DISPATCH_PROPERTYPUT, {}), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(recorder.entry, -1) << "nothing was called";
}

TEST_F(MeterCalls, argumentsAreConvertedToTheirTypes)
{
    ASSERT_EQ(call(1, kCall, {Variant(std::int32_t(12))}), S_OK);
    EXPECT_EQ(recorder.entry, 0);
    EXPECT_EQ(recorder.args[0], Variant(str("12")));
    EXPECT_EQ(result, Variant(str("result of Reading")));

    // A put: the new value is the last argument and goes to the last parameter.
    ASSERT_EQ(call(1, DISPATCH_PROPERTYPUT, {Variant(str("cm")), Variant(str(" 2.5 "))}), S_OK);
    EXPECT_EQ(recorder.entry, 1);
    EXPECT_EQ(recorder.args, (std::vector<Variant>{Variant(str("cm")), Variant(2.5)}));

    // Optional keys of a put take their defaults, and the value still goes last.
    ASSERT_EQ(call(8, DISPATCH_PROPERTYPUT, {Variant(str("n")), Variant(str("5"))}), S_OK);
    EXPECT_EQ(recorder.args, (std::vector<Variant>{Variant(str("n")), Variant(std::int32_t(9)), Variant(std::int32_t(5))}));

    ASSERT_EQ(call(6, DISPATCH_PROPERTYPUT, {Variant(str("True"))}), S_OK);
    EXPECT_EQ(recorder.args[0], Variant(true));

    ASSERT_EQ(call(7, kCall, {Variant(Variant::Null{}), Variant(str("7"))}), S_OK);
    EXPECT_EQ(recorder.args[0].vt(), VT_DISPATCH);
    EXPECT_FALSE(recorder.args[0].toDispatch());
    EXPECT_EQ(recorder.args[1], Variant(std::int32_t(7))) << "int arrives as VT_I4";

    ASSERT_EQ(call(3, DISPATCH_PROPERTYGET, {}), S_OK);
    EXPECT_EQ(result, Variant(str("result of Handle")));
}

TEST_F(MeterCalls, aFailedConversionNamesItsArgument)
{
    EXPECT_EQ(call(2, kCall, {Variant(str("a")), Variant(str("many"))}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
    EXPECT_EQ(call(2, kCall, {Variant(str("a")), Variant(std::int32_t(1)), Variant(1e12)}), DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 2u);
    EXPECT_EQ(call(1, DISPATCH_PROPERTYPUT, {Variant(str("cm")), Variant(Variant::Null{})}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u) << "the put's value is the last argument";
    EXPECT_EQ(call(8, DISPATCH_PROPERTYPUT, {Variant(str("n")), Variant(str("five"))}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u) << "counted among the arguments, not the parameters";
    EXPECT_EQ(call(7, kCall, {Variant(std::int32_t(3)), Variant(std::int32_t(7))}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(recorder.entry, -1);
    EXPECT_EQ(result, Variant(str("untouched")));
}

TEST_F(MeterCalls, theMembersResultIsReturnedUnchanged)
{
    EXPECT_EQ(call(4, kCall, {Variant(E_ACCESSDENIED)}), E_ACCESSDENIED);
    EXPECT_EQ(recorder.entry, 4);
    EXPECT_EQ(exception.scode, E_ACCESSDENIED);
    EXPECT_EQ(result, Variant(str("untouched"))) << "no result from a failed call";

    const HRESULT custom = static_cast<HRESULT>(0x80041234u);
    EXPECT_EQ(call(4, kCall, {Variant(custom)}), custom);
    EXPECT_EQ(exception.scode, custom);

    exception = ExcepInfo();
    EXPECT_EQ(call(4, kCall, {Variant(S_FALSE)}), S_FALSE) << "success codes pass too";
    EXPECT_EQ(exception.scode, S_OK);
}

TEST_F(MeterCalls, aMissingVtableEntryIsNotImplemented)
{
    const std::array<MethodThunk, 3> shortVtable = {record<0>, record<1>, nullptr};
    EXPECT_EQ(recorder.info->Invoke(&recorder, shortVtable, 2, kCall, params, &result, &exception, &argErr), E_NOTIMPL);
    params.args = {Variant(str("cm"))};
    EXPECT_EQ(recorder.info->Invoke(&recorder, shortVtable, 4, kCall, params, &result, &exception, &argErr), E_NOTIMPL);
    EXPECT_EQ(recorder.entry, -1);
}
