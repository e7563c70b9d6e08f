// ShowBrowseDialogBox: the flags of the common file dialog decide which choices stand, whether the
// test surface answers or a person answers the real QFileDialog.

#include "support/mailtest.h"
#include "support/testsite.h"

#include "object/quillet.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

// The flags the pages pass: a path and a title only; the import (FileMustExist taken away again);
// a file that must exist without the create question; the HTML export's save form.
constexpr std::int32_t kOpen = 0x0028B804;
constexpr std::int32_t kImport = 0x00288804;
constexpr std::int32_t kMustExist = 0x00289804;
constexpr std::int32_t kSave = 0x0028B806;
constexpr std::int32_t kOverwritePrompt = 0x2;

const QString kFilter = QStringLiteral("HTML files|*.htm|All files|*.*");

class FileDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    QString browse(bool save, std::int32_t flags, const QString &title = QString(), const QString &folder = QString(),
                   const QString &extension = QStringLiteral("htm"))
    {
        QString chosen = QStringLiteral("untouched");
        EXPECT_EQ(m_helper->ShowBrowseDialogBox(save ? 1 : 0, title, kFilter, extension, folder, flags, &chosen), S_OK);
        return chosen;
    }

    ComPtr<Quillet> m_helper = Quillet::create();
};

QString text(const QJsonObject &entry) { return entry.value(QStringLiteral("text")).toString(); }

}

TEST_F(FileDialogTest, everyScriptedRequestIsLoggedWithItsFlagsAsReceived)
{
    Surface surface;
    const QString existing = surface.path("there.htm");
    writeFile(existing);
    surface.answers({answer("file", existing), answer("file", existing), answer("file", QString())});
    EXPECT_EQ(browse(false, kOpen, QStringLiteral("Open"), surface.folder()), existing);
    EXPECT_EQ(browse(false, kImport, QStringLiteral("Import"), QString(), QStringLiteral("t-q")), existing);
    EXPECT_EQ(browse(true, kSave, QStringLiteral("Export")), QString()) << "an empty answer cancels";
    EXPECT_EQ(browse(false, kOpen), QString()) << "no answer left cancels";

    const QList<QJsonObject> log = surface.log();
    ASSERT_EQ(log.size(), 4);
    const auto expect = [&](int i, bool save, const char *title, const QString &folder, const char *extension,
                            std::int32_t flags, const QString &chosen) {
        const QJsonObject expected{{QStringLiteral("kind"), QStringLiteral("file")},
                                   {QStringLiteral("save"), save},
                                   {QStringLiteral("title"), QLatin1String(title)},
                                   {QStringLiteral("filter"), kFilter},
                                   {QStringLiteral("defext"), QLatin1String(extension)},
                                   {QStringLiteral("initdir"), folder},
                                   {QStringLiteral("flags"), flags},
                                   {QStringLiteral("answer"), chosen}};
        EXPECT_EQ(log[i], expected) << QJsonDocument(log[i]).toJson().toStdString();
    };
    expect(0, false, "Open", surface.folder(), "htm", 0x0028B804, existing);
    expect(1, false, "Import", QString(), "t-q", 0x00288804, existing);
    expect(2, true, "Export", QString(), "htm", 0x0028B806, QString());
    expect(3, false, "", QString(), "htm", 0x0028B804, QString());

    EXPECT_EQ(m_helper->ShowBrowseDialogBox(0, {}, {}, {}, {}, kOpen, nullptr), E_POINTER);
}

