#pragma once

// Late-bound calls: variants, argument lists and the IDispatch interface.

#include "unknown.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

using DISPID = std::int32_t;
using LCID = std::uint32_t;
using VARTYPE = std::uint16_t;

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x400;

// Invocation kinds; a script call of `obj.Name(...)` passes METHOD | PROPERTYGET.
inline constexpr std::uint16_t DISPATCH_METHOD = 0x1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 0x2;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUT = 0x4;

// The variant types the layer knows, with their automation numbers.
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12; // in type descriptions: any type, passed unchanged
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_VOID = 24;
inline constexpr VARTYPE VT_HRESULT = 25;

class IDispatch;

// A value of one of the types above. VT_INT and VT_UINT are stored as VT_I4 and VT_UI4; a
// VT_BSTR may be a null string (QString().isNull()), which script sees as an empty string.
class Variant final {
public:
    struct Null {
        bool operator==(const Null &) const = default;
    };

    Variant() = default; // VT_EMPTY
    Variant(Null) : m_value(Null{}) {}
    Variant(std::int32_t v) : m_value(v) {}
    Variant(std::uint32_t v) : m_value(v) {}
    Variant(double v) : m_value(v) {}
    Variant(bool v) : m_value(v) {}
    Variant(const QString &v) : m_value(v) {}
    Variant(const char *) = delete; // say QStringLiteral
    Variant(ComPtr<IDispatch> v);

    VARTYPE vt() const;
    bool isEmpty() const { return vt() == VT_EMPTY; }

    // Accessors for a variant known to hold the type; anything else gives the type's zero value.
    std::int32_t toInt() const;
    std::uint32_t toUInt() const;
    double toDouble() const;
    bool toBool() const;
    QString toString() const;
    ComPtr<IDispatch> toDispatch() const;

    bool operator==(const Variant &other) const;

private:
    std::variant<std::monostate, Null, std::int32_t, std::uint32_t, double, bool, QString, ComPtr<IDispatch>> m_value;
};

// VariantChangeType: converts `source` to `type` into *dest, with the automation rules:
// numbers from strings by their decimal text (surrounding blanks allowed), doubles to integers
// rounded half to even, out-of-range numbers DISP_E_OVERFLOW, true as -1, strings from numbers in
// their shortest decimal form and from booleans as "True"/"False", VT_EMPTY as 0 or "" or false,
// strings "true" and "false" (any case) as booleans, VT_DISPATCH only from objects and from VT_EMPTY
// and VT_NULL (a null object), VT_NULL to anything else but VT_NULL and VT_VARIANT is
// DISP_E_TYPEMISMATCH, and so is anything that has no such reading. VT_VARIANT copies the value
// unchanged.
HRESULT VariantChangeType(Variant *dest, const Variant &source, VARTYPE type);

// Arguments of one call, in the order the caller wrote them (not reversed); for a property put
// the new value is the last one. Named arguments are not supported.
struct DispParams {
    std::vector<Variant> args;
};

// What a failed call has to say beyond its code.
struct ExcepInfo {
    HRESULT scode = S_OK;
    QString source;
    QString description;
};

namespace tavrelo::automation {
class TypeInfo;
}

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(std::uint32_t *count) = 0;
    virtual HRESULT GetTypeInfo(std::uint32_t index, LCID lcid,
                                std::shared_ptr<const tavrelo::automation::TypeInfo> *typeInfo) = 0;
    // One name at a time in practice; names that cannot be resolved get DISPID_UNKNOWN and the
    // call returns DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(const IID &iid, const QStringList &names, LCID lcid, DISPID *ids) = 0;
    virtual HRESULT Invoke(DISPID member, const IID &iid, LCID lcid, std::uint16_t flags, DispParams &params,
                           Variant *result, ExcepInfo *excepInfo, std::uint32_t *argErr) = 0;

protected:
    ~IDispatch() = default;
};
