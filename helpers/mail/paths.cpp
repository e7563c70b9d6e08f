// GetBaseDirectory and GetDocumentURL: the folder of this library, and a page document's address.

#include "object/quillet.h"

#include "automation/module.h"

HRESULT Quillet::GetBaseDirectory(QString *directory)
{
    if (!directory)
        return E_POINTER;
    // An address inside this library names its file.
    const QString library = tavrelo::automation::modulePathOf(reinterpret_cast<const void *>(&Quillet::create));
    const qsizetype slash = library.lastIndexOf(u'/');
    *directory = slash > 0 ? library.left(slash) : (slash == 0 ? QStringLiteral("/") : library);
    return S_OK;
}

HRESULT Quillet::GetDocumentURL(IDispatch *document, Variant *url)
{
    if (!url)
        return E_INVALIDARG;
    QString address;
    ComPtr<IHTMLDocument2> page;
    if (document && SUCCEEDED(document->QueryInterface(IID_IHTMLDocument2, page.putVoid())) && page &&
        FAILED(page->get_locationString(&address)))
        address.clear();
    *url = Variant(address.isNull() ? QStringLiteral("") : address);
    return S_OK;
}
