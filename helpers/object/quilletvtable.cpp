// IQuillet's vtable: each entry is made from its member function's signature, so the argument
// handling of a late-bound call cannot drift from the member it calls.

#include "quilletvtable.h"
#include "quillet.h"

#include <array>
#include <tuple>
#include <utility>

namespace tavrelo::helpers {

using tavrelo::automation::FuncDesc;
using tavrelo::automation::MethodThunk;
using tavrelo::automation::ParamDesc;
using tavrelo::automation::TypeInfo;

namespace {

// One parameter of a member: taken from its argument (already converted to the declared type)
// and, for a result, written back to it. `accepts` says which declared parameters it serves.
template <typename T>
struct Slot;

template <>
struct Slot<const QString &> {
    explicit Slot(const Variant &arg) : value(arg.toString()) {}
    const QString &get() const { return value; }
    void store(Variant &) const {}
    static bool accepts(const ParamDesc &p) { return !p.retval && p.vt == VT_BSTR; }
    QString value;
};

template <>
struct Slot<std::int32_t> {
    explicit Slot(const Variant &arg) : value(arg.toInt()) {}
    std::int32_t get() const { return value; }
    void store(Variant &) const {}
    static bool accepts(const ParamDesc &p) { return !p.retval && (p.vt == VT_I4 || p.vt == VT_INT); }
    std::int32_t value;
};

template <>
struct Slot<std::uint32_t> {
    explicit Slot(const Variant &arg) : value(arg.toUInt()) {}
    std::uint32_t get() const { return value; }
    void store(Variant &) const {}
    static bool accepts(const ParamDesc &p) { return !p.retval && (p.vt == VT_UI4 || p.vt == VT_UINT); }
    std::uint32_t value;
};

template <>
struct Slot<IDispatch *> {
    explicit Slot(const Variant &arg) : value(arg.toDispatch()) {}
    IDispatch *get() const { return value.get(); }
    void store(Variant &) const {}
    static bool accepts(const ParamDesc &p) { return !p.retval && p.vt == VT_DISPATCH; }
    ComPtr<IDispatch> value;
};

// Results start from what the caller's slot holds, so a member that returns nothing leaves the
// value the automation layer initialised.
template <typename Value, VARTYPE Type>
struct ResultSlot {
    explicit ResultSlot(const Variant &arg) : value(read(arg)) {}
    Value *get() { return &value; }
    void store(Variant &arg) const { arg = Variant(value); }
    static bool accepts(const ParamDesc &p) { return p.retval && p.vt == Type; }
    static Value read(const Variant &arg)
    {
        if constexpr (Type == VT_BSTR)
            return arg.toString();
        else if constexpr (Type == VT_I4)
            return arg.toInt();
        else
            return arg;
    }
    Value value;
};

template <>
struct Slot<QString *> : ResultSlot<QString, VT_BSTR> {
    using ResultSlot::ResultSlot;
};
template <>
struct Slot<std::int32_t *> : ResultSlot<std::int32_t, VT_I4> {
    using ResultSlot::ResultSlot;
};
template <>
struct Slot<Variant *> : ResultSlot<Variant, VT_VARIANT> {
    using ResultSlot::ResultSlot;
};

template <typename... P, std::size_t... I>
HRESULT callMember(Quillet *object, HRESULT (Quillet::*member)(P...), [[maybe_unused]] Variant *args,
                   std::index_sequence<I...>)
{
    std::tuple<Slot<P>...> slots{Slot<P>(args[I])...};
    const HRESULT hr = (object->*member)(std::get<I>(slots).get()...);
    if (SUCCEEDED(hr))
        (std::get<I>(slots).store(args[I]), ...);
    return hr;
}

template <typename... P>
HRESULT callMember(Quillet *object, HRESULT (Quillet::*member)(P...), Variant *args)
{
    return callMember(object, member, args, std::index_sequence_for<P...>{});
}

template <typename... P>
bool takesParameters(HRESULT (Quillet::*)(P...), const FuncDesc &func)
{
    if (func.params.size() != static_cast<qsizetype>(sizeof...(P)))
        return false;
    qsizetype i = 0;
    return (Slot<P>::accepts(func.params.at(i++)) && ...);
}

template <auto Member>
HRESULT thunk(void *self, Variant *args)
{
    return callMember(static_cast<Quillet *>(self), Member, args);
}

template <auto Member>
bool entryTakes(const FuncDesc &func)
{
    return takesParameters(Member, func);
}

template <auto... Members>
struct Table {
    static constexpr std::array<MethodThunk, sizeof...(Members)> thunks{&thunk<Members>...};
    static constexpr std::array<bool (*)(const FuncDesc &), sizeof...(Members)> checks{&entryTakes<Members>...};
};

using IQuilletTable = Table<
    &Quillet::get_RegistryString, &Quillet::put_RegistryString, &Quillet::get_RegistryDWORD,
    &Quillet::put_RegistryDWORD, &Quillet::get_PopupMenuHandle, &Quillet::put_PopupMenuHandle,
    &Quillet::PopupMenuCreate, &Quillet::PopupMenuAppendItem, &Quillet::PopupMenuAppendPathItem,
    &Quillet::PopupMenuAppendSeparator, &Quillet::PopupMenuEnableItem, &Quillet::PopupMenuCheckItem,
    &Quillet::PopupMenuTrack, &Quillet::PopupMenuDestroy, &Quillet::RestoreWindowPos, &Quillet::SaveWindowPos,
    &Quillet::AbbreviateFileName, &Quillet::LockFile, &Quillet::UnlockFile, &Quillet::DoPostMessage,
    &Quillet::DoCauseFind, &Quillet::DoSendChangeNotification, &Quillet::get_FileChangeFilePath,
    &Quillet::get_FileChangeFolderID, &Quillet::ShowMailClientsMenu, &Quillet::get_MailClientName,
    &Quillet::get_MailClientDLLPath, &Quillet::SetupDefaultMailClient, &Quillet::GetTempFilePath,
    &Quillet::SendFileToMailClient, &Quillet::ShowBrowseDialogBox, &Quillet::DoBroadcastCloseSplash,
    &Quillet::DoRevokeDragDrop, &Quillet::get_FileOpenFilePath, &Quillet::GetBaseDirectory,
    &Quillet::GetDocumentURL, &Quillet::get_KeyRegistryString>;

} // namespace

namespace quilletvtable {

std::span<const MethodThunk> entries()
{
    return IQuilletTable::thunks;
}

bool matches(const TypeInfo &info, QString *problem)
{
    const QList<FuncDesc> &funcs = info.funcs();
    const auto served = static_cast<qsizetype>(IQuilletTable::thunks.size());
    if (funcs.size() != served) {
        *problem = QStringLiteral("%1 has %2 entries where %3 are served").arg(info.name()).arg(funcs.size()).arg(served);
        return false;
    }
    for (const FuncDesc &func : funcs) {
        if (func.vtableIndex < 0 || func.vtableIndex >= served ||
            !IQuilletTable::checks[static_cast<std::size_t>(func.vtableIndex)](func)) {
            *problem = QStringLiteral("%1.%2 (entry %3) does not take the parameters of its member")
                           .arg(info.name(), func.name)
                           .arg(func.vtableIndex);
            return false;
        }
    }
    return true;
}

} // namespace quilletvtable

} // namespace tavrelo::helpers
