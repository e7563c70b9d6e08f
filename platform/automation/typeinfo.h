#pragma once

// Type information: what a type library says about its interfaces and classes, the name lookup
// and argument handling of late-bound calls, and where registered type libraries are found.
//
// A type library is stored as JSON (see docs/automation.md for the format): in a module as its
// resource of type "TYPELIB" named "1", or in a file of its own.

#include "dispatch.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <span>

namespace tavrelo::automation {

class TypeLib;

struct ParamDesc {
    QString name;     // may be empty (the new value of a property put)
    QString typeName; // as the library writes it: "BSTR", "long", "int", "UINT", an alias, ...
    VARTYPE vt = VT_EMPTY; // the automation type the argument is converted to
    bool retval = false;
    bool optional = false;
    Variant defaultValue; // for optional parameters
};

struct FuncDesc {
    DISPID memid = DISPID_UNKNOWN;
    QString name;
    std::uint16_t invokeKind = DISPATCH_METHOD; // exactly one of DISPATCH_METHOD, _PROPERTYGET, _PROPERTYPUT
    QList<ParamDesc> params; // in order; a retval parameter is last
    QString helpString;
    int vtableIndex = -1; // position among the interface's own entries, counting from 0

    int inputCount() const;    // parameters that are not retval
    int requiredCount() const; // inputs that are not optional
    bool hasRetval() const;
};

enum class TypeKind { Dispatch, Dual, CoClass };

struct ImplementedType {
    QString name;
    bool isDefault = false;
    bool isSource = false;
};

// One entry of a member's vtable: calls the member on `self` with `args`, one per parameter of
// its FuncDesc in order, inputs already converted to their types; a member with a retval
// parameter stores its result in the last slot.
using MethodThunk = HRESULT (*)(void *self, Variant *args);

class TypeInfo final {
public:
    TypeKind kind() const { return m_kind; }
    const QString &name() const { return m_name; }
    const GUID &guid() const { return m_guid; }
    const QString &helpString() const { return m_helpString; }
    const QList<FuncDesc> &funcs() const { return m_funcs; }
    const QList<ImplementedType> &implemented() const { return m_implemented; } // for a CoClass
    const TypeLib *containingLib() const { return m_lib; }

    // Resolves member names without regard to letter case; unresolved names get DISPID_UNKNOWN
    // and the result is DISP_E_UNKNOWNNAME.
    HRESULT GetIDsOfNames(const QStringList &names, DISPID *ids) const;

    // The member with this DISPID that answers `flags` (a put only for DISPATCH_PROPERTYPUT; a
    // method or a get for DISPATCH_METHOD and DISPATCH_PROPERTYGET), or null.
    const FuncDesc *findFunc(DISPID memid, std::uint16_t flags) const;

    // Invokes a member through `vtable` (the interface's entries in order): checks the argument
    // count (DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL), gives omitted or VT_EMPTY optional
    // arguments their defaults, converts each argument to its declared type (on failure the
    // conversion's result, with *argErr set to the argument's position), calls the entry and
    // returns its HRESULT; on success *result (when given) receives the retval. A failed
    // member result is returned as it is, with excepInfo->scode set to it.
    HRESULT Invoke(void *self, std::span<const MethodThunk> vtable, DISPID memid, std::uint16_t flags,
                   DispParams &params, Variant *result, ExcepInfo *excepInfo, std::uint32_t *argErr) const;

private:
    friend class TypeLib;
    TypeKind m_kind = TypeKind::Dispatch;
    QString m_name;
    GUID m_guid;
    QString m_helpString;
    QList<FuncDesc> m_funcs;
    QList<ImplementedType> m_implemented;
    const TypeLib *m_lib = nullptr;
};

class TypeLib final : public std::enable_shared_from_this<TypeLib> {
public:
    const QString &name() const { return m_name; }
    const QString &helpString() const { return m_helpString; }
    const GUID &libid() const { return m_libid; }
    std::uint16_t majorVersion() const { return m_major; }
    std::uint16_t minorVersion() const { return m_minor; }
    LCID lcid() const { return m_lcid; }
    const QList<std::shared_ptr<const TypeInfo>> &typeInfos() const { return m_types; }

    // The type info of an interface or class; null when the library has none of that identity.
    // A TypeInfo lives as long as its library: hold the library while using one.
    std::shared_ptr<const TypeInfo> typeInfoOfGuid(const GUID &guid) const;
    std::shared_ptr<const TypeInfo> typeInfoOfName(const QString &name) const;

    // Parses the JSON form; TYPE_E_INVDATAREAD (and a reason in *error) for anything malformed.
    static HRESULT fromJson(const QByteArray &json, std::shared_ptr<const TypeLib> *lib, QString *error = nullptr);

private:
    QString m_name;
    QString m_helpString;
    GUID m_libid;
    std::uint16_t m_major = 1;
    std::uint16_t m_minor = 0;
    LCID m_lcid = 0;
    QList<std::shared_ptr<const TypeInfo>> m_types;
};

}

enum SYSKIND { SYS_WIN32 = 1, SYS_LINUX64 = 100 };

// Loads a type library from a module file (its TYPELIB resource "1") or from a JSON file.
// TYPE_E_CANTLOADLIBRARY when the file cannot be loaded or holds no type library.
HRESULT LoadTypeLib(const QString &path, std::shared_ptr<const tavrelo::automation::TypeLib> *lib);

// Loads the registered type library: HKCR\TypeLib\{libid}\<major>.<minor>\<lcid>\linux64 (the
// language-neutral "0" when the locale has no entry) names its file. TYPE_E_LIBNOTREGISTERED
// when nothing is registered, TYPE_E_CANTLOADLIBRARY when the file cannot be loaded.
HRESULT LoadRegTypeLib(const GUID &libid, std::uint16_t major, std::uint16_t minor, LCID lcid,
                       std::shared_ptr<const tavrelo::automation::TypeLib> *lib);

// Registers a type library loaded from `fullPath`: HKCR\TypeLib\{libid}\<maj>.<min> (default:
// its help string; FLAGS "0"; HELPDIR `helpDir`; <lcid>\linux64: `fullPath`) and, for each dual
// interface, HKCR\Interface\{iid} (default: its name; TypeLib: the libid with Version).
HRESULT RegisterTypeLib(const tavrelo::automation::TypeLib &lib, const QString &fullPath, const QString &helpDir);

// Removes what RegisterTypeLib wrote for that version and locale; the library's key goes too
// when no other version remains. S_OK also when nothing was registered.
HRESULT UnRegisterTypeLib(const GUID &libid, std::uint16_t major, std::uint16_t minor, LCID lcid, SYSKIND syskind);
