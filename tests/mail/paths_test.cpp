// GetBaseDirectory and GetDocumentURL.

#include "support/mailtest.h"

#include "object/quillet.h"
#include "support/stackdispatch.h"

#include <QFileInfo>

using namespace tavrelo::helpers;

namespace {

// What script may pass as a document: a page document, one whose address cannot be read, or
// some other object that is no document at all (but knows an address all the same).
class TestObject final : public StackDispatch<IHTMLDocument2, IID_IHTMLDocument2> {
public:
    enum Kind { Document, Unreadable, NotADocument };
    TestObject(Kind kind, QString url) : m_kind(kind), m_url(std::move(url)) {}

    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (iid == IID_IHTMLDocument2 && m_kind == NotADocument) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return StackDispatch::QueryInterface(iid, object);
    }
    HRESULT Invoke(DISPID, const IID &, LCID, std::uint16_t, DispParams &, Variant *, ExcepInfo *,
                   std::uint32_t *) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT get_locationString(QString *url) override
    {
        if (m_kind == Unreadable)
            return E_FAIL;
        *url = m_url;
        return S_OK;
    }

private:
    Kind m_kind;
    QString m_url;
};

}

TEST(Paths, theBaseDirectoryIsTheFolderOfTheLibrary)
{
    ComPtr<Quillet> helper = Quillet::create();
    QString directory;
    ASSERT_EQ(helper->GetBaseDirectory(&directory), S_OK);
    const QFileInfo library(QStringLiteral(TAVRELO_HELPERS_LIBRARY));
    EXPECT_EQ(QFileInfo(directory).canonicalFilePath(), library.canonicalPath());
    EXPECT_TRUE(QFileInfo::exists(directory + u'/' + library.fileName()));
    EXPECT_FALSE(directory.endsWith(u'/'));
    EXPECT_EQ(helper->GetBaseDirectory(nullptr), E_POINTER);
}

TEST(Paths, aDocumentTellsItsAddressAndAnythingElseAnEmptyOne)
{
    ComPtr<Quillet> helper = Quillet::create();
    TestObject page(TestObject::Document, QStringLiteral("https://example.org/article?id=7"));
    Variant url;
    ASSERT_EQ(helper->GetDocumentURL(&page, &url), S_OK);
    EXPECT_EQ(url.vt(), VT_BSTR);
    EXPECT_EQ(url.toString(), QStringLiteral("https://example.org/article?id=7"));
    EXPECT_EQ(page.references(), 1u) << "the document interface is let go";

    TestObject unreadable(TestObject::Unreadable, QStringLiteral("https://example.org/"));
    TestObject other(TestObject::NotADocument, QStringLiteral("https://example.org/"));
    for (IDispatch *object :
         {static_cast<IDispatch *>(&unreadable), static_cast<IDispatch *>(&other), static_cast<IDispatch *>(nullptr)}) {
        url = Variant(42);
        ASSERT_EQ(helper->GetDocumentURL(object, &url), S_OK);
        EXPECT_EQ(url.vt(), VT_BSTR);
        EXPECT_EQ(url.toString(), QString());
    }
    EXPECT_EQ(helper->GetDocumentURL(&page, nullptr), E_INVALIDARG);
}
