// Variants and their conversions, result texts and identifier spellings.

#include "automation/dispatch.h"

#include "registry/winreg.h"
#include "support/stackdispatch.h"

#include <QSet>

#include <gtest/gtest.h>

#include <limits>

using tavrelo::automation::describeHResult;
using tavrelo::automation::guidFromString;
using tavrelo::automation::guidToString;

namespace {

// Converts and checks the result code; the converted value when it succeeded.
Variant converted(const Variant &source, VARTYPE type, HRESULT expected = S_OK)
{
    Variant result;
    EXPECT_EQ(VariantChangeType(&result, source, type), expected)
        << "type " << type << " from type " << source.vt() << " " << describeHResult(expected).toStdString();
    return result;
}

QString str(const char *text) { return QString::fromUtf8(text); }

// A do-nothing object, to see object references pass through conversions.
class Dummy final : public StackDispatch<IDispatch> {
public:
    HRESULT Invoke(DISPID, const IID &, LCID, std::uint16_t, DispParams &, Variant *, ExcepInfo *,
                   std::uint32_t *) override
    {
        return E_NOTIMPL;
    }
};

}

TEST(Variant, typesAndAccessors)
{
    EXPECT_EQ(Variant().vt(), VT_EMPTY);
    EXPECT_EQ(Variant(Variant::Null{}).vt(), VT_NULL);
    EXPECT_EQ(Variant(std::int32_t(-4)).vt(), VT_I4);
    EXPECT_EQ(Variant(std::uint32_t(4)).vt(), VT_UI4);
    EXPECT_EQ(Variant(0.5).vt(), VT_R8);
    EXPECT_EQ(Variant(true).vt(), VT_BOOL);
    EXPECT_EQ(Variant(QString()).vt(), VT_BSTR);
    EXPECT_EQ(Variant(ComPtr<IDispatch>()).vt(), VT_DISPATCH);

    // An accessor of another type gives that type's zero value.
    const Variant text(str("12"));
    EXPECT_EQ(text.toInt(), 0);
    EXPECT_EQ(text.toString(), str("12"));
    EXPECT_EQ(Variant(std::int32_t(7)).toString(), QString());
    EXPECT_FALSE(Variant(std::int32_t(1)).toBool());
    EXPECT_EQ(Variant(std::uint32_t(7)).toInt(), 0);
    EXPECT_EQ(Variant(std::uint32_t(7)).toUInt(), 7u);

    EXPECT_EQ(Variant(std::int32_t(1)), Variant(std::int32_t(1)));
    EXPECT_NE(Variant(std::int32_t(1)), Variant(std::uint32_t(1))) << "same number, another type";
    EXPECT_NE(Variant(std::int32_t(1)), Variant(1.0));
    EXPECT_NE(Variant(), Variant(Variant::Null{}));
}

TEST(Variant, holdsAReferenceOfItsObject)
{
    Dummy object;
    {
        const Variant value{ComPtr<IDispatch>(&object)};
        const Variant copy = value;
        EXPECT_EQ(object.references(), 3u);
        EXPECT_EQ(copy.toDispatch().get(), &object);
        EXPECT_EQ(copy, value);
        Variant dispatch;
        EXPECT_EQ(VariantChangeType(&dispatch, value, VT_DISPATCH), S_OK);
        EXPECT_EQ(dispatch.toDispatch().get(), &object);
    }
    EXPECT_EQ(object.references(), 1u);
}

