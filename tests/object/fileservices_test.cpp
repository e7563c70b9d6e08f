// The helper object's file services against real files and real Qt dialogs: the Open and Save
// dialogs (answered from the test surface, and as a person would in the real dialog), free names
// in the temporary folder, the library's folder, a document's address, and drag and drop.

#include "testsite.h"

#include "automation/uirequests.h"
#include "object/quillet.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

void ensureApplication()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "object_tests";
    static char *argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

void writeFile(const QString &path, const QByteArray &bytes = "x")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The test surface: answers written before a call, requests read back from the log.
class Surface {
public:
    Surface()
    {
        qputenv("TAVRELO_AUTOMATION", m_dir.filePath(QStringLiteral("answers.jsonl")).toUtf8());
        qputenv("TAVRELO_AUTOMATION_LOG", m_dir.filePath(QStringLiteral("log.jsonl")).toUtf8());
        answers({});
    }
    ~Surface()
    {
        qunsetenv("TAVRELO_AUTOMATION");
        qunsetenv("TAVRELO_AUTOMATION_LOG");
    }
    void answers(const QList<QJsonObject> &list)
    {
        QByteArray text;
        for (const QJsonObject &answer : list)
            text += QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
        writeFile(m_dir.filePath(QStringLiteral("answers.jsonl")), text);
    }
    QList<QJsonObject> log() const
    {
        QFile file(m_dir.filePath(QStringLiteral("log.jsonl")));
        QList<QJsonObject> entries;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    entries << QJsonDocument::fromJson(line).object();
        return entries;
    }
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

QJsonObject file(const QString &answer) { return {{QStringLiteral("kind"), QStringLiteral("file")}, {QStringLiteral("answer"), answer}}; }
QJsonObject message(const QString &answer) { return {{QStringLiteral("kind"), QStringLiteral("message")}, {QStringLiteral("answer"), answer}}; }

constexpr std::int32_t kOpenWithCreatePrompt = 0x0028B804; // a path and a title only
constexpr std::int32_t kImport = 0x00288804;               // no create prompt: FileMustExist taken away
constexpr std::int32_t kMustExist = 0x00289804;            // the file must exist, no create prompt
constexpr std::int32_t kHtmlExport = 0x0028B806;           // the save form

QString browse(Quillet *helper, bool save, std::int32_t flags, const QString &extension = QStringLiteral("t-q"),
               const QString &filter = QStringLiteral("Clipvane files|*.t-q|All files|*.*"),
               const QString &title = QStringLiteral("Open"), const QString &folder = QString())
{
    QString chosen = QStringLiteral("untouched");
    EXPECT_EQ(helper->ShowBrowseDialogBox(save ? 1 : 0, title, filter, extension, folder, flags, &chosen), S_OK);
    return chosen;
}

class FileDialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
    ComPtr<Quillet> m_helper = Quillet::create();
};

}

TEST_F(FileDialogs, TheFlagsReachTheDialogUnchangedWithEverythingItShows)
{
    Surface surface;
    const QString existing = surface.folder() + QStringLiteral("/there.t-q");
    writeFile(existing);
    surface.answers({file(existing), file(existing), file(QString())});
    EXPECT_EQ(browse(m_helper.get(), false, kOpenWithCreatePrompt, QStringLiteral("t-q"),
                     QStringLiteral("Clipvane files|*.t-q|All files|*.*"), QStringLiteral("Open"), surface.folder()),
              existing);
    EXPECT_EQ(browse(m_helper.get(), false, kImport, QStringLiteral("t-q"), QStringLiteral("Clipvane files|*.t-q|All files|*.*"),
                     QStringLiteral("Import")),
              existing);
    EXPECT_EQ(browse(m_helper.get(), true, kHtmlExport, QStringLiteral("htm"), QStringLiteral("HTML files|*.htm|All files|*.*"),
                     QString()),
              QString()) << "cancelled";

    const QList<QJsonObject> log = surface.log();
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0].value(QStringLiteral("flags")).toInt(), 0x0028B804);
    EXPECT_EQ(log[0].value(QStringLiteral("save")).toBool(), false);
    EXPECT_EQ(log[0].value(QStringLiteral("initdir")).toString(), surface.folder());
    EXPECT_EQ(log[0].value(QStringLiteral("filter")).toString(), QStringLiteral("Clipvane files|*.t-q|All files|*.*"));
    EXPECT_EQ(log[0].value(QStringLiteral("answer")).toString(), existing);
    EXPECT_EQ(log[1].value(QStringLiteral("flags")).toInt(), 0x00288804);
    EXPECT_EQ(log[1].value(QStringLiteral("title")).toString(), QStringLiteral("Import"));
    EXPECT_EQ(log[2].value(QStringLiteral("flags")).toInt(), 0x0028B806);
    EXPECT_EQ(log[2].value(QStringLiteral("save")).toBool(), true);
    EXPECT_EQ(log[2].value(QStringLiteral("defext")).toString(), QStringLiteral("htm"));
    EXPECT_EQ(log[2].value(QStringLiteral("answer")).toString(), QString());

    // No answer left: cancelled, and nothing waits for a person.
    EXPECT_EQ(browse(m_helper.get(), false, kImport), QString());
    EXPECT_EQ(m_helper->ShowBrowseDialogBox(0, {}, {}, {}, {}, 0, nullptr), E_POINTER);
}

