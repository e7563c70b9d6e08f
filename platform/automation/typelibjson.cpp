// Reading a type library from its JSON form (docs/automation.md, "Type library format").

#include "typeinfo.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <limits>

namespace tavrelo::automation {

namespace {

// Thrown inside the reader only; fromJson turns it into TYPE_E_INVDATAREAD.
struct Malformed {
    QString reason;
};

[[noreturn]] void fail(const QString &reason) { throw Malformed{reason}; }

QString quoted(const QString &text) { return u'"' + text + u'"'; }

QString stringOf(const QJsonObject &object, const QString &key, const QString &where, bool required = true)
{
    const QJsonValue value = object.value(key);
    if (value.isString())
        return value.toString();
    if (value.isUndefined() && !required)
        return {};
    fail(where + QStringLiteral(": \"") + key + QStringLiteral("\" must be a string"));
}

bool flagOf(const QJsonObject &object, const QString &key, const QString &where)
{
    const QJsonValue value = object.value(key);
    if (!value.isUndefined() && !value.isBool())
        fail(where + QStringLiteral(": \"") + key + QStringLiteral("\" must be true or false"));
    return value.toBool();
}

QJsonArray arrayOf(const QJsonObject &object, const QString &key, const QString &where)
{
    const QJsonValue value = object.value(key);
    if (!value.isUndefined() && !value.isArray())
        fail(where + QStringLiteral(": \"") + key + QStringLiteral("\" must be an array"));
    return value.toArray();
}

QJsonObject objectAt(const QJsonArray &array, qsizetype index, const QString &what)
{
    if (!array.at(index).isObject())
        fail(what + u' ' + QString::number(index + 1) + QStringLiteral(" is not an object"));
    return array.at(index).toObject();
}

// A whole number within [low, high].
qint64 integerOf(const QJsonObject &object, const QString &key, const QString &where, qint64 low, qint64 high)
{
    const QJsonValue value = object.value(key);
    const double number = value.toDouble(0.5);
    if (!value.isDouble() || !(number >= double(low) && number <= double(high)) || number != std::trunc(number))
        fail(where + QStringLiteral(": \"") + key + QStringLiteral("\" must be a whole number from ") +
             QString::number(low) + QStringLiteral(" to ") + QString::number(high));
    return qint64(number);
}

GUID guidOf(const QJsonObject &object, const QString &key, const QString &where)
{
    GUID guid;
    const QString text = stringOf(object, key, where);
    if (!guidFromString(text, &guid))
        fail(where + QStringLiteral(": ") + quoted(text) + QStringLiteral(" is no valid identifier"));
    return guid;
}

// Type names as the library writes them, with the automation type each stands for.
class TypeNames final {
public:
    TypeNames()
        : m_types{{QStringLiteral("BSTR"), VT_BSTR},          {QStringLiteral("long"), VT_I4},
                  {QStringLiteral("int"), VT_INT},            {QStringLiteral("UINT"), VT_UINT},
                  {QStringLiteral("VARIANT"), VT_VARIANT},    {QStringLiteral("IDispatch*"), VT_DISPATCH},
                  {QStringLiteral("VARIANT_BOOL"), VT_BOOL},  {QStringLiteral("double"), VT_R8}}
    {
    }

    VARTYPE resolve(const QString &name, const QString &where) const
    {
        const auto found = m_types.constFind(name);
        if (found == m_types.cend())
            fail(where + QStringLiteral(": unknown type ") + quoted(name));
        return *found;
    }