TEST(VariantChangeType, doublesToIntegersRoundHalfToEven)
{
    EXPECT_EQ(converted(Variant(2.5), VT_I4), Variant(std::int32_t(2)));
    EXPECT_EQ(converted(Variant(3.5), VT_I4), Variant(std::int32_t(4)));
    EXPECT_EQ(converted(Variant(-2.5), VT_I4), Variant(std::int32_t(-2)));
    EXPECT_EQ(converted(Variant(-3.5), VT_I4), Variant(std::int32_t(-4)));
    EXPECT_EQ(converted(Variant(2.4999), VT_I4), Variant(std::int32_t(2)));
    EXPECT_EQ(converted(Variant(2.5001), VT_I4), Variant(std::int32_t(3)));
    EXPECT_EQ(converted(Variant(0.5), VT_UI4), Variant(std::uint32_t(0)));
    EXPECT_EQ(converted(Variant(1.5), VT_UI4), Variant(std::uint32_t(2)));
    EXPECT_EQ(converted(Variant(str(" 6.5 ")), VT_I4), Variant(std::int32_t(6)));
}

TEST(VariantChangeType, outOfRangeIsOverflow)
{
    EXPECT_EQ(converted(Variant(2147483647.0), VT_I4), Variant(std::int32_t(2147483647)));
    converted(Variant(2147483647.5), VT_I4, DISP_E_OVERFLOW); // rounds to 2^31
    EXPECT_EQ(converted(Variant(-2147483648.5), VT_I4), Variant(std::numeric_limits<std::int32_t>::min()));
    converted(Variant(-2147483649.0), VT_I4, DISP_E_OVERFLOW);
    converted(Variant(std::uint32_t(2147483648u)), VT_I4, DISP_E_OVERFLOW);
    converted(Variant(std::int32_t(-1)), VT_UI4, DISP_E_OVERFLOW);
    converted(Variant(true), VT_UI4, DISP_E_OVERFLOW); // true is -1
    converted(Variant(std::numeric_limits<double>::quiet_NaN()), VT_I4, DISP_E_OVERFLOW);
    converted(Variant(std::numeric_limits<double>::infinity()), VT_UI4, DISP_E_OVERFLOW);
    converted(Variant(str("4294967296")), VT_UI4, DISP_E_OVERFLOW);
    EXPECT_EQ(converted(Variant(str("4294967295")), VT_UI4), Variant(std::uint32_t(4294967295u)));
    converted(Variant(str("1e400")), VT_R8, DISP_E_OVERFLOW);
}

TEST(VariantChangeType, intAndUintAreStoredAsI4AndUi4)
{
    EXPECT_EQ(converted(Variant(str("-9")), VT_INT).vt(), VT_I4);
    EXPECT_EQ(converted(Variant(str("-9")), VT_INT).toInt(), -9);
    EXPECT_EQ(converted(Variant(9.0), VT_UINT), Variant(std::uint32_t(9)));
    converted(Variant(-9.0), VT_UINT, DISP_E_OVERFLOW);
}

