// The Open and Save dialogs, with the flags of the platform's common file dialog honoured by the
// same checks whether a person or the test surface answers.

#include "filedialog.h"

#include "automation/olewindow.h"
#include "testsurface/uirequests.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonObject>
#include <QMessageBox>

namespace tavrelo::mail {

using namespace testsurface;

namespace {

constexpr std::int32_t kOverwritePrompt = 0x2;
constexpr std::int32_t kPathMustExist = 0x800;
constexpr std::int32_t kFileMustExist = 0x1000;
constexpr std::int32_t kCreatePrompt = 0x2000;
constexpr std::int32_t kNoReadOnlyReturn = 0x8000;

struct Request {
    bool save;
    QString title, filter, defaultExtension, initialDir;
    std::int32_t flags;
    bool has(std::int32_t flag) const { return (flags & flag) != 0; }
    // The open form lets a missing file be named when the create question is asked, else when
    // the file need not exist.
    bool existingOnly() const { return !save && has(kFileMustExist) && !has(kCreatePrompt); }
};

// "Name|*.a;*.b|Name|pattern" as Qt name filters "Name (*.a *.b)". The list ends at a name
// without a pattern or at an empty entry, where the common dialog's zero-separated list would end.
// "*.*" means every file there, but only names with a dot to Qt, so it becomes "*".
QStringList nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &pattern : parts.at(i + 1).split(u';')) {
            const QString trimmed = pattern.trimmed();
            if (!trimmed.isEmpty())
                patterns << (trimmed == u"*.*" ? QStringLiteral("*") : trimmed);
        }
        if (parts.at(i).isEmpty() || patterns.isEmpty())
            break;
        filters << QStringLiteral("%1 (%2)").arg(parts.at(i), patterns.join(u' '));
    }
    return filters;
}

QString withDefaultExtension(const QString &path, const QString &extension)
{
    if (path.isEmpty() || extension.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + u'.' + extension;
}

// A question or a refusal: a message box, or an answer of the test surface. True for OK/Yes.
bool ask(QWidget *parent, const QString &caption, const QString &text, bool question)
{
    bool ok;
    if (uiIsScripted()) {
        const std::optional<QJsonValue> answer = takeScriptedAnswer(QStringLiteral("message"));
        ok = !question || !answer || answer->toString() != u"cancel";
    } else if (question) {
        ok = QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    } else {
        QMessageBox::warning(parent, caption, text);
        ok = true;
    }
    logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("message")},
                             {QStringLiteral("caption"), caption},
                             {QStringLiteral("text"), text},
                             {QStringLiteral("buttons"), question ? QStringLiteral("okcancel") : QStringLiteral("ok")},
                             {QStringLiteral("answer"), ok ? QStringLiteral("ok") : QStringLiteral("cancel")}});
    return ok;
}

bool refuse(QWidget *parent, const QString &caption, const QString &text)
{
    ask(parent, caption, text, false);
    return false;
}

// The checks the dialog makes before it takes a choice; false when the choice is refused.
bool acceptChoice(QWidget *parent, const Request &request, const QString &path)
{
    const QString caption =
        request.title.isEmpty() ? (request.save ? QStringLiteral("Save As") : QStringLiteral("Open")) : request.title;
    const QFileInfo file(path);
    const QString name = file.fileName();
    if (request.has(kPathMustExist) && !file.dir().exists())
        return refuse(parent, caption,
                      QStringLiteral("%1\nPath does not exist.\nCheck the path and try again.").arg(path));
    if (file.isDir()) // a folder is opened by the dialog, never chosen
        return false;
    if (file.exists()) {
        if (request.has(kNoReadOnlyReturn) && !file.isWritable())
            return refuse(
                parent, caption,
                QStringLiteral("%1\nThis file is set to read-only.\nTry again with a different file name.").arg(name));
        if (request.save && request.has(kOverwritePrompt))
            return ask(parent, caption, QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(name),
                       true);
        return true;
    }
    if (!request.save && request.has(kCreatePrompt))
        return ask(parent, caption,
                   QStringLiteral("%1\nThis file does not exist.\nDo you want to create it?").arg(name), true);
    if (!request.save && request.has(kFileMustExist))
        return refuse(parent, caption,
                      QStringLiteral("%1\nFile not found.\nCheck the file name and try again.").arg(name));
    return true;
}

QString scriptedChoice(const Request &request)
{
    const QString answer = takeScriptedAnswer(QStringLiteral("file")).value_or(QJsonValue()).toString();
    const QString path = withDefaultExtension(answer, request.defaultExtension);
    return path.isEmpty() || !acceptChoice(nullptr, request, path) ? QString() : path;
}

QString dialogChoice(QWidget *owner, const Request &request)
{
    QFileDialog dialog(owner, request.title);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.existingOnly() ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The checks below ask their own questions, as the platform's dialog does.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QStringList filters = nameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.first());
    }
    if (!request.defaultExtension.isEmpty())
        dialog.setDefaultSuffix(request.defaultExtension);
    if (!request.initialDir.isEmpty())
        dialog.setDirectory(request.initialDir);
    while (dialog.exec() == QDialog::Accepted) {
        const QStringList chosen = dialog.selectedFiles();
        const QString path =
            chosen.isEmpty() ? QString() : withDefaultExtension(chosen.first(), request.defaultExtension);
        if (!path.isEmpty() && acceptChoice(&dialog, request, path))
            return path;
    }
    return {};
}

// The window of the object's site only: the dialog of a page without one has no owner.
QWidget *siteWindow(IUnknown *site)
{
    if (!site)
        return nullptr;
    ComPtr<IOleInPlaceSite> inPlace;
    HWND window = nullptr;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, inPlace.putVoid())) || !inPlace ||
        FAILED(inPlace->GetWindow(&window)))
        return nullptr;
    return window;
}

}

QString browseForFile(bool saveDialog, const QString &title, const QString &filter, const QString &defaultExtension,
                      const QString &initialDir, std::int32_t flags, IUnknown *site)
{
    const Request request{saveDialog, title, filter, defaultExtension, initialDir, flags};
    QString chosen;
    if (uiIsScripted())
        chosen = scriptedChoice(request);
    else if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        chosen = dialogChoice(siteWindow(site), request);
    // else: a process without widgets cannot show a dialog, which counts as a failed dialog.
    logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("file")},
                             {QStringLiteral("save"), request.save},
                             {QStringLiteral("title"), title},
                             {QStringLiteral("filter"), filter},
                             {QStringLiteral("defext"), defaultExtension},
                             {QStringLiteral("initdir"), initialDir},
                             {QStringLiteral("flags"), flags},
                             {QStringLiteral("answer"), chosen}});
    return chosen;
}

} // namespace tavrelo::mail
