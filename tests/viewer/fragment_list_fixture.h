#pragma once

// The fragment list's test collection and fixture: the viewer started on a collection of known
// folders and fragments, with list_probe.js loaded into its main page.

#include "support/viewerfixture.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <memory>

namespace {

struct Fragment {
    int uin;
    QString name, text, comment, url;
    qint64 date;
};

QByteArray fragmentXml(const Fragment &f)
{
    return QStringLiteral("<TavTracker:ktFRAGMENT UIN=\"%1\" Name=\"%2\" Text=\"%3\" Comment=\"%4\" BaseURL=\"%5\" "
                          "CreationDate=\"%6\"/>")
        .arg(f.uin)
        .arg(f.name.toHtmlEscaped(), f.text.toHtmlEscaped(), f.comment.toHtmlEscaped(), f.url.toHtmlEscaped())
        .arg(f.date, 16, 10, QLatin1Char('0'))
        .toUtf8();
}

// The folders of the test collection and their fragments:
//   0 root; 1 Default Collection (9: 101-109); 2 Work (45: 201-245, six-line texts);
//   3 Parent (none) > 4 Child (2: 401, 402); 5 Sorting (4: 501-504); 6 Hostile (5: 601-605).
// The sorting fragments order differently by each key; 503 and 504 share a comment.
const QList<Fragment> kSorting = {
    {501, str("Beta"), str("delta"), str("alpha"), str("https://c.example/"), 3000},
    {502, str("Alpha"), str("charlie"), str("charlie"), str("https://a.example/"), 1000},
    {503, str("Delta"), str("alpha"), str("beta"), str("https://d.example/"), 2000},
    {504, str("Charlie"), str("bravo"), str("beta"), str("https://b.example/"), 4000},
};
const QList<Fragment> kHostile = {
    {601, str("<img src=x onerror=\"top.pwned=1\">"), str("<script>top.pwned=2</script>one!BR/!two"),
     str("<b>bold</b> &amp;"), str("javascript:top.pwned=3"), 6001},
    {602, str("file"), str("t"), str("c"), str("file:///etc/passwd"), 6002},
    {603, str("web"), str("t"), str("c"), str("https://example.org/a?b=<i>&c=1"), 6003},
    {604, str("empty comment"), str("t"), QString(), str("https://example.org/"), 6004},
    {605, str("no address"), str("t"), str("c"), QString(), 6005},
};
constexpr int kAllFragments = 9 + 45 + 2 + 4 + 5;

class FragmentList : public Viewer {
protected:
    static QByteArray folder(int uin, const char *name, const QList<Fragment> &fragments, const QByteArray &inner = {})
    {
        QByteArray xml = "<TavTracker:ktNODE UIN=\"" + QByteArray::number(uin) + "\" Name=\"" + name + "\"" +
                         (uin == 1 ? " IsUnsortedNode=\"1\">" : ">");
        for (const Fragment &f : fragments)
            xml += fragmentXml(f);
        return xml + inner + "</TavTracker:ktNODE>";
    }
    static QList<Fragment> numbered(int first, int count, const QString &text)
    {
        QList<Fragment> fragments;
        for (int i = 0; i < count; ++i)
            fragments.append({first + i, QStringLiteral("Fragment %1").arg(first + i), text, str("note"),
                              str("https://example.org/"), 100000 + first + i});
        return fragments;
    }

