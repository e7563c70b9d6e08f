#pragma once

// The helper object as a host meets it: the built library registered in a private registry by
// the real clipvane-regsvr, objects created through the automation layer (which finds the
// library through the registry and loads it), members called late-bound by name.

#include "automation/classes.h"
#include "automation/dispatch.h"
#include "automation/module.h"
#include "registry/winreg.h"
#include "support/scratchregistry.h"

#include <gtest/gtest.h>

inline const QString kHelpersLibrary = QStringLiteral(TAVRELO_HELPERS_LIBRARY);
inline const CLSID kQuilletClsid{QStringLiteral("{C588106B-4E66-11D4-B7AB-00C0F04903DC}")};
inline const IID kQuilletIid{QStringLiteral("{C588106A-4E66-11D4-B7AB-00C0F04903DC}")};
inline const IID kEventsIid{QStringLiteral("{980BB471-783C-11D4-B7D9-00C0F04903DC}")};
inline const QString kLibid = QStringLiteral("{C588105E-4E66-11D4-B7AB-00C0F04903DC}");

inline ProcessResult runRegsvr(const QStringList &arguments)
{
    return runProgram(QStringLiteral(CLIPVANE_REGSVR), arguments);
}

// A string value read through the registry layer; a null QString when it is not there.
inline QString registryString(tavrelo::registry::HKEY root, const QString &key, const char *name = nullptr)
{
    using namespace tavrelo::registry;
    HKEY opened = nullptr;
    if (RegOpenKeyEx(root, key.toUtf8().constData(), KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return {};
    char buffer[4096] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    const LONG error = RegQueryValueEx(opened, name, &type, reinterpret_cast<BYTE *>(buffer), &size);
    RegCloseKey(opened);
    return error == ERROR_SUCCESS ? QString::fromUtf8(buffer) : QString();
}

inline bool registryKeyExists(tavrelo::registry::HKEY root, const QString &key)
{
    using namespace tavrelo::registry;
    HKEY opened = nullptr;
    if (RegOpenKeyEx(root, key.toUtf8().constData(), KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

// An entry exported by the helper library, found the way the automation layer finds entries.
template <typename Function>
Function helpersEntry(const char *name)
{
    void *module = tavrelo::automation::loadModule(kHelpersLibrary);
    return module ? reinterpret_cast<Function>(tavrelo::automation::moduleEntry(module, name)) : nullptr;
}

class RegisteredHelpers : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ProcessResult result = runRegsvr({kHelpersLibrary});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }

    static ComPtr<IDispatch> createHelper()
    {
        ComPtr<IDispatch> helper;
        EXPECT_EQ(CoCreateInstance(kQuilletClsid, nullptr, IID_IDispatch, helper.putVoid()), S_OK);
        return helper;
    }

    // A late-bound call as script makes it: the name resolved first, then the member invoked.
    static HRESULT call(IDispatch *helper, const QString &name, std::uint16_t flags, std::vector<Variant> args,
                        Variant *result = nullptr)
    {
        DISPID member = DISPID_UNKNOWN;
        const HRESULT hr = helper->GetIDsOfNames(IID_NULL, {name}, LOCALE_USER_DEFAULT, &member);
        if (FAILED(hr))
            return hr;
        DispParams params{std::move(args)};
        ExcepInfo info;
        std::uint32_t argErr = 0;
        return helper->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &info, &argErr);
    }

    ScratchRegistry m_registry;
};
