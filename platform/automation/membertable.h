#pragma once

// The vtable of an interface as late-bound calls reach it: one MethodThunk per entry, each made
// from its member function's signature, so that the argument handling of a call cannot drift
// from the member it calls.
//
//   constexpr auto kEntries = tavrelo::automation::memberTable<&Gauge::get_Level, &Gauge::put_Level>();
//   ... typeInfo->Invoke(gauge, kEntries.entries, ...)
//
// Members take `const QString &`, `std::int32_t`, `std::uint32_t`, `IDispatch *` and
// `const Variant &` arguments and return results through `QString *`, `std::int32_t *` and
// `Variant *`; the self pointer given to TypeInfo::Invoke must be the member's class.

#include "typeinfo.h"

#include <QString>

#include <array>
#include <cstddef>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tavrelo::automation {

namespace memberslots {

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

template <>
struct Slot<const Variant &> {
    explicit Slot(const Variant &arg) : value(arg) {}
    const Variant &get() const { return value; }
    void store(Variant &) const {}
    static bool accepts(const ParamDesc &p) { return !p.retval && p.vt == VT_VARIANT; }
    Variant value;
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

template <typename Class, typename... P, std::size_t... I>
HRESULT callMember(Class *object, HRESULT (Class::*member)(P...), [[maybe_unused]] Variant *args,
                   std::index_sequence<I...>)
{
    std::tuple<Slot<P>...> slots{Slot<P>(args[I])...};
    const HRESULT hr = (object->*member)(std::get<I>(slots).get()...);
    if (SUCCEEDED(hr))
        (std::get<I>(slots).store(args[I]), ...);
    return hr;
}

template <typename Class, typename... P>
HRESULT callMember(Class *object, HRESULT (Class::*member)(P...), Variant *args)
{
    return callMember(object, member, args, std::index_sequence_for<P...>{});
}

template <typename Class, typename... P>
bool takesParameters(HRESULT (Class::*)(P...), const FuncDesc &func)
{
    if (func.params.size() != static_cast<qsizetype>(sizeof...(P)))
        return false;
    qsizetype i = 0;
    return (Slot<P>::accepts(func.params.at(i++)) && ...);
}

template <typename Class, typename... P>
Class *classOf(HRESULT (Class::*)(P...));

template <auto Member>
HRESULT thunk(void *self, Variant *args)
{
    using Class = std::remove_pointer_t<decltype(classOf(Member))>;
    return callMember(static_cast<Class *>(self), Member, args);
}

template <auto Member>
bool entryTakes(const FuncDesc &func)
{
    return takesParameters(Member, func);
}

} // namespace memberslots

// Whether one entry's member takes the parameters `func` declares.
using EntryCheck = bool (*)(const FuncDesc &func);

// Whether `info` describes exactly the entries `checks` stand for: as many, each at its place
// taking the parameters its member takes. Calls through the entries are only safe for such a
// type info; any other (an old or damaged library) is refused with the reason in *problem.
bool entriesMatch(const TypeInfo &info, std::span<const EntryCheck> checks, QString *problem);

template <std::size_t N>
struct MemberTable {
    std::array<MethodThunk, N> entries;
    std::array<EntryCheck, N> checks;

    bool matches(const TypeInfo &info, QString *problem) const { return entriesMatch(info, checks, problem); }
};

// The entries of an interface, its members in the order of the type library's entries.
template <auto... Members>
constexpr MemberTable<sizeof...(Members)> memberTable()
{
    return {{&memberslots::thunk<Members>...}, {&memberslots::entryTakes<Members>...}};
}

} // namespace tavrelo::automation
