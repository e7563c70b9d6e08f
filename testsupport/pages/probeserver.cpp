// A small in-process server for page tests: its class Probe shows how calls, arguments,
// optional defaults, failures and events arrive through the host, acts on files as another
// program would (and on the host's own file-size limit), and its library carries the test
// pages as resources.

#include "automation/classes.h"
#include "automation/comobject.h"
#include "automation/connection.h"
#include "automation/membertable.h"
#include "automation/module.h"
#include "automation/olewindow.h"
#include "automation/registrar.h"
#include "automation/typeinfo.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const CLSID kProbeClass{0x7D5C2E10, 0x0C6B, 0x4C7E, 0x9B, 0x1A, 0x5A, 0x7E, 0x3F, 0x0C, 0x2D, 0x11};
const GUID kLibrary{0x7D5C2E11, 0x0C6B, 0x4C7E, 0x9B, 0x1A, 0x5A, 0x7E, 0x3F, 0x0C, 0x2D, 0x11};
const IID kProbeInterface{0x7D5C2E12, 0x0C6B, 0x4C7E, 0x9B, 0x1A, 0x5A, 0x7E, 0x3F, 0x0C, 0x2D, 0x11};
const IID kProbeEvents{0x7D5C2E13, 0x0C6B, 0x4C7E, 0x9B, 0x1A, 0x5A, 0x7E, 0x3F, 0x0C, 0x2D, 0x11};

std::atomic<int> g_objects{0};

using tavrelo::automation::ConnectionPoint;
using tavrelo::automation::TypeInfo;
using tavrelo::automation::TypeLib;

class Probe final : public ComObject<ComInterface<IDispatch, IID_IDispatch, kProbeInterface>,
                                     ComInterface<IObjectWithSite, IID_IObjectWithSite>,
                                     ComInterface<IConnectionPointContainer, IID_IConnectionPointContainer>,
                                     ComInterface<IProvideClassInfo2, IID_IProvideClassInfo, IID_IProvideClassInfo2>> {
public:
    Probe() { ++g_objects; }
    ~Probe() { --g_objects; }

    // IDispatch through the registered type library.
    HRESULT GetTypeInfoCount(std::uint32_t *count) override
    {
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const TypeInfo> *info) override
    {
        const HRESULT hr = load();
        if (SUCCEEDED(hr))
            *info = m_info;
        return hr;
    }
    HRESULT GetIDsOfNames(const IID &, const QStringList &names, LCID, DISPID *ids) override
    {
        const HRESULT hr = load();
        return FAILED(hr) ? hr : m_info->GetIDsOfNames(names, ids);
    }
    HRESULT Invoke(DISPID member, const IID &, LCID, std::uint16_t flags, DispParams &params, Variant *result,
                   ExcepInfo *exception, std::uint32_t *argErr) override;

    HRESULT SetSite(IUnknown *site) override
    {
        m_site = ComPtr<IUnknown>(site);
        return S_OK;
    }
    HRESULT GetSite(const IID &iid, void **site) override
    {
        return m_site ? m_site->QueryInterface(iid, site) : E_FAIL;
    }

    HRESULT FindConnectionPoint(const IID &iid, IConnectionPoint **point) override
    {
        if (iid != kProbeEvents)
            return CONNECT_E_NOCONNECTION;
        m_events.AddRef();
        *point = &m_events;
        return S_OK;
    }

    HRESULT GetClassInfo(std::shared_ptr<const TypeInfo> *info) override
    {
        const HRESULT hr = load();
        if (SUCCEEDED(hr))
            *info = m_library->typeInfoOfGuid(kProbeClass);
        return hr;
    }
    HRESULT GetGUID(std::uint32_t kind, GUID *guid) override
    {
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
            return E_INVALIDARG;
        *guid = kProbeEvents;
        return S_OK;
    }

    // IProbe, in the order of its entries.
    HRESULT Raise(std::int32_t dispid)
    {
        m_events.raise(dispid);
        return S_OK;
    }
    HRESULT Fail(std::int32_t hr) { return static_cast<HRESULT>(hr); }
    HRESULT Add(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t *sum)
    {
        *sum = a + b + c;
        return S_OK;
    }
    HRESULT Echo(const Variant &value, QString *result);
    HRESULT get_Label(const QString &key, QString *value)
    {
        *value = m_labels.value(key);
        return S_OK;
    }
    HRESULT put_Label(const QString &key, const QString &value)
    {
        m_labels.insert(key, value);
        return S_OK;
    }
    HRESULT get_Count(std::int32_t *value)
    {
        *value = m_count;
        return S_OK;
    }
    HRESULT put_Count(std::int32_t value)
    {
        m_count = value;
        return S_OK;
    }
    HRESULT get_HasSite(std::int32_t *value);
    HRESULT DocumentURL(IDispatch *doc, QString *url);
    HRESULT RewriteFile(const QString &path, const QString &text, const QString &how);
    HRESULT LimitFileSize(std::int32_t bytes);
    HRESULT SetReadOnly(const QString &path, std::int32_t readOnly);
    HRESULT RemoveFolder(const QString &path) { return QDir(path).removeRecursively() ? S_OK : E_FAIL; }
    HRESULT MakeFolder(const QString &path) { return QDir().mkpath(path) ? S_OK : E_FAIL; }
    HRESULT FolderEntries(const QString &path, QString *names)
    {
        *names = QDir(path)
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
                     .join(u'\n');
        return S_OK;
    }

private:
    HRESULT load()
    {
        if (m_info)
            return S_OK;
        const HRESULT hr = LoadRegTypeLib(kLibrary, 1, 0, 0, &m_library);
        if (SUCCEEDED(hr))
            m_info = m_library->typeInfoOfGuid(kProbeInterface);
        return hr;
    }

    ComPtr<IUnknown> m_site;
    ConnectionPoint m_events{this, kProbeEvents};
    std::shared_ptr<const TypeLib> m_library;
    std::shared_ptr<const TypeInfo> m_info;
    QHash<QString, QString> m_labels;
    std::int32_t m_count = 0;
};