    void addAlias(const QJsonObject &alias, const QString &where)
    {
        const QString name = stringOf(alias, QStringLiteral("name"), where);
        if (name.isEmpty() || m_types.contains(name))
            fail(where + QStringLiteral(": the alias ") + quoted(name) + QStringLiteral(" is empty or already a type"));
        m_types.insert(name, resolve(stringOf(alias, QStringLiteral("type"), where), where));
    }

private:
    QHash<QString, VARTYPE> m_types;
};

// JSON numbers as script passes them: whole numbers as long, others as double.
Variant numberVariant(double number)
{
    const bool whole = number >= std::numeric_limits<std::int32_t>::min() &&
                       number <= std::numeric_limits<std::int32_t>::max() && number == std::trunc(number);
    return whole ? Variant(std::int32_t(number)) : Variant(number);
}

ParamDesc readParam(const QJsonObject &object, const TypeNames &types, const QString &where)
{
    ParamDesc param;
    param.name = stringOf(object, QStringLiteral("name"), where, false);
    param.typeName = stringOf(object, QStringLiteral("type"), where);
    param.vt = types.resolve(param.typeName, where);
    param.retval = flagOf(object, QStringLiteral("retval"), where);
    param.optional = flagOf(object, QStringLiteral("optional"), where);
    const QJsonValue defaultValue = object.value(QStringLiteral("default"));
    if (!defaultValue.isUndefined()) {
        param.optional = true; // a default makes a parameter optional
        Variant given;
        if (defaultValue.isString())
            given = Variant(defaultValue.toString());
        else if (defaultValue.isBool())
            given = Variant(defaultValue.toBool());
        else if (defaultValue.isDouble())
            given = numberVariant(defaultValue.toDouble());
        else if (defaultValue.isNull())
            given = Variant(Variant::Null{});
        if (defaultValue.isArray() || defaultValue.isObject() ||
            FAILED(VariantChangeType(&param.defaultValue, given, param.vt)))
            fail(where + QStringLiteral(": the default does not fit the type ") + param.typeName);
    }
    if (param.retval && param.optional)
        fail(where + QStringLiteral(": a retval parameter cannot be optional"));
    return param;
}

std::uint16_t invokeKindOf(const QString &text, const QString &where)
{
    if (text == QLatin1StringView("method"))
        return DISPATCH_METHOD;
    if (text == QLatin1StringView("propget"))
        return DISPATCH_PROPERTYGET;
    if (text == QLatin1StringView("propput"))
        return DISPATCH_PROPERTYPUT;
    fail(where + QStringLiteral(": \"invoke\" must be \"method\", \"propget\" or \"propput\""));
}

FuncDesc readFunc(const QJsonObject &object, int index, const TypeNames &types, const QString &typeName)
{
    FuncDesc func;
    func.name = stringOf(object, QStringLiteral("name"), typeName);
    const QString where = typeName + u'.' + func.name;
    if (func.name.isEmpty())
        fail(typeName + QStringLiteral(": member ") + QString::number(index + 1) + QStringLiteral(" has no name"));
    func.memid = DISPID(integerOf(object, QStringLiteral("dispid"), where, std::numeric_limits<DISPID>::min(),
                                  std::numeric_limits<DISPID>::max()));
    func.invokeKind = invokeKindOf(stringOf(object, QStringLiteral("invoke"), where), where);
    func.helpString = stringOf(object, QStringLiteral("helpString"), where, false);
    func.vtableIndex = index;

    const QJsonArray params = arrayOf(object, QStringLiteral("params"), where);
    bool optionalSeen = false;
    for (qsizetype i = 0; i < params.size(); ++i) {
        const QString paramWhere = where + QStringLiteral(", parameter ") + QString::number(i + 1);
        const ParamDesc param = readParam(objectAt(params, i, paramWhere), types, paramWhere);
        if (param.retval && i != params.size() - 1)
            fail(paramWhere + QStringLiteral(": the retval parameter must be the last"));
        const bool putValue = func.invokeKind == DISPATCH_PROPERTYPUT && i == params.size() - 1;
        if (!param.retval && !param.optional && optionalSeen && !putValue)
            fail(paramWhere + QStringLiteral(": a required parameter follows an optional one"));
        optionalSeen = optionalSeen || param.optional;
        func.params.append(param);
    }
    if (func.invokeKind == DISPATCH_PROPERTYPUT && (func.inputCount() == 0 || func.hasRetval()))
        fail(where + QStringLiteral(": a property put takes the new value as its last parameter and has no retval"));
    if (func.invokeKind == DISPATCH_PROPERTYGET && !func.hasRetval())
        fail(where + QStringLiteral(": a property get needs a retval parameter"));
    return func;
}

// What one entry of "types" says, before it becomes a TypeInfo.
struct TypeDraft {
    TypeKind kind = TypeKind::Dispatch;
    QString name;
    GUID guid;
    QString helpString;
    QList<FuncDesc> funcs;
    QList<ImplementedType> implemented;
};

QList<FuncDesc> readMembers(const QJsonArray &members, const TypeNames &types, const QString &typeName)
{
    QList<FuncDesc> funcs;
    QHash<QString, DISPID> idOfName; // lower-case name
    QHash<DISPID, QString> nameOfId;
    QSet<std::pair<DISPID, std::uint16_t>> seen;
    for (qsizetype i = 0; i < members.size(); ++i) {
        const FuncDesc func = readFunc(objectAt(members, i, typeName + QStringLiteral(": member")), int(i), types,
                                       typeName);
        const QString where = typeName + u'.' + func.name;
        if (seen.contains({func.memid, func.invokeKind}))
            fail(where + QStringLiteral(": a second member of dispid ") + QString::number(func.memid) +
                 QStringLiteral(" and the same kind"));
        seen.insert({func.memid, func.invokeKind});
        const QString key = func.name.toLower();
        if (idOfName.value(key, func.memid) != func.memid || nameOfId.value(func.memid, key) != key)
            fail(where + QStringLiteral(": one name must have one dispid and one dispid one name"));
        idOfName.insert(key, func.memid);
        nameOfId.insert(func.memid, key);
        funcs.append(func);
    }
    return funcs;
}

QList<ImplementedType> readImplemented(const QJsonArray &entries, const QString &where)
{
    QList<ImplementedType> implemented;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject entry = objectAt(entries, i, where + QStringLiteral(": implemented type"));
        implemented.append({stringOf(entry, QStringLiteral("name"), where), flagOf(entry, QStringLiteral("default"), where),
                            flagOf(entry, QStringLiteral("source"), where)});
    }
    return implemented;
}

TypeDraft readType(const QJsonObject &object, const TypeNames &types, qsizetype index)
{
    TypeDraft draft;
    draft.name = stringOf(object, QStringLiteral("name"), QStringLiteral("type ") + QString::number(index + 1));
    if (draft.name.isEmpty())
        fail(QStringLiteral("type ") + QString::number(index + 1) + QStringLiteral(" has no name"));
    draft.guid = guidOf(object, QStringLiteral("guid"), draft.name);
    draft.helpString = stringOf(object, QStringLiteral("helpString"), draft.name, false);
    const QString kind = stringOf(object, QStringLiteral("kind"), draft.name);
    if (kind == QLatin1StringView("coclass")) {
        draft.kind = TypeKind::CoClass;
        draft.implemented = readImplemented(arrayOf(object, QStringLiteral("implements"), draft.name), draft.name);
    } else if (kind == QLatin1StringView("dual") || kind == QLatin1StringView("dispinterface")) {
        draft.kind = kind == QLatin1StringView("dual") ? TypeKind::Dual : TypeKind::Dispatch;
        draft.funcs = readMembers(arrayOf(object, QStringLiteral("members"), draft.name), types, draft.name);
    } else {
        fail(draft.name + QStringLiteral(": \"kind\" must be \"dual\", \"dispinterface\" or \"coclass\""));
    }
    return draft;
}

// The names and identities of the types are unique, and classes implement interfaces of the library.
void checkTypes(const QList<TypeDraft> &drafts)
{
    QHash<QString, TypeKind> kindOfName;
    QSet<GUID> guids;
    for (const TypeDraft &draft : drafts) {
        if (kindOfName.contains(draft.name.toLower()) || guids.contains(draft.guid))
            fail(draft.name + QStringLiteral(": a second type of this name or identifier"));
        kindOfName.insert(draft.name.toLower(), draft.kind);
        guids.insert(draft.guid);
    }
    for (const TypeDraft &draft : drafts) {
        for (const ImplementedType &type : draft.implemented) {
            if (kindOfName.value(type.name.toLower(), TypeKind::CoClass) == TypeKind::CoClass)
                fail(draft.name + QStringLiteral(": implements ") + quoted(type.name) +
                     QStringLiteral(", which is no interface of the library"));
        }
    }
}

}

