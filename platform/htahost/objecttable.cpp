#include "objecttable.h"

#include "automation/comobject.h"
#include "jobreply.h"
#include "pagesite.h"

#include "automation/classes.h"
#include "automation/olewindow.h"
#include "automation/typeinfo.h"

#include <QLoggingCategory>
#include <QWebEngineUrlRequestJob>

#include <cmath>
#include <limits>

namespace tavrelo::htahost {

using tavrelo::automation::describeHResult;
using tavrelo::automation::TypeInfo;

Q_LOGGING_CATEGORY(lcObjects, "tavrelo.htahost.objects")

// The page's side of one event connection: queues each event for the frame that connected.
class ObjectTable::Sink final : public ComObject<ComInterface<IDispatch, IID_IDispatch>> {
public:
    Sink(ObjectTable *table, std::weak_ptr<Frame> frame, int id, QHash<DISPID, QString> names)
        : m_table(table), m_frame(std::move(frame)), m_id(id), m_names(std::move(names))
    {
    }

    HRESULT GetTypeInfoCount(std::uint32_t *count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const TypeInfo> *) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(const IID &, const QStringList &, LCID, DISPID *) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID member, const IID &, LCID, std::uint16_t, DispParams &, Variant *, ExcepInfo *,
                   std::uint32_t *) override
    {
        const std::shared_ptr<Frame> frame = m_frame.lock();
        const auto name = m_names.constFind(member);
        if (!frame || name == m_names.cend())
            return S_OK;
        const int number = ++frame->lastNumber;
        frame->queued.append(QJsonObject{
            {QStringLiteral("sink"), m_id}, {QStringLiteral("event"), *name}, {QStringLiteral("number"), number}});
        m_table->deliver(frame);
        // An event raised while the page waits for a call runs after it; any other runs now, and
        // the raise returns once its handlers are done, so they can still read what the object
        // holds for them.
        if (!m_table->inCall())
            waitUntilHandled(frame, number);
        return S_OK;
    }

private:
    ObjectTable *m_table; // sinks are disconnected before the table goes
    std::weak_ptr<Frame> m_frame;
    int m_id;
    QHash<DISPID, QString> m_names;
};

ObjectTable::ObjectTable(IUnknown *site) : m_site(site) {}

ObjectTable::~ObjectTable() { releaseAll(); }

std::shared_ptr<ObjectTable::Frame> ObjectTable::frame(const QString &id)
{
    std::shared_ptr<Frame> &slot = m_frames[id];
    if (!slot) {
        slot = std::make_shared<Frame>();
        slot->id = id;
    }
    return slot;
}

ObjectTable::Entry *ObjectTable::entry(int object)
{
    const auto found = m_objects.find(object);
    return found == m_objects.end() ? nullptr : &found->second;
}

int ObjectTable::adopt(ComPtr<IDispatch> object, const std::shared_ptr<Frame> &owner)
{
    const int id = m_nextId++;
    Entry &entry = m_objects[id];
    entry.object = std::move(object);
    entry.owner = owner;
    owner->objects.append(id);

    // The default event interface and its names, when the object tells them.
    ComPtr<IProvideClassInfo2> classInfo;
    GUID events;
    std::shared_ptr<const TypeInfo> info;
    if (SUCCEEDED(entry.object.as(IID_IProvideClassInfo2, &classInfo)) &&
        SUCCEEDED(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events)) &&
        SUCCEEDED(classInfo->GetClassInfo(&info)) && info->containingLib()) {
        const auto lib = info->containingLib()->shared_from_this(); // keeps the event info alive
        if (const auto eventInfo = lib->typeInfoOfGuid(events)) {
            for (const auto &func : eventInfo->funcs())
                entry.eventNames.insert(func.memid, func.name);
        }
        ComPtr<IConnectionPointContainer> container;
        if (SUCCEEDED(entry.object.as(IID_IConnectionPointContainer, &container)))
            container->FindConnectionPoint(events, entry.events.put());
    }
    return id;
}

QJsonObject ObjectTable::describe(int id, Entry &entry)
{
    QJsonObject description{{QStringLiteral("id"), id}};
    std::shared_ptr<const TypeInfo> info;
    const HRESULT hr = entry.object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr) || !info) {
        description.insert(QStringLiteral("members"), QJsonValue::Null);
        description.insert(QStringLiteral("typeInfoError"), QJsonObject{{QStringLiteral("number"), hr},
                                                                       {QStringLiteral("description"), describeHResult(hr)}});
    } else {
        // Script needs to know which names are read at once (properties without parameters)
        // and which are called.
        QJsonObject members;
        for (const auto &func : info->funcs()) {
            const QString key = func.name.toLower();
            QJsonObject member = members.value(key).toObject();
            if (func.invokeKind == DISPATCH_METHOD)
                member.insert(QStringLiteral("method"), true);
            else if (func.invokeKind == DISPATCH_PROPERTYGET)
                member.insert(QStringLiteral("get"), func.inputCount());
            else
                member.insert(QStringLiteral("put"), true);
            members.insert(key, member);
        }
        description.insert(QStringLiteral("members"), members);
    }
    QJsonArray events;
    if (entry.events) {
        for (const QString &name : std::as_const(entry.eventNames))
            events.append(name);
    }
    description.insert(QStringLiteral("events"), events);
    return description;
}

