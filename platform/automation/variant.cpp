#include "dispatch.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <iterator>
#include <limits>

Variant::Variant(ComPtr<IDispatch> v) : m_value(std::move(v)) {}

VARTYPE Variant::vt() const
{
    static constexpr VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_I4, VT_UI4, VT_R8, VT_BOOL, VT_BSTR, VT_DISPATCH};
    static_assert(std::size(kTypes) == std::variant_size_v<decltype(m_value)>);
    return kTypes[m_value.index()];
}

namespace {

template <typename T>
T held(const auto &value)
{
    const T *p = std::get_if<T>(&value);
    return p ? *p : T{};
}

}

std::int32_t Variant::toInt() const { return held<std::int32_t>(m_value); }
std::uint32_t Variant::toUInt() const { return held<std::uint32_t>(m_value); }
double Variant::toDouble() const { return held<double>(m_value); }
bool Variant::toBool() const { return held<bool>(m_value); }
QString Variant::toString() const { return held<QString>(m_value); }
ComPtr<IDispatch> Variant::toDispatch() const { return held<ComPtr<IDispatch>>(m_value); }

bool Variant::operator==(const Variant &other) const { return m_value == other.m_value; }

namespace {

// A number read as automation reads it, or the reason it cannot be.
struct Number {
    double value = 0;
    HRESULT hr = S_OK;
};

// Decimal text with optional fraction and exponent, blanks around it allowed.
Number parseNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$)"));
    const QString trimmed = text.trimmed();
    if (!pattern.match(trimmed).hasMatch())
        return {0, DISP_E_TYPEMISMATCH};
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    return ok ? Number{value, S_OK} : Number{0, DISP_E_OVERFLOW};
}

// The numeric reading of a source value; strings are parsed, true is -1.
Number numberOf(const Variant &source)
{
    switch (source.vt()) {
    case VT_EMPTY: return {0, S_OK};
    case VT_I4: return {double(source.toInt()), S_OK};
    case VT_UI4: return {double(source.toUInt()), S_OK};
    case VT_R8: return {source.toDouble(), S_OK};
    case VT_BOOL: return {source.toBool() ? -1.0 : 0.0, S_OK};
    case VT_BSTR: return parseNumber(source.toString());
    default: return {0, DISP_E_TYPEMISMATCH};
    }
}

// Rounds half to even, as automation converts fractions to integers (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value)
{
    if (std::fabs(value - std::trunc(value)) == 0.5)
        return 2.0 * std::round(value / 2.0);
    return std::round(value);
}

template <typename Int>
HRESULT toInteger(const Variant &source, Variant *dest)
{
    const Number number = numberOf(source);
    if (FAILED(number.hr))
        return number.hr;
    const double rounded = roundHalfEven(number.value);
    // Written so that NaN fails too.
    if (!(rounded >= double(std::numeric_limits<Int>::min()) && rounded <= double(std::numeric_limits<Int>::max())))
        return DISP_E_OVERFLOW;
    *dest = Variant(static_cast<Int>(rounded));
    return S_OK;
}

HRESULT toDouble(const Variant &source, Variant *dest)
{
    const Number number = numberOf(source);
    if (SUCCEEDED(number.hr))
        *dest = Variant(number.value);
    return number.hr;
}

HRESULT toBool(const Variant &source, Variant *dest)
{
    if (source.vt() == VT_BSTR) {
        const QString text = source.toString().trimmed();
        for (const bool value : {true, false}) {
            if (text.compare(value ? u"true" : u"false", Qt::CaseInsensitive) == 0) {
                *dest = Variant(value);
                return S_OK;
            }
        }
    }
    const Number number = numberOf(source);
    if (SUCCEEDED(number.hr))
        *dest = Variant(number.value != 0);
    return number.hr;
}

HRESULT toString(const Variant &source, Variant *dest)
{
    switch (source.vt()) {
    case VT_EMPTY: *dest = Variant(QStringLiteral("")); return S_OK;
    case VT_I4: *dest = Variant(QString::number(source.toInt())); return S_OK;
    case VT_UI4: *dest = Variant(QString::number(source.toUInt())); return S_OK;
    case VT_R8: *dest = Variant(QString::number(source.toDouble(), 'g', QLocale::FloatingPointShortest)); return S_OK;
    case VT_BOOL: *dest = Variant(source.toBool() ? QStringLiteral("True") : QStringLiteral("False")); return S_OK;
    case VT_BSTR: *dest = source; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

// Only objects are objects; an empty or null value stands for no object.
HRESULT toDispatch(const Variant &source, Variant *dest)
{
    switch (source.vt()) {
    case VT_DISPATCH: *dest = source; return S_OK;
    case VT_EMPTY:
    case VT_NULL: *dest = Variant(ComPtr<IDispatch>()); return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT convert(const Variant &source, VARTYPE type, Variant *dest)
{
    if (type == VT_VARIANT || type == source.vt()) {
        *dest = source;
        return S_OK;
    }
    if (type == VT_DISPATCH)
        return toDispatch(source, dest);
    if (source.vt() == VT_NULL)
        return DISP_E_TYPEMISMATCH;
    switch (type) {
    case VT_I4:
    case VT_INT: return toInteger<std::int32_t>(source, dest);
    case VT_UI4:
    case VT_UINT: return toInteger<std::uint32_t>(source, dest);
    case VT_R8: return toDouble(source, dest);
    case VT_BOOL: return toBool(source, dest);
    case VT_BSTR: return toString(source, dest);
    default: return DISP_E_TYPEMISMATCH;
    }
}

}

HRESULT VariantChangeType(Variant *dest, const Variant &source, VARTYPE type)
{
    if (!dest)
        return E_POINTER;
    Variant converted; // `dest` may be `source`
    const HRESULT hr = convert(source, type, &converted);
    if (SUCCEEDED(hr))
        *dest = std::move(converted);
    return hr;
}