TEST_F(FileDialogs, TheFlagsDecideWhatMayBeChosen)
{
    Surface surface;
    const QString missing = surface.folder() + QStringLiteral("/new.t-q");
    const QString existing = surface.folder() + QStringLiteral("/old.htm");
    writeFile(existing);

    // A missing file: refused when it must exist, asked about with the create prompt.
    // (A refusal is a message box too, and takes a message answer.)
    surface.answers({file(missing), message(QStringLiteral("ok")), file(missing), message(QStringLiteral("ok")), file(missing),
                     message(QStringLiteral("cancel"))});
    EXPECT_EQ(browse(m_helper.get(), false, kMustExist), QString());
    EXPECT_EQ(browse(m_helper.get(), false, kOpenWithCreatePrompt), missing);
    EXPECT_EQ(browse(m_helper.get(), false, kOpenWithCreatePrompt), QString());
    QList<QJsonObject> log = surface.log();
    ASSERT_EQ(log.size(), 6);
    EXPECT_EQ(log[0].value(QStringLiteral("kind")).toString(), QStringLiteral("message"));
    EXPECT_TRUE(log[0].value(QStringLiteral("text")).toString().contains(QStringLiteral("File not found.")));
    EXPECT_EQ(log[2].value(QStringLiteral("text")).toString(), QStringLiteral("new.t-q\nThis file does not exist.\nDo you want to create it?"));
    EXPECT_EQ(log[2].value(QStringLiteral("buttons")).toString(), QStringLiteral("okcancel"));

    // The import's flags leave it to the caller whether the file is there.
    surface.answers({file(missing)});
    EXPECT_EQ(browse(m_helper.get(), false, kImport), missing);
    EXPECT_EQ(surface.log().size(), 7) << "no question";

    // Saving over a file asks first; the default extension is added to a bare name.
    surface.answers({file(existing), message(QStringLiteral("cancel")), file(surface.folder() + QStringLiteral("/old")),
                     message(QStringLiteral("ok"))});
    EXPECT_EQ(browse(m_helper.get(), true, kHtmlExport, QStringLiteral("htm")), QString());
    EXPECT_EQ(browse(m_helper.get(), true, kHtmlExport, QStringLiteral("htm")), existing);
    log = surface.log();
    EXPECT_EQ(log[7].value(QStringLiteral("text")).toString(), QStringLiteral("old.htm already exists.\nDo you want to replace it?"));
    // Without the overwrite prompt no question is asked.
    surface.answers({file(existing)});
    EXPECT_EQ(browse(m_helper.get(), true, kHtmlExport & ~0x2, QStringLiteral("htm")), existing);
    EXPECT_EQ(surface.log().last().value(QStringLiteral("kind")).toString(), QStringLiteral("file"));

    // A path in a folder that is not there is refused.
    surface.answers({file(surface.folder() + QStringLiteral("/no/such/folder/x.t-q"))});
    EXPECT_EQ(browse(m_helper.get(), true, kHtmlExport), QString());
}

