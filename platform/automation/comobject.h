#pragma once

// Reference counting for automation objects that live on the heap and go with their last
// reference. Like IUnknown and ComPtr it stands outside any namespace, as the interfaces do.

#include "unknown.h"

#include <atomic>

template <typename Interface>
class ComObject : public Interface {
public:
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> m_references{1};
};

// Creates an object whose one reference the caller owns.
template <typename T, typename... Args>
ComPtr<T> makeComObject(Args &&...args)
{
    return ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}
