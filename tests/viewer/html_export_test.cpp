// Export as HTML end to end: the real viewer writes the current folder as a page through the file
// and visibility dialogs; the page is read back from disk as UTF-16 and parsed by the engine.

#include "fragment_list_fixture.h"

#include <QStringDecoder>

namespace {

class HTMLExport : public FragmentList {
protected:
    // Exports the current folder to `name` with the dialog's boxes set as given, and reads it.
    QJsonObject exportAs(const char *name, std::initializer_list<std::pair<const char *, bool>> boxes)
    {
        const QString path = m_files.filePath(str(name));
        answer({{str("kind"), str("file")}, {str("answer"), path}});
        auto dialog = openVisibilityDialog("fnHTMLExport()");
        dialog->evaluate(setBoxes(boxes) + str("setTimeout(() => document.getElementById('OK').click()); true"));
        EXPECT_TRUE(js(str("window.dialogDone")).toBool());
        const QByteArray bytes = ScratchRegistry::readFile(path);
        EXPECT_TRUE(bytes.startsWith("\xFF\xFE")) << "UTF-16 little-endian with its byte-order mark";
        QStringDecoder utf16(QStringDecoder::Utf16LE);
        const QString page = utf16(bytes.mid(2));
        EXPECT_FALSE(utf16.hasError());
        EXPECT_TRUE(page.contains(str("\r\n")) && !page.contains(QRegularExpression(str("[^\r]\n"))))
            << "line breaks as carriage return and line feed";
        return js(QStringLiteral("listProbe.readExport(%1)")
                      .arg(QString::fromUtf8(QJsonDocument(QJsonArray{page}).toJson(QJsonDocument::Compact)).mid(1).chopped(1)))
            .toObject();
    }
    static QStringList strings(const QJsonValue &array)
    {
        QStringList list;
        for (const QJsonValue value : array.toArray())
            list << value.toString();
        return list;
    }
};

TEST_F(HTMLExport, TheCurrentFolderIsWrittenWithTheChosenFieldsAndOrder)
{
    startOnTestCollection(3);
    // A folder whose fragments all live below: contents with its name as plain text, no own section.
    QJsonObject page = exportAs("parent.htm", {});
    EXPECT_EQ(page.value(str("title")).toString(), str("Parent"));
    EXPECT_EQ(strings(page.value(str("contents"))), QStringList({str("Parent"), str("#href4 Child")}));
    EXPECT_EQ(strings(page.value(str("headings"))), QStringList({str("H3 Child href4")}));
    EXPECT_EQ(page.value(str("fragments")).toArray().size(), 2);

    // No subfolder with fragments: no contents. Newest first; title and text off, field names
    // off: one column, the source link at the top of the comment.
    js(str("listProbe.selectFolder(5)"));
    page = exportAs("sorting.htm", {{"ctlShowTitle", false}, {"ctlShowText", false}, {"ctlShowFieldNames", false}});
    EXPECT_TRUE(page.value(str("contents")).toArray().isEmpty());
    EXPECT_EQ(strings(page.value(str("headings"))), QStringList({str("H2 Sorting href5")}));
    QStringList sources;
    for (const QJsonValue f : page.value(str("fragments")).toArray()) {
        const QJsonObject fragment = f.toObject();
        sources << fragment.value(str("source")).toString();
        EXPECT_EQ(strings(fragment.value(str("rows"))), QStringList({str("Comment")}));
        EXPECT_EQ(fragment.value(str("cols")).toString(), str("1"));
        EXPECT_TRUE(fragment.value(str("fieldNames")).toArray().isEmpty());
        EXPECT_EQ(fragment.value(str("sourceRow")).toString(), str("Comment"));
    }
    EXPECT_EQ(sources, QStringList({str("https://b.example/"), str("https://c.example/"), str("https://d.example/"),
                                    str("https://a.example/")}));
    EXPECT_EQ(std::vector<std::uint32_t>({dword("HTMLVisibilityHideContents"), dword("HTMLVisibilityHideFieldNames"),
                                          dword("HTMLVisibilityHideTitle"), dword("HTMLVisibilityHideText"),
                                          dword("HTMLVisibilityHideComment"), dword("HTMLVisibilityHideURL")}),
              std::vector<std::uint32_t>({0, 1, 1, 1, 0, 0}));

    // The next export starts from those choices; turned back on, nothing of them is left.
    // Untrusted text stays text; only web addresses get a source link; "!BR/!" is a line break.
    js(str("listProbe.selectFolder(6)"));
    page = exportAs("hostile.htm", {{"ctlShowTitle", true}, {"ctlShowText", true}, {"ctlShowFieldNames", true}});
    EXPECT_EQ(page.value(str("elements")).toString(), str("0,0,0,0,0"));
    QJsonObject byTitle;
    for (const QJsonValue f : page.value(str("fragments")).toArray())
        byTitle.insert(f.toObject().value(str("title")).toString(), f);
    const QJsonObject hostile = byTitle.value(kHostile[0].name).toObject();
    EXPECT_EQ(strings(hostile.value(str("rows"))), QStringList({str("TitleAndDate"), str("Text"), str("Comment")}));
    EXPECT_EQ(strings(hostile.value(str("fieldNames"))), QStringList({str("Title:"), str("Text:"), str("Comment: ")}));
    EXPECT_TRUE(hostile.value(str("source")).isNull()) << "no link for a javascript: address";
    EXPECT_EQ(hostile.value(str("textHTML")).toString(), str("&lt;script&gt;top.pwned=2&lt;/script&gt;one<br>two"));
    EXPECT_TRUE(byTitle.value(str("file")).toObject().value(str("source")).isNull());
    EXPECT_TRUE(byTitle.value(str("no address")).toObject().value(str("source")).isNull());
    EXPECT_EQ(byTitle.value(str("web")).toObject().value(str("source")).toString(), kHostile[2].url);
    EXPECT_EQ(byTitle.value(str("web")).toObject().value(str("sourceRow")).toString(), str("TitleAndDate"));
}

} // namespace