TEST_F(FileDialogs, TheRealDialogShowsTheFiltersTitleFolderAndSuffix)
{
    QTemporaryDir folder;
    const QString chosen = folder.filePath(QStringLiteral("page.htm"));
    // The dialog is found when it shows, inspected, and answered as a person would.
    struct Seen {
        QStringList filters;
        QString selectedFilter, title, directory, suffix;
        QFileDialog::FileMode mode = QFileDialog::Directory;
        QFileDialog::AcceptMode accept = QFileDialog::AcceptOpen;
    } seen;
    const auto answerWith = [&](const QString &path) {
        auto *poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, poll, [&seen, path, poll] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<QFileDialog *>(widget);
                if (!dialog || !dialog->isVisible())
                    continue;
                seen = {dialog->nameFilters(), dialog->selectedNameFilter(), dialog->windowTitle(),
                        dialog->directory().absolutePath(), dialog->defaultSuffix(), dialog->fileMode(), dialog->acceptMode()};
                poll->deleteLater();
                if (path.isEmpty()) {
                    dialog->reject();
                } else {
                    dialog->selectFile(path);
                    QMetaObject::invokeMethod(dialog, "accept"); // what the dialog's button does
                }
                return;
            }
        });
        poll->start(10);
    };

    answerWith(chosen);
    EXPECT_EQ(browse(m_helper.get(), true, 0x00288806 & ~0x2, QStringLiteral("htm"), QStringLiteral("HTML files|*.htm;*.html|All files|*.*"),
                     QStringLiteral("Export"), folder.path()),
              chosen);
    EXPECT_EQ(seen.filters, (QStringList{QStringLiteral("HTML files (*.htm *.html)"), QStringLiteral("All files (*.*)")}));
    EXPECT_EQ(seen.selectedFilter, QStringLiteral("HTML files (*.htm *.html)"));
    EXPECT_EQ(seen.title, QStringLiteral("Export"));
    EXPECT_EQ(seen.directory, QFileInfo(folder.path()).absoluteFilePath());
    EXPECT_EQ(seen.suffix, QStringLiteral("htm"));
    EXPECT_EQ(seen.accept, QFileDialog::AcceptSave);

    answerWith(QString());
    EXPECT_EQ(browse(m_helper.get(), false, kMustExist), QString()) << "cancelled";
    EXPECT_EQ(seen.mode, QFileDialog::ExistingFile);
    EXPECT_EQ(seen.accept, QFileDialog::AcceptOpen);

    answerWith(QString());
    EXPECT_EQ(browse(m_helper.get(), false, kOpenWithCreatePrompt), QString());
    EXPECT_EQ(seen.mode, QFileDialog::AnyFile) << "a file to be created may be named";
}

TEST(TemporaryFiles, FreeNamesAreFoundByCounting)
{
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    ComPtr<Quillet> helper = Quillet::create();
    const QString folder = QDir::tempPath();
    QString path;
    ASSERT_EQ(helper->GetTempFilePath(QStringLiteral("Quotes"), QStringLiteral("t-q"), &path), S_OK);
    EXPECT_EQ(path, folder + QStringLiteral("/Quotes.t-q"));
    EXPECT_FALSE(QFileInfo::exists(path)) << "the name is free for the caller";
    writeFile(path);
    helper->GetTempFilePath(QStringLiteral("Quotes"), QStringLiteral("t-q"), &path);
    EXPECT_EQ(path, folder + QStringLiteral("/Quotes (1).t-q"));
    writeFile(path);
    helper->GetTempFilePath(QStringLiteral("Quotes"), QStringLiteral("t-q"), &path);
    EXPECT_EQ(path, folder + QStringLiteral("/Quotes (2).t-q"));

    helper->GetTempFilePath(QStringLiteral("Bare"), QStringLiteral(""), &path);
    EXPECT_EQ(path, folder + QStringLiteral("/Bare."));
    helper->GetTempFilePath(QStringLiteral("../a/b"), QStringLiteral("t/q"), &path);
    EXPECT_EQ(path, folder + QStringLiteral("/.._a_b.t_q")) << "a name never leads out of the folder";

    EXPECT_EQ(helper->GetTempFilePath(QString(), QStringLiteral("t-q"), &path), E_POINTER);
    EXPECT_EQ(helper->GetTempFilePath(QStringLiteral("Quotes"), QStringLiteral("t-q"), nullptr), E_POINTER);

    qputenv("TMPDIR", (temp.path() + QStringLiteral("/missing")).toUtf8());
    path = QStringLiteral("untouched");
    EXPECT_EQ(helper->GetTempFilePath(QStringLiteral("Quotes"), QStringLiteral("t-q"), &path), S_OK);
    EXPECT_EQ(path, QString()) << "no usable temporary folder";
    qunsetenv("TMPDIR");
}

