// GetBaseDirectory and GetDocumentURL: the folder of this library, and a page document's address.

#include "quillet.h"

#include "automation/module.h"

namespace tavrelo::helpers {

namespace {

// An object of this library, whose address names the library's file. (The address of an exported
// function would not do: a program linked to the library may stand in for it with an entry of
// its own.)
const char kInThisLibrary = 0;

}

HRESULT Quillet::GetBaseDirectory(QString *directory)
{
    if (!directory)
        return E_POINTER;
    const QString library = tavrelo::automation::modulePathOf(&kInThisLibrary);
    // The folder without its trailing "/", except for the root folder itself.
    const qsizetype slash = library.lastIndexOf(u'/');
    *directory = slash > 0 ? library.left(slash) : (slash == 0 ? QStringLiteral("/") : library);
    return S_OK;
}

HRESULT Quillet::GetDocumentURL(IDispatch *document, Variant *url)
{
    if (!url)
        return E_INVALIDARG;
    // Anything but a readable page document gives an empty address, never an error.
    QString address;
    ComPtr<IHTMLDocument2> page;
    if (document && SUCCEEDED(document->QueryInterface(IID_IHTMLDocument2, page.putVoid())) && page &&
        FAILED(page->get_locationString(&address)))
        address.clear();
    *url = Variant(address.isNull() ? QStringLiteral("") : address);
    return S_OK;
}

} // namespace tavrelo::helpers
