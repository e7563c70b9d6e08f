// A small in-process server for page tests: its class Probe shows how calls, arguments,
// optional defaults, failures and events arrive through the host, acts on files as another
// program would (and on the host's own file-size limit), and its library carries the test
// pages as resources.

#include "automation/classes.h"
#include "automation/connection.h"
#include "automation/module.h"
#include "automation/olewindow.h"
#include "automation/registrar.h"
#include "automation/typeinfo.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <array>
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

class Probe final : public IDispatch,
                    public IObjectWithSite,
                    public IConnectionPointContainer,
                    public IProvideClassInfo2 {
public:
    Probe() { ++g_objects; }
    ~Probe() { --g_objects; }

    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kProbeInterface)
            *object = static_cast<IDispatch *>(this);
        else if (iid == IID_IObjectWithSite)
            *object = static_cast<IObjectWithSite *>(this);
        else if (iid == IID_IConnectionPointContainer)
            *object = static_cast<IConnectionPointContainer *>(this);
        else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2)
            *object = static_cast<IProvideClassInfo2 *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

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
                   ExcepInfo *exception, std::uint32_t *argErr) override
    {
        const HRESULT hr = load();
        return FAILED(hr) ? hr : m_info->Invoke(this, kVtable, member, flags, params, result, exception, argErr);
    }

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

    static Probe *self(void *object) { return static_cast<Probe *>(static_cast<IDispatch *>(object)); }

    static const std::array<tavrelo::automation::MethodThunk, 16> kVtable;

    std::atomic<ULONG> m_references{1};
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

// The members, in the order of the interface's entries.
const std::array<tavrelo::automation::MethodThunk, 16> Probe::kVtable = {
    [](void *object, Variant *args) { // Raise
        self(object)->m_events.raise(args[0].toInt());
        return S_OK;
    },
    [](void *, Variant *args) { return static_cast<HRESULT>(args[0].toInt()); }, // Fail
    [](void *, Variant *args) { // Add
        args[3] = Variant(args[0].toInt() + args[1].toInt() + args[2].toInt());
        return S_OK;
    },
    [](void *, Variant *args) { // Echo
        args[1] = Variant(describe(args[0]));
        return S_OK;
    },
    [](void *object, Variant *args) { // Label get
        args[1] = Variant(self(object)->m_labels.value(args[0].toString()));
        return S_OK;
    },
    [](void *object, Variant *args) { // Label put
        self(object)->m_labels.insert(args[0].toString(), args[1].toString());
        return S_OK;
    },
    [](void *object, Variant *args) { // Count get
        args[0] = Variant(self(object)->m_count);
        return S_OK;
    },
    [](void *object, Variant *args) { // Count put
        self(object)->m_count = args[0].toInt();
        return S_OK;
    },
    [](void *object, Variant *args) { // HasSite: the site tells the window the page lives in
        ComPtr<IOleWindow> site;
        HWND window = nullptr;
        const bool found = SUCCEEDED(self(object)->GetSite(IID_IOleWindow, site.putVoid())) &&
                           SUCCEEDED(site->GetWindow(&window)) && window;
        args[0] = Variant(static_cast<std::int32_t>(found ? 1 : 0));
        return S_OK;
    },
    [](void *, Variant *args) { // DocumentURL
        ComPtr<IDispatch> document = args[0].toDispatch();
        ComPtr<IHTMLDocument2> html;
        QString url;
        if (!document || FAILED(document.as(IID_IHTMLDocument2, &html)) || FAILED(html->get_locationString(&url)))
            return E_INVALIDARG;
        args[1] = Variant(url);
        return S_OK;
    },
    [](void *, Variant *args) { // RewriteFile
        return rewriteFile(args[0].toString(), args[1].toString(), args[2].toString());
    },
    [](void *, Variant *args) { return limitFileSize(args[0].toInt()); }, // LimitFileSize
    [](void *, Variant *args) { // SetReadOnly
        const QFileDevice::Permissions writable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                                  QFileDevice::ReadOther;
        const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        return QFile::setPermissions(args[0].toString(), args[1].toInt() ? readOnly : writable) ? S_OK : E_FAIL;
    },
    [](void *, Variant *args) { return QDir(args[0].toString()).removeRecursively() ? S_OK : E_FAIL; }, // RemoveFolder
    [](void *, Variant *args) { return QDir().mkpath(args[0].toString()) ? S_OK : E_FAIL; },             // MakeFolder
    [](void *, Variant *args) { // FolderEntries
        args[1] = Variant(QDir(args[0].toString())
                              .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
                              .join(u'\n'));
        return S_OK;
    },
};

class ProbeFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = this;
        return S_OK;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown *outer, const IID &iid, void **object) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto *probe = new Probe;
        const HRESULT hr = probe->QueryInterface(iid, object);
        probe->Release();
        return hr;
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