namespace {

// A page document as the host passes it; `fails` makes its address unreadable.
class TestDocument final : public IHTMLDocument2 {
public:
    TestDocument(QString url, bool fails) : m_url(std::move(url)), m_fails(fails) {}
    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IHTMLDocument2) {
            *object = static_cast<IHTMLDocument2 *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; } // lives on the test's stack
    HRESULT GetTypeInfoCount(std::uint32_t *count) override { *count = 0; return S_OK; }
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const tavrelo::automation::TypeInfo> *) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(const IID &, const QStringList &, LCID, DISPID *) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID, const IID &, LCID, std::uint16_t, DispParams &, Variant *, ExcepInfo *, std::uint32_t *) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT get_locationString(QString *url) override
    {
        if (m_fails)
            return E_FAIL;
        *url = m_url;
        return S_OK;
    }

private:
    QString m_url;
    bool m_fails;
};

}

TEST(Paths, BaseDirectoryAndDocumentAddress)
{
    ComPtr<Quillet> helper = Quillet::create();
    QString directory;
    ASSERT_EQ(helper->GetBaseDirectory(&directory), S_OK);
    EXPECT_EQ(QFileInfo(directory).canonicalFilePath(), QFileInfo(QStringLiteral(TAVRELO_HELPERS_LIBRARY)).canonicalPath());
    EXPECT_FALSE(directory.endsWith(u'/'));
    EXPECT_EQ(helper->GetBaseDirectory(nullptr), E_POINTER);

    TestDocument page(QStringLiteral("https://example.org/article?id=7"), false);
    TestDocument unreadable(QStringLiteral("https://example.org/"), true);
    Variant url;
    ASSERT_EQ(helper->GetDocumentURL(&page, &url), S_OK);
    EXPECT_EQ(url.vt(), VT_BSTR);
    EXPECT_EQ(url.toString(), QStringLiteral("https://example.org/article?id=7"));
    for (IDispatch *other : {static_cast<IDispatch *>(&unreadable), static_cast<IDispatch *>(nullptr)}) {
        url = Variant(42);
        ASSERT_EQ(helper->GetDocumentURL(other, &url), S_OK);
        EXPECT_EQ(url.vt(), VT_BSTR);
        EXPECT_EQ(url.toString(), QString());
    }
    EXPECT_EQ(helper->GetDocumentURL(&page, nullptr), E_INVALIDARG);
}

TEST(DragAndDrop, ARevokedWindowAcceptsNoDropsAnyMore)
{
    ensureApplication();
    QWidget window, other;
    auto *child = new QWidget(&window);
    child->setAcceptDrops(true);
    window.setAcceptDrops(true);
    other.setAcceptDrops(true);
    ComPtr<Quillet> helper = Quillet::create();
    TestSite site(true, &window);
    ASSERT_EQ(helper->SetSite(&site), S_OK);
    ASSERT_EQ(helper->DoRevokeDragDrop(), S_OK);
    EXPECT_FALSE(window.acceptDrops());
    EXPECT_FALSE(child->acceptDrops());

    // A widget made later (as the engine makes its views) is refused too; another window is not.
    auto *later = new QWidget(&window);
    later->setAcceptDrops(true);
    QMimeData data;
    data.setText(QStringLiteral("dropped"));
    const auto accepted = [&data](QWidget *target) {
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(true);
        const bool filtered = !QCoreApplication::sendEvent(target, &enter) && !enter.isAccepted();
        return !filtered && enter.isAccepted();
    };
    EXPECT_FALSE(accepted(later));
    EXPECT_TRUE(accepted(&other));
    helper->SetSite(nullptr);

    // Without a window there is nothing to do, and nothing fails.
    ComPtr<Quillet> alone = Quillet::create();
    EXPECT_EQ(alone->DoRevokeDragDrop(), S_OK);
}