TEST_F(FileDialogTest, theFlagsDecideWhichScriptedChoicesStand)
{
    Surface surface;
    const QString existing = surface.path("old.htm");
    const QString missing = surface.path("new.htm");
    writeFile(existing);
    const QString replace = QStringLiteral("old.htm already exists.\nDo you want to replace it?");
    const QString create = QStringLiteral("new.htm\nThis file does not exist.\nDo you want to create it?");
    const QString notFound = QStringLiteral("new.htm\nFile not found.\nCheck the file name and try again.");
    const QString gone = surface.path("gone/x.htm");
    const QString noFolder = gone + QStringLiteral("\nPath does not exist.\nCheck the path and try again.");
    struct Case {
        const char *what;
        bool save;
        std::int32_t flags;
        QString path, reply, expected, question;
    } const cases[] = {
        {"an existing file opens", false, kImport, existing, {}, existing, {}},
        {"the import leaves a missing file to its caller", false, kImport, missing, {}, missing, {}},
        {"a file that must exist is refused", false, kMustExist, missing, QStringLiteral("ok"), {}, notFound},
        {"the create question wins over must-exist", false, kOpen, missing, QStringLiteral("ok"), missing, create},
        {"a create question answered no", false, kOpen, missing, QStringLiteral("cancel"), {}, create},
        {"an existing file needs no create question", false, kOpen, existing, {}, existing, {}},
        {"replacing asks first", true, kSave, existing, QStringLiteral("ok"), existing, replace},
        {"replacing answered no", true, kSave, existing, QStringLiteral("cancel"), {}, replace},
        {"no overwrite prompt, no question", true, kSave & ~kOverwritePrompt, existing, {}, existing, {}},
        {"the default extension is added", true, kSave, surface.path("old"), QStringLiteral("ok"), existing, replace},
        {"a missing folder is refused", true, kSave, gone, QStringLiteral("ok"), {}, noFolder},
        {"a missing folder passes without path-must-exist", true, 0, gone, {}, gone, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QList<QJsonObject> answers{answer("file", c.path)};
        if (!c.reply.isEmpty())
            answers << answer("message", c.reply);
        surface.answers(answers);
        EXPECT_EQ(browse(c.save, c.flags), c.expected);
        const QList<QJsonObject> log = surface.log();
        ASSERT_EQ(log.size(), c.question.isEmpty() ? 1 : 2);
        if (!c.question.isEmpty()) {
            EXPECT_EQ(log[0].value(QStringLiteral("kind")).toString(), QStringLiteral("message"));
            EXPECT_EQ(text(log[0]), c.question);
            EXPECT_EQ(log[0].value(QStringLiteral("answer")).toString(), c.reply);
        }
        EXPECT_EQ(log.last().value(QStringLiteral("answer")).toString(), c.expected);
    }
}

TEST_F(FileDialogTest, aReadOnlyFileIsRefusedWithNoReadOnlyReturn)
{
    Surface surface;
    const QString locked = surface.path("locked.htm");
    writeFile(locked);
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadUser));
    if (QFileInfo(locked).isWritable())
        GTEST_SKIP() << "this user may write any file";
    surface.answers({answer("file", locked), answer("file", locked)});
    EXPECT_EQ(browse(false, kOpen), QString());
    EXPECT_EQ(text(surface.log().value(0)),
              QStringLiteral("locked.htm\nThis file is set to read-only.\nTry again with a different file name."));
    surface.answers({answer("file", locked)});
    EXPECT_EQ(browse(false, kOpen & ~0x8000), locked);
}

namespace {

// Answers the real dialogs as a person would: each step waits (polling the event loop, no sleep)
// for a visible window of its type and acts on it. Steps left when the call returns fail the test.
class Person final {
public:
    template <typename Window>
    void then(std::function<void(Window *)> act)
    {
        m_steps.push_back([act](QWidget *widget) {
            auto *window = qobject_cast<Window *>(widget);
            if (!window || !window->isVisible())
                return false;
            act(window);
            return true;
        });
    }

    Person()
    {
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (QWidget *window : windows) {
                if (!m_steps.empty() && m_steps.front()(window)) {
                    m_steps.erase(m_steps.begin());
                    m_idle = 0;
                    return;
                }
            }
            // Ten seconds without a step taken, while the call still waits: a window expected did
            // not appear, or one not expected stays open. Close them rather than hang.
            if (++m_idle > 1000) {
                ADD_FAILURE() << "the dialogs did not go as expected; " << m_steps.size() << " steps left";
                m_steps.clear();
                m_idle = 0;
                for (QWidget *window : windows)
                    if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
                        dialog->reject();
            }
        });
        m_poll.start(10);
    }
    ~Person() { EXPECT_TRUE(m_steps.empty()) << m_steps.size() << " steps not taken"; }

private:
    std::vector<std::function<bool(QWidget *)>> m_steps;
    QTimer m_poll;
    int m_idle = 0;
};

struct Seen {
    QStringList filters;
    QString selectedFilter, title, directory, suffix;
    QFileDialog::FileMode mode = QFileDialog::Directory;
    QFileDialog::AcceptMode accept = QFileDialog::AcceptOpen;
    QWidget *owner = nullptr;
};