TEST(VariantChangeType, stringsReadAsDecimalNumbers)
{
    EXPECT_EQ(converted(Variant(str("  42\t")), VT_I4), Variant(std::int32_t(42)));
    EXPECT_EQ(converted(Variant(str("+7")), VT_I4), Variant(std::int32_t(7)));
    EXPECT_EQ(converted(Variant(str("-1.25e2")), VT_R8), Variant(-125.0));
    EXPECT_EQ(converted(Variant(str(".5")), VT_R8), Variant(0.5));
    for (const char *text : {"", "  ", "0x10", "12abc", "1,000", "abc", "nan", "inf", "1 2", "--1"})
        converted(Variant(str(text)), VT_I4, DISP_E_TYPEMISMATCH);
    converted(Variant(QString()), VT_R8, DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, booleans)
{
    EXPECT_EQ(converted(Variant(true), VT_I4), Variant(std::int32_t(-1)));
    EXPECT_EQ(converted(Variant(false), VT_R8), Variant(0.0));
    EXPECT_EQ(converted(Variant(true), VT_BSTR), Variant(str("True")));
    EXPECT_EQ(converted(Variant(false), VT_BSTR), Variant(str("False")));
    EXPECT_EQ(converted(Variant(std::int32_t(2)), VT_BOOL), Variant(true));
    EXPECT_EQ(converted(Variant(0.0), VT_BOOL), Variant(false));
    EXPECT_EQ(converted(Variant(0.25), VT_BOOL), Variant(true));
    EXPECT_EQ(converted(Variant(str("TRUE")), VT_BOOL), Variant(true));
    EXPECT_EQ(converted(Variant(str(" false ")), VT_BOOL), Variant(false));
    EXPECT_EQ(converted(Variant(str("-3")), VT_BOOL), Variant(true));
    EXPECT_EQ(converted(Variant(str("0")), VT_BOOL), Variant(false));
    converted(Variant(str("yes")), VT_BOOL, DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, numbersToStrings)
{
    EXPECT_EQ(converted(Variant(std::int32_t(-12)), VT_BSTR), Variant(str("-12")));
    EXPECT_EQ(converted(Variant(std::uint32_t(4000000000u)), VT_BSTR), Variant(str("4000000000")));
    EXPECT_EQ(converted(Variant(2.5), VT_BSTR), Variant(str("2.5")));
    EXPECT_EQ(converted(Variant(100.0), VT_BSTR), Variant(str("100")));
    EXPECT_EQ(converted(Variant(0.1 + 0.2), VT_BSTR), Variant(str("0.30000000000000004")));
    const QString third = converted(Variant(1.0 / 3), VT_BSTR).toString();
    EXPECT_EQ(third.toDouble(), 1.0 / 3) << "round trip";
}

TEST(VariantChangeType, emptyAndNull)
{
    EXPECT_EQ(converted(Variant(), VT_I4), Variant(std::int32_t(0)));
    EXPECT_EQ(converted(Variant(), VT_UI4), Variant(std::uint32_t(0)));
    EXPECT_EQ(converted(Variant(), VT_R8), Variant(0.0));
    EXPECT_EQ(converted(Variant(), VT_BOOL), Variant(false));
    const Variant emptyText = converted(Variant(), VT_BSTR);
    EXPECT_EQ(emptyText.vt(), VT_BSTR);
    EXPECT_TRUE(emptyText.toString().isEmpty());
    for (const VARTYPE type : {VT_I4, VT_UI4, VT_R8, VT_BOOL, VT_BSTR})
        converted(Variant(Variant::Null{}), type, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(converted(Variant(Variant::Null{}), VT_NULL), Variant(Variant::Null{}));
    EXPECT_EQ(converted(Variant(Variant::Null{}), VT_VARIANT), Variant(Variant::Null{}));
}

TEST(VariantChangeType, objectsOnlyFromObjects)
{
    for (const Variant &none : {Variant(), Variant(Variant::Null{})}) {
        const Variant object = converted(none, VT_DISPATCH);
        EXPECT_EQ(object.vt(), VT_DISPATCH);
        EXPECT_FALSE(object.toDispatch());
    }
    converted(Variant(std::int32_t(0)), VT_DISPATCH, DISP_E_TYPEMISMATCH);
    converted(Variant(str("")), VT_DISPATCH, DISP_E_TYPEMISMATCH);
    for (const VARTYPE type : {VT_I4, VT_R8, VT_BSTR, VT_BOOL})
        converted(Variant(ComPtr<IDispatch>()), type, DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, variantKeepsTheValueAndFailuresKeepTheDestination)
{
    EXPECT_EQ(converted(Variant(str("5")), VT_VARIANT), Variant(str("5")));
    Variant dest(std::int32_t(99));
    EXPECT_EQ(VariantChangeType(&dest, Variant(str("x")), VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dest, Variant(std::int32_t(99)));
    // The destination may be the source.
    EXPECT_EQ(VariantChangeType(&dest, dest, VT_BSTR), S_OK);
    EXPECT_EQ(dest, Variant(str("99")));
    EXPECT_EQ(VariantChangeType(nullptr, dest, VT_I4), E_POINTER);
}

TEST(DescribeHResult, namesTheCodeAndItsNumber)
{
    EXPECT_EQ(describeHResult(E_NOTIMPL), str("Not implemented (0x80004001)"));
    EXPECT_EQ(describeHResult(E_UNEXPECTED), str("Catastrophic failure (0x8000FFFF)"));
    EXPECT_EQ(describeHResult(S_OK), str("Success (0x00000000)"));
    EXPECT_EQ(describeHResult(static_cast<HRESULT>(0x80041234u)), str("Error (0x80041234)"));
    EXPECT_EQ(describeHResult(HRESULT_FROM_WIN32(tavrelo::registry::ERROR_CANTWRITE)),
              str("The registry hive could not be written (0x800703F5)"));

    // Every code the layer defines has a text of its own.
    const HRESULT codes[] = {S_FALSE, E_NOINTERFACE, E_POINTER, E_FAIL, E_OUTOFMEMORY, E_INVALIDARG, E_ACCESSDENIED,
                             DISP_E_MEMBERNOTFOUND, DISP_E_TYPEMISMATCH, DISP_E_UNKNOWNNAME, DISP_E_EXCEPTION,
                             DISP_E_OVERFLOW, DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL, TYPE_E_ELEMENTNOTFOUND,
                             TYPE_E_LIBNOTREGISTERED, TYPE_E_INVDATAREAD, TYPE_E_CANTLOADLIBRARY, CLASS_E_NOAGGREGATION,
                             CLASS_E_CLASSNOTAVAILABLE, REGDB_E_CLASSNOTREG, REGDB_E_WRITEREGDB, CO_E_CLASSSTRING,
                             CO_E_DLLNOTFOUND, CO_E_ERRORINDLL, CONNECT_E_NOCONNECTION, CONNECT_E_CANNOTCONNECT};
    QSet<QString> texts;
    for (const HRESULT hr : codes) {
        const QString text = describeHResult(hr);
        EXPECT_FALSE(text.startsWith(str("Error ("))) << text.toStdString();
        const QString number = QStringLiteral("%1").arg(static_cast<std::uint32_t>(hr), 8, 16, QLatin1Char('0'));
        EXPECT_TRUE(text.endsWith(str(" (0x") + number.toUpper() + u')'))
            << text.toStdString();
        texts.insert(text.section(u'(', 0, 0));
    }
    EXPECT_EQ(texts.size(), qsizetype(std::size(codes)));
}

TEST(Guid, registrySpelling)
{
    const GUID guid{0xC588106B, 0x4E66, 0x11D4, 0xB7, 0xAB, 0x00, 0xC0, 0xF0, 0x49, 0x03, 0xDC};
    EXPECT_EQ(guidToString(guid), str("{C588106B-4E66-11D4-B7AB-00C0F04903DC}"));
    for (const char *text : {"{C588106B-4E66-11D4-B7AB-00C0F04903DC}", "{c588106b-4e66-11d4-b7ab-00c0f04903dc}",
                             "C588106B-4E66-11D4-B7AB-00C0F04903DC"}) {
        GUID read;
        EXPECT_TRUE(guidFromString(str(text), &read)) << text;
        EXPECT_EQ(read, guid) << text;
    }
    GUID nil{0x1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(guidFromString(str("{00000000-0000-0000-0000-000000000000}"), &nil));
    EXPECT_TRUE(nil.isNull());
    for (const char *text : {"", "{}", "{C588106B-4E66-11D4-B7AB-00C0F04903DC", "C588106B-4E66-11D4-B7AB-00C0F04903DC}",
                             "{C588106B4E6611D4B7AB00C0F04903DC}", "{C588106B-4E66-11D4-B7AB-00C0F04903DG}",
                             "{C588106B-4E66-11D4-B7AB-00C0F04903DC} ", "(C588106B-4E66-11D4-B7AB-00C0F04903DC)"}) {
        GUID unchanged = guid;
        EXPECT_FALSE(guidFromString(str(text), &unchanged)) << text;
        EXPECT_EQ(unchanged, guid) << text;
    }
}
