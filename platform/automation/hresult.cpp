#include "hresult.h"

#include "registry/winreg.h"

#include <QLatin1StringView>

#include <cstring>

namespace tavrelo::automation {

namespace {

const char *knownText(HRESULT hr)
{
    switch (hr) {
    case S_OK: return "Success";
    case S_FALSE: return "False";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_FAIL: return "Unspecified error";
    case E_UNEXPECTED: return "Catastrophic failure";
    case E_OUTOFMEMORY: return "Out of memory";
    case E_INVALIDARG: return "The parameter is incorrect";
    case E_ACCESSDENIED: return "Access is denied";
    case DISP_E_MEMBERNOTFOUND: return "Member not found";
    case DISP_E_TYPEMISMATCH: return "Type mismatch";
    case DISP_E_UNKNOWNNAME: return "Unknown name";
    case DISP_E_EXCEPTION: return "Exception occurred";
    case DISP_E_OVERFLOW: return "Out of present range";
    case DISP_E_BADPARAMCOUNT: return "Invalid number of parameters";
    case DISP_E_PARAMNOTOPTIONAL: return "Parameter not optional";
    case TYPE_E_ELEMENTNOTFOUND: return "Element not found";
    case TYPE_E_LIBNOTREGISTERED: return "Library not registered";
    case TYPE_E_INVDATAREAD: return "Invalid data read from the type library";
    case TYPE_E_CANTLOADLIBRARY: return "Error loading type library";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation";
    case CLASS_E_CLASSNOTAVAILABLE: return "Class not available from this library";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case REGDB_E_WRITEREGDB: return "Could not write to the registry";
    case CO_E_CLASSSTRING: return "Invalid class string";
    case CO_E_DLLNOTFOUND: return "The library of the class could not be loaded";
    case CO_E_ERRORINDLL: return "The library of the class is not an in-process server";
    case CONNECT_E_NOCONNECTION: return "No such connection";
    case CONNECT_E_CANNOTCONNECT: return "Cannot connect the sink";
    default: return nullptr;
    }
}

// Registry errors carried as results (HRESULT_FROM_WIN32) are told by the registry's own text.
const char *registryText(HRESULT hr)
{
    const auto code = static_cast<std::uint32_t>(hr);
    if ((code & 0xFFFF0000u) != 0x80070000u)
        return nullptr;
    const auto error = static_cast<registry::LONG>(code & 0xFFFFu);
    const char *text = registry::describeError(error);
    return std::strcmp(text, registry::describeError(-1)) == 0 ? nullptr : text; // the "unknown" text
}

}

QString describeHResult(HRESULT hr)
{
    const QString digits = QStringLiteral("%1").arg(static_cast<std::uint32_t>(hr), 8, 16, QLatin1Char('0')).toUpper();
    const char *text = knownText(hr);
    QString description;
    if (text) {
        description = QLatin1StringView(text);
    } else if ((text = registryText(hr))) {
        description = QString::fromUtf8(text);
        if (description.endsWith(u'.'))
            description.chop(1);
    } else {
        description = QStringLiteral("Error");
    }
    return description + QStringLiteral(" (0x") + digits + u')';
}

}