std::function<void(QFileDialog *)> look(Seen *seen, const QString &choose)
{
    return [seen, choose](QFileDialog *dialog) {
        *seen = {dialog->nameFilters(), dialog->selectedNameFilter(), dialog->windowTitle(),
                 dialog->directory().absolutePath(), dialog->defaultSuffix(), dialog->fileMode(),
                 dialog->acceptMode(), dialog->parentWidget()};
        if (choose.isEmpty()) {
            dialog->reject();
            return;
        }
        // Typed into the file name box, as a person does (selectFile leaves a focused box alone).
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name) {
            ADD_FAILURE() << "the dialog has no file name box";
            dialog->reject();
            return;
        }
        name->setText(choose);
        QMetaObject::invokeMethod(dialog, "accept"); // what the dialog's own button does
    };
}

}

TEST_F(FileDialogTest, theRealDialogShowsWhatThePageAsked)
{
    Surface surface(false); // logged only: a person answers
    QWidget frame;
    QWidget *view = new QWidget(&frame);
    TestSite site(true, view);
    ASSERT_EQ(m_helper->SetSite(&site), S_OK);
    const QString chosen = surface.path("page.htm");
    Seen seen;
    {
        Person person;
        person.then<QFileDialog>(look(&seen, surface.path("page")));
        EXPECT_EQ(browse(true, kSave, QStringLiteral("Export"), surface.folder()), chosen);
    }
    EXPECT_EQ(seen.filters, (QStringList{QStringLiteral("HTML files (*.htm)"), QStringLiteral("All files (*)")}));
    EXPECT_EQ(seen.selectedFilter, QStringLiteral("HTML files (*.htm)"));
    EXPECT_EQ(seen.title, QStringLiteral("Export"));
    EXPECT_EQ(seen.directory, QFileInfo(surface.folder()).absoluteFilePath());
    EXPECT_EQ(seen.suffix, QStringLiteral("htm"));
    EXPECT_EQ(seen.accept, QFileDialog::AcceptSave);
    EXPECT_EQ(seen.owner, view) << "the site's own window, not its top-level window";
    EXPECT_EQ(surface.log().value(0).value(QStringLiteral("answer")).toString(), chosen);
    EXPECT_EQ(surface.log().value(0).value(QStringLiteral("flags")).toInt(), kSave);
    ASSERT_EQ(m_helper->SetSite(nullptr), S_OK);

    // The open forms, cancelled. Without a site there is no owner, even beside a named window.
    frame.setProperty("tavreloWindowClass", QStringLiteral("TavTracker"));
    struct Case {
        std::int32_t flags;
        QFileDialog::FileMode mode;
    } const cases[] = {
        {kMustExist, QFileDialog::ExistingFile}, {kOpen, QFileDialog::AnyFile}, {kImport, QFileDialog::AnyFile}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        {
            Person person;
            person.then<QFileDialog>(look(&seen, QString()));
            EXPECT_EQ(browse(false, c.flags), QString()) << "cancelled";
        }
        EXPECT_EQ(seen.mode, c.mode);
        EXPECT_EQ(seen.accept, QFileDialog::AcceptOpen);
        EXPECT_EQ(seen.title, QStringLiteral("Open")) << "an empty title gives the dialog's own";
        EXPECT_EQ(seen.owner, nullptr);
    }
}

TEST_F(FileDialogTest, aQuestionAnsweredNoReturnsToTheRealDialog)
{
    Surface surface(false);
    const QString existing = surface.path("old.htm");
    writeFile(existing);
    Seen first, second;
    QString asked;
    {
        Person person;
        person.then<QFileDialog>(look(&first, existing));
        person.then<QMessageBox>([&asked](QMessageBox *box) {
            asked = box->text();
            EXPECT_TRUE(box->parentWidget() && qobject_cast<QFileDialog *>(box->parentWidget()->window()));
            box->button(QMessageBox::No)->click();
        });
        person.then<QFileDialog>(look(&second, existing));
        person.then<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
        EXPECT_EQ(browse(true, kSave, QString(), surface.folder()), existing);
    }
    EXPECT_EQ(asked, QStringLiteral("old.htm already exists.\nDo you want to replace it?"));
    EXPECT_EQ(second.title, QStringLiteral("Save As"));
    const QList<QJsonObject> log = surface.log();
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0].value(QStringLiteral("answer")).toString(), QStringLiteral("cancel"));
    EXPECT_EQ(log[1].value(QStringLiteral("answer")).toString(), QStringLiteral("ok"));
    EXPECT_EQ(log[2].value(QStringLiteral("kind")).toString(), QStringLiteral("file"));
    EXPECT_EQ(log[2].value(QStringLiteral("answer")).toString(), existing);
}