HRESULT TypeLib::fromJson(const QByteArray &json, std::shared_ptr<const TypeLib> *lib, QString *error)
{
    if (!lib)
        return E_POINTER;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    try {
        if (parseError.error != QJsonParseError::NoError)
            fail(QStringLiteral("not JSON at offset ") + QString::number(parseError.offset) + QStringLiteral(": ") +
                 parseError.errorString());
        if (!document.isObject())
            fail(QStringLiteral("the library is not a JSON object"));
        const QJsonObject root = document.object();
        auto result = std::make_shared<TypeLib>();
        const QString where = QStringLiteral("library");
        result->m_name = stringOf(root, QStringLiteral("name"), where);
        result->m_helpString = stringOf(root, QStringLiteral("helpString"), where, false);
        result->m_libid = guidOf(root, QStringLiteral("libid"), where);
        if (root.contains(QStringLiteral("lcid")))
            result->m_lcid = LCID(integerOf(root, QStringLiteral("lcid"), where, 0, std::numeric_limits<LCID>::max()));

        static const QRegularExpression versionPattern(QStringLiteral(R"(^(\d{1,5})\.(\d{1,5})$)"));
        const QString versionText = stringOf(root, QStringLiteral("version"), where, false);
        const QRegularExpressionMatch version =
            versionPattern.match(versionText.isNull() ? QStringLiteral("1.0") : versionText);
        const uint major = version.captured(1).toUInt();
        const uint minor = version.captured(2).toUInt();
        if (!version.hasMatch() || major > 0xFFFF || minor > 0xFFFF)
            fail(QStringLiteral("library: \"version\" must be major.minor, each from 0 to 65535"));
        result->m_major = std::uint16_t(major);
        result->m_minor = std::uint16_t(minor);

        TypeNames types;
        const QJsonArray aliases = arrayOf(root, QStringLiteral("aliases"), where);
        for (qsizetype i = 0; i < aliases.size(); ++i)
            types.addAlias(objectAt(aliases, i, QStringLiteral("alias")), QStringLiteral("alias ") + QString::number(i + 1));

        QList<TypeDraft> drafts;
        const QJsonArray entries = arrayOf(root, QStringLiteral("types"), where);
        for (qsizetype i = 0; i < entries.size(); ++i)
            drafts.append(readType(objectAt(entries, i, QStringLiteral("type")), types, i));
        checkTypes(drafts);

        for (TypeDraft &draft : drafts) {
            auto info = std::make_shared<TypeInfo>();
            info->m_kind = draft.kind;
            info->m_name = std::move(draft.name);
            info->m_guid = draft.guid;
            info->m_helpString = std::move(draft.helpString);
            info->m_funcs = std::move(draft.funcs);
            info->m_implemented = std::move(draft.implemented);
            info->m_lib = result.get();
            result->m_types.append(std::move(info));
        }
        *lib = std::move(result);
        return S_OK;
    } catch (const Malformed &malformed) {
        if (error)
            *error = malformed.reason;
        return TYPE_E_INVDATAREAD;
    }
}

}