    // Writes the test collection (current folder `currentNode`) as `name` among the test's files
    // and starts the viewer on it.
    void startOnTestCollection(int currentNode, const QString &name = str("List.t-q"))
    {
        const QString path = m_path = m_files.filePath(name);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root xmlns:TavTracker=\"http://www.tavrelo.com/tracker/\" "
                   "TimeStamp=\"1\" NextUIN=\"700\" dbversion=\"1.0\"><TavTracker:ktDATABASE Name=\"Mine\" IsDatabase=\"-1\" "
                   "UIN=\"0\" CurrentNode=\"" + QByteArray::number(currentNode) + "\">" +
                   folder(1, "Default Collection", numbered(101, 9, str("short"))) +
                   folder(2, "Work", numbered(201, 45, str("Work text line a!BR/!b!BR/!c!BR/!d!BR/!e!BR/!f"))) +
                   folder(3, "Parent", {}, folder(4, "Child", numbered(401, 2, str("child")))) +
                   folder(5, "Sorting", kSorting) + folder(6, "Hostile", kHostile) + "</TavTracker:ktDATABASE></root>");
        file.close();
        startClipvane({path});
        waitForTitle([&](const QString &t) { return t.contains(QFileInfo(path).fileName()); });
        ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
        QFile probe(str(LIST_PROBE_JS));
        ASSERT_TRUE(probe.open(QIODevice::ReadOnly));
        ASSERT_TRUE(m_devTools->evaluate(QString::fromUtf8(probe.readAll())).toBool()) << "the probe loads";
    }

    QJsonValue js(const QString &expression) { return m_devTools->evaluate(expression); }
    QByteArray savedFile() const { return ScratchRegistry::readFile(m_path); }

    // Runs `call` in the viewer once its current script is done (a dialog's opener waits for the
    // dialog), and connects to the dialog (the visibility dialog unless named) once it is loaded.
    std::unique_ptr<DevToolsPage> openVisibilityDialog(const char *call, const char *dialogPage = "/ktVisibilityOptions.htm")
    {
        const QString page = str(dialogPage);
        EXPECT_TRUE(turnUntil([&] { // the last dialog's page is gone
            const QList<QJsonObject> pages = m_devTools->targets();
            return std::none_of(pages.begin(), pages.end(), [&](const QJsonObject &target) {
                return target.value(str("url")).toString().endsWith(page);
            });
        }, kViewerMs));
        js(QStringLiteral("window.dialogDone = false; setTimeout(() => { window.dialogResult = %1; window.dialogDone = true; }, 0); true")
               .arg(str(call)));
        auto dialog = std::make_unique<DevToolsPage>(m_devToolsPort);
        EXPECT_TRUE(dialog->attach(page));
        // Ready once its load (which fills the boxes) is over: a task after the document completed.
        EXPECT_TRUE(turnUntil([&dialog] {
            return dialog->evaluate(str("new Promise((r) => setTimeout(() => r(document.readyState == 'complete' &&"
                                        " !!document.getElementById('OK'))))")).toBool();
        }, kViewerMs));
        return dialog;
    }
    // Script that clicks the dialog's boxes into the given states.
    static QString setBoxes(std::initializer_list<std::pair<const char *, bool>> boxes)
    {
        QString script;
        for (const auto &[id, on] : boxes)
            script += QStringLiteral("if (document.getElementById('%1').checked != %2) document.getElementById('%1').click();")
                          .arg(str(id), str(on ? "true" : "false"));
        return script;
    }

    QString m_path; // the test collection
    QStringList shownUINs()
    {
        QStringList uins;
        for (const QJsonValue uin : js(str("listProbe.uins()")).toArray())
            uins << uin.toString();
        return uins;
    }
    static std::uint32_t dword(const char *name)
    {
        const auto value = registryprobe::rawValue(tavrelo::registry::HKEY_CURRENT_USER,
                                                   str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"), str(name));
        if (!value || value->second.size() != 4)
            return 0xFFFFFFFF;
        return qFromLittleEndian<std::uint32_t>(value->second.constData());
    }
    QStringList messages()
    {
        QStringList texts;
        for (const QJsonObject &message : loggedRequests("message"))
            texts << message.value(str("text")).toString();
        return texts;
    }
};

inline QStringList uinList(std::initializer_list<int> uins)
{
    QStringList list;
    for (const int uin : uins)
        list << QString::number(uin);
    return list;
}

} // namespace
