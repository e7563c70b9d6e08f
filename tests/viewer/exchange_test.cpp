// Folders exchanged between collection files end to end: the real viewer copies folders into and
// out of other files on disk, which are then read back by the page's own XML component.

#include "fragment_list_fixture.h"

namespace {

class Exchange : public FragmentList {
protected:
    static QString literal(const QString &text)
    {
        return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    }
    // A saved collection's folders and fragments as "name(children...)", the system folder
    // marked "*"; and whether its identifiers are unique and below its counter.
    QJsonObject read(const QString &path)
    {
        return js(QStringLiteral(
                      "(() => { const d = fnCreateXMLctl(); d.load(%1);"
                      " const outline = (e) => { const kids = Array.from(e.children).map((c) => c.nodeName == cxbiFRAGMENT ? c.getAttribute('Name') : outline(c));"
                      "   const name = e.getAttribute('Name') + (e.getAttribute('IsUnsortedNode') == '1' ? '*' : '');"
                      "   return kids.length ? name + '(' + kids.join(', ') + ')' : name; };"
                      " const uins = d.selectNodes('//@UIN'); const values = Array.from({length: uins.length}, (_, i) => Number(uins[i].value));"
                      " return { outline: outline(fnGetDatabaseElement(d)), uins: values.join(),"
                      "   sound: new Set(values).size == values.length && Math.max(...values) < Number(d.documentElement.getAttribute('NextUIN')) }; })()")
                      .arg(literal(path)))
            .toObject();
    }
};

TEST_F(Exchange, AMailExportWritesTheCurrentFolderAsTheSystemFolderOfAFreshFile)
{
    startOnTestCollection(3);
    const QByteArray before = savedFile();
    const QString path = m_files.filePath(str("mailed.t-q"));
    EXPECT_TRUE(js(QStringLiteral("fnPerformImportExport(cixSendByMail, %1)").arg(literal(path))).toBool());
    const QJsonObject mailed = read(path);
    EXPECT_EQ(mailed.value(str("outline")).toString(), str("My Citations(Parent*(Child(Fragment 401, Fragment 402)))"));
    EXPECT_TRUE(mailed.value(str("sound")).toBool()) << mailed.value(str("uins")).toString().toStdString();
    EXPECT_FALSE(mailed.value(str("uins")).toString().contains(str("401"))) << "new identifiers from the file's own counter";
    EXPECT_EQ(savedFile(), before) << "the open collection is not changed";
}

} // namespace