CallResult ObjectTable::create(const QString &frameId, const QString &clsidText, const QString &progId)
{
    CLSID clsid;
    HRESULT hr = S_OK;
    if (!progId.isNull())
        hr = CLSIDFromProgID(progId, &clsid);
    else if (!tavrelo::automation::guidFromString(clsidText, &clsid))
        hr = CO_E_CLASSSTRING;
    ComPtr<IDispatch> object;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, IID_IDispatch, object.putVoid());
    if (FAILED(hr)) {
        const QString what = progId.isNull() ? clsidText : progId;
        return CallResult::failure(hr, QStringLiteral("Cannot create the object %1: %2").arg(what, describeHResult(hr)));
    }
    ComPtr<IObjectWithSite> withSite;
    if (SUCCEEDED(object.as(IID_IObjectWithSite, &withSite)))
        withSite->SetSite(m_site.get());
    const int id = adopt(std::move(object), frame(frameId));
    return {describe(id, m_objects.at(id))};
}

HRESULT ObjectTable::fromWire(const QJsonValue &wire, Variant *value)
{
    switch (wire.type()) {
    case QJsonValue::Null:
        *value = Variant(Variant::Null{});
        return S_OK;
    case QJsonValue::Bool:
        *value = Variant(wire.toBool());
        return S_OK;
    case QJsonValue::String:
        *value = Variant(wire.toString());
        return S_OK;
    case QJsonValue::Double: {
        const double number = wire.toDouble();
        if (std::trunc(number) == number && number >= std::numeric_limits<std::int32_t>::min() &&
            number <= std::numeric_limits<std::int32_t>::max())
            *value = Variant(static_cast<std::int32_t>(number));
        else
            *value = Variant(number);
        return S_OK;
    }
    case QJsonValue::Object: {
        const QJsonObject object = wire.toObject();
        if (object.contains(QStringLiteral("$empty"))) {
            *value = Variant();
            return S_OK;
        }
        if (object.value(QStringLiteral("$document")).isString()) {
            *value = Variant(ComPtr<IDispatch>::adopt(new HostDocument(object.value(QStringLiteral("$document")).toString())));
            return S_OK;
        }
        if (object.contains(QStringLiteral("$unsupported"))) {
            *value = Variant(ComPtr<IDispatch>::adopt(new ScriptObject));
            return S_OK;
        }
        if (const Entry *found = entry(object.value(QStringLiteral("$object")).toInt())) {
            *value = Variant(found->object);
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

CallResult ObjectTable::toWire(const Variant &value, const std::shared_ptr<Frame> &owner, QJsonValue *wire)
{
    switch (value.vt()) {
    case VT_EMPTY:
        *wire = QJsonObject{{QStringLiteral("$empty"), 1}};
        break;
    case VT_NULL:
        *wire = QJsonValue::Null;
        break;
    case VT_I4:
        *wire = value.toInt();
        break;
    case VT_UI4:
        *wire = static_cast<double>(value.toUInt());
        break;
    case VT_R8:
        *wire = value.toDouble();
        break;
    case VT_BOOL:
        *wire = value.toBool();
        break;
    case VT_BSTR:
        *wire = value.toString(); // a null string reads as empty
        break;
    case VT_DISPATCH: {
        ComPtr<IDispatch> object = value.toDispatch();
        if (!object) {
            *wire = QJsonValue::Null;
            break;
        }
        const int id = adopt(std::move(object), owner);
        *wire = QJsonObject{{QStringLiteral("$object"), describe(id, m_objects.at(id))}};
        break;
    }
    default:
        return CallResult::failure(DISP_E_TYPEMISMATCH, QStringLiteral("The result has a type script cannot use."));
    }
    return {};
}

CallResult ObjectTable::invoke(const QString &frameId, int object, const QString &name, std::uint16_t flags,
                               const QJsonArray &arguments)
{
    Entry *target = entry(object);
    if (!target)
        return CallResult::failure(E_INVALIDARG, QStringLiteral("The object no longer exists."));
    ComPtr<IDispatch> dispatch = target->object; // the call may release the entry
    DISPID member = DISPID_UNKNOWN;
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, QStringList{name}, LOCALE_USER_DEFAULT, &member);
    if (FAILED(hr))
        return CallResult::failure(hr, QStringLiteral("%1: %2").arg(name, describeHResult(hr)));
    DispParams params;
    for (const QJsonValue &argument : arguments) {
        Variant value;
        if (FAILED(fromWire(argument, &value)))
            return CallResult::failure(DISP_E_TYPEMISMATCH,
                                       QStringLiteral("%1: argument %2 has a type the object cannot take.")
                                           .arg(name)
                                           .arg(params.args.size() + 1));
        params.args.push_back(std::move(value));
    }
    Variant result;
    ExcepInfo exception;
    std::uint32_t argErr = 0;
    hr = dispatch->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, params, &result, &exception, &argErr);
    if (FAILED(hr)) {
        const QString reason = exception.description.isEmpty() ? describeHResult(hr) : exception.description;
        return CallResult::failure(hr, QStringLiteral("%1 failed: %2").arg(name, reason));
    }
    QJsonValue wire;
    const CallResult converted = toWire(result, frame(frameId), &wire);
    if (FAILED(converted.hr))
        return converted;
    return {wire};
}

CallResult ObjectTable::advise(const QString &frameId, int object, const QString &event)
{
    Entry *target = entry(object);
    if (!target || !target->events)
        return CallResult::failure(CONNECT_E_NOCONNECTION, QStringLiteral("The object raises no events."));
    // A handler of one event (a script for it, attachEvent) hears that event only: the object
    // raising another one does not wait for the page to pass it by, which it could do only once
    // the page's script is free again.
    QHash<DISPID, QString> names = target->eventNames;
    if (!event.isEmpty())
        names.removeIf([&event](const auto &entry) { return entry.value().compare(event, Qt::CaseInsensitive) != 0; });
    const int sinkId = m_nextId++;
    ComPtr<Sink> sink = makeComObject<Sink>(this, frame(frameId), sinkId, std::move(names));
    std::uint32_t cookie = 0;
    const HRESULT hr = target->events->Advise(sink.get(), &cookie);
    if (FAILED(hr))
        return CallResult::failure(hr, describeHResult(hr));
    target->sinks.insert(sinkId, cookie);
    return {sinkId};
}

CallResult ObjectTable::unadvise(const QString &, int object, int sink)
{
    Entry *target = entry(object);
    if (!target || !target->sinks.contains(sink))
        return CallResult::failure(CONNECT_E_NOCONNECTION, QStringLiteral("No such connection."));
    const HRESULT hr = target->events->Unadvise(target->sinks.take(sink));
    if (FAILED(hr))
        return CallResult::failure(hr, describeHResult(hr));
    return {true};
}

void ObjectTable::poll(const QString &frameId, QWebEngineUrlRequestJob *job)
{
    const std::shared_ptr<Frame> state = frame(frameId);
    if (state->poll) { // a frame waits once; an older request is answered empty
        QObject::disconnect(state->pollGone);
        replyResult(state->poll, QJsonArray());
    }
    state->poll = job;
    state->pollGone = QObject::connect(job, &QObject::destroyed, job, [this, frameId] {
        // The request went away unanswered: its frame was unloaded.
        qCDebug(lcObjects) << "frame gone" << frameId;
        releaseFrame(frameId);
    });
    deliver(state);
}

void ObjectTable::callStarted(QWebEngineUrlRequestJob *job)
{
    m_calls.append(QPointer(job));
}

bool ObjectTable::inCall()
{
    m_calls.removeIf([](const QPointer<QWebEngineUrlRequestJob> &job) {
        return !job || job->property(kAnsweredProperty).toBool();
    });
    return !m_calls.isEmpty();
}

void ObjectTable::waitUntilHandled(const std::shared_ptr<Frame> &frame, int number)
{
    while (!frame->gone && frame->handled < number) {
        QEventLoop loop;
        frame->waiters.append(&loop);
        loop.exec();
        frame->waiters.removeOne(&loop);
    }
}

void ObjectTable::wakeWaiters(const Frame &frame)
{
    for (QEventLoop *loop : frame.waiters)
        loop->quit();
}

void ObjectTable::handled(const QString &frameId, int number)
{
    const std::shared_ptr<Frame> state = frame(frameId);
    if (number > state->handled) {
        state->handled = number;
        wakeWaiters(*state);
    }
}

void ObjectTable::deliver(const std::shared_ptr<Frame> &state)
{
    if (!state->poll || state->queued.isEmpty())
        return;
    QObject::disconnect(state->pollGone);
    QWebEngineUrlRequestJob *job = state->poll;
    state->poll = nullptr;
    replyResult(job, std::exchange(state->queued, QJsonArray()));
}

void ObjectTable::release(int object)
{
    const auto found = m_objects.find(object);
    if (found == m_objects.end())
        return;
    Entry entry = std::move(found->second);
    m_objects.erase(found);
    for (const std::uint32_t cookie : std::as_const(entry.sinks))
        entry.events->Unadvise(cookie);
    entry.events.reset();
    if (ComPtr<IObjectWithSite> withSite; SUCCEEDED(entry.object.as(IID_IObjectWithSite, &withSite)))
        withSite->SetSite(nullptr);
}

void ObjectTable::releaseFrame(const QString &id)
{
    const auto found = m_frames.find(id);
    if (found == m_frames.end())
        return;
    const std::shared_ptr<Frame> state = found->second;
    m_frames.erase(found);
    QObject::disconnect(state->pollGone);
    state->gone = true;
    wakeWaiters(*state);
    for (const int object : std::as_const(state->objects))
        release(object);
}

void ObjectTable::releaseAll()
{
    while (!m_frames.empty())
        releaseFrame(m_frames.begin()->first);
    while (!m_objects.empty())
        release(m_objects.begin()->first);
}

} // namespace tavrelo::htahost