HRESULT fromErrno() { return HRESULT_FROM_WIN32(errno == ENOENT ? 2 : 5); }

// Writes `text` over the file as another program would: "replace" puts a new file in its place,
// "in-place" writes into the same file from its start (without shortening it), and
// "replace-keeping-times" puts a new file in its place with the old file's access and
// modification times.
HRESULT rewriteFile(const QString &path, const QString &text, const QString &how)
{
    const QByteArray name = QFile::encodeName(path), bytes = text.toUtf8();
    struct stat old {};
    if (::stat(name.constData(), &old) != 0)
        return fromErrno();
    if (how == u"in-place") {
        const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::pwrite(fd, bytes.constData(), size_t(bytes.size()), 0) == bytes.size();
        if (fd >= 0)
            ::close(fd);
        return ok ? S_OK : fromErrno();
    }
    if (how != u"replace" && how != u"replace-keeping-times")
        return E_INVALIDARG;
    const QByteArray other = name + ".outside";
    const int fd = ::open(other.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    if (!written)
        return fromErrno();
    if (how == u"replace-keeping-times") {
        const timespec times[2] = {old.st_atim, old.st_mtim};
        if (::utimensat(AT_FDCWD, other.constData(), times, 0) != 0)
            return fromErrno();
    }
    return ::rename(other.constData(), name.constData()) == 0 ? S_OK : fromErrno();
}

// The soft file-size limit of the process that loaded the probe (the host); below its hard
// limit, so it can be raised again. A negative size restores the limit the process had.
HRESULT limitFileSize(std::int32_t bytes)
{
    static rlimit original{};
    static bool saved = false;
    if (!saved) {
        if (::getrlimit(RLIMIT_FSIZE, &original) != 0)
            return E_FAIL;
        saved = true;
    }
    rlimit limit = original;
    if (bytes >= 0)
        limit.rlim_cur = rlim_t(bytes);
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? S_OK : E_FAIL;
}

QString describe(const Variant &value)
{
    Variant text;
    VariantChangeType(&text, value, VT_BSTR);
    return QString::number(value.vt()) + u':' + text.toString();
}

HRESULT Probe::Echo(const Variant &value, QString *result)
{
    *result = describe(value);
    return S_OK;
}

// The site tells the window the page lives in.
HRESULT Probe::get_HasSite(std::int32_t *value)
{
    ComPtr<IOleWindow> site;
    HWND window = nullptr;
    const bool found = SUCCEEDED(GetSite(IID_IOleWindow, site.putVoid())) && SUCCEEDED(site->GetWindow(&window)) && window;
    *value = found ? 1 : 0;
    return S_OK;
}

HRESULT Probe::DocumentURL(IDispatch *doc, QString *url)
{
    const ComPtr<IDispatch> document(doc);
    ComPtr<IHTMLDocument2> html;
    QString location;
    if (!document || FAILED(document.as(IID_IHTMLDocument2, &html)) || FAILED(html->get_locationString(&location)))
        return E_INVALIDARG;
    *url = location;
    return S_OK;
}

HRESULT Probe::RewriteFile(const QString &path, const QString &text, const QString &how)
{
    return rewriteFile(path, text, how);
}

HRESULT Probe::LimitFileSize(std::int32_t bytes) { return limitFileSize(bytes); }

HRESULT Probe::SetReadOnly(const QString &path, std::int32_t readOnly)
{
    const QFileDevice::Permissions writable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                              QFileDevice::ReadOther;
    const QFileDevice::Permissions readOnlyPermissions = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    return QFile::setPermissions(path, readOnly ? readOnlyPermissions : writable) ? S_OK : E_FAIL;
}

constexpr auto kProbeEntries = tavrelo::automation::memberTable<
    &Probe::Raise, &Probe::Fail, &Probe::Add, &Probe::Echo, &Probe::get_Label, &Probe::put_Label, &Probe::get_Count,
    &Probe::put_Count, &Probe::get_HasSite, &Probe::DocumentURL, &Probe::RewriteFile, &Probe::LimitFileSize,
    &Probe::SetReadOnly, &Probe::RemoveFolder, &Probe::MakeFolder, &Probe::FolderEntries>();

HRESULT Probe::Invoke(DISPID member, const IID &, LCID, std::uint16_t flags, DispParams &params, Variant *result,
                      ExcepInfo *exception, std::uint32_t *argErr)
{
    const HRESULT hr = load();
    return FAILED(hr) ? hr : m_info->Invoke(this, kProbeEntries.entries, member, flags, params, result, exception, argErr);
}

// Lives as long as the module.
class ProbeFactory final : public StaticComObject<ComInterface<IClassFactory, IID_IClassFactory>> {
public:
    HRESULT CreateInstance(IUnknown *outer, const IID &iid, void **object) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return makeComObject<Probe>()->QueryInterface(iid, object);
    }
    HRESULT LockServer(bool) override { return S_OK; }
};

}

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(const CLSID &clsid, const IID &iid,
                                                                            void **object)
{
    static ProbeFactory factory;
    if (clsid != kProbeClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer()
{
    return tavrelo::automation::registerServerModule(tavrelo::automation::modulePathOf(&g_objects),
                                                     tavrelo::automation::RegistrarMode::Register);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer()
{
    return tavrelo::automation::registerServerModule(tavrelo::automation::modulePathOf(&g_objects),
                                                     tavrelo::automation::RegistrarMode::Unregister);
}
