// The class object of Quillet and the entries by which the automation layer finds it and asks
// whether the library is still in use.

#include "exports.h"
#include "quillet.h"
#include "quilletids.h"
#include "serverstate.h"

#include "automation/comobject.h"

#include <atomic>

namespace tavrelo::helpers {

namespace {

std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};

// One class object for the life of the library. A reference held outside keeps the library in
// use like a lock does: unloading would leave the holder with a dangling pointer.
class QuilletFactory final : public StaticComObject<ComInterface<IClassFactory, IID_IClassFactory>> {
public:
    constexpr QuilletFactory() : StaticComObject(0) {} // only references held outside count

    HRESULT CreateInstance(IUnknown *outer, const IID &iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        const ComPtr<Quillet> quillet = Quillet::create();
        if (!quillet)
            return E_OUTOFMEMORY;
        return quillet->QueryInterface(iid, object);
    }

    HRESULT LockServer(bool lock) override
    {
        if (lock)
            serverstate::lock();
        else
            serverstate::unlock();
        return S_OK;
    }
};

QuilletFactory g_factory;

} // namespace

namespace serverstate {

void objectCreated() { ++g_objects; }
void objectDestroyed() { --g_objects; }
void lock() { ++g_locks; }
void unlock() { --g_locks; }
bool inUse() { return g_objects > 0 || g_locks > 0 || g_factory.references() > 0; }

} // namespace serverstate

} // namespace tavrelo::helpers

using namespace tavrelo::helpers;

extern "C" {

HRESULT DllGetClassObject(const CLSID &clsid, const IID &iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_Quillet)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

HRESULT DllCanUnloadNow()
{
    return serverstate::inUse() ? S_FALSE : S_OK;
}

} // extern "C"
