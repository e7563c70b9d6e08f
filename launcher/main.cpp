// Clipvane: starts the viewer.
//
//   Clipvane [FILE...]
//
// A running viewer is handed the files first; when none takes them, the launcher shows its
// splash window, starts the viewer (the helper library's viewer page, run by the program
// registered for HTML Applications) with the files, and keeps the splash until the viewer is
// ready. The exit status is always 0: whatever went wrong has been told in a message box.

#include "errormessage.h"
#include "launcherstrings.h"
#include "splashwindow.h"
#include "viewerprocess.h"

#include "automation/module.h"
#include "object/exports.h"
#include "shell/commandline.h"
#include "shell/desktopidentity.h"
#include "shell/htahandler.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QIcon>

#include <cstdint>
#include <cstring>
#include <memory>

using namespace tavrelo::launcher;
using namespace tavrelo::shell;

namespace {

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 20, 32})
        icon.addFile(QStringLiteral(":/launcher/clipvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

// The launcher's work; its result is never the exit status.
void run(const QString &arguments)
{
    // A viewer that is already running takes the files itself.
    std::int32_t delivered = 0;
    std::int32_t found = 0;
    QuilletHelpersRequestFileOpen(arguments.toUtf8().constData(), &delivered, &found);
    if (delivered == 1)
        return;

    QApplication::setWindowIcon(programIcon());
    const std::unique_ptr<SplashWindow> splash = SplashWindow::create();
    if (splash)
        splash->showCentred();
    // Messages are owned by the splash while it is up, so that none is hidden under it.
    const auto showError = [&splash](const QString &text) {
        showErrorMessage(text, splash && !splash->isClosed() ? splash.get() : nullptr);
    };

    // The helper library holds the viewer's pages; the address names the file it was loaded from.
    QuilletHelpersEmptyFunction();
    const QString library =
        tavrelo::automation::modulePathOf(reinterpret_cast<const void *>(&QuilletHelpersEmptyFunction));
    if (library.isEmpty()) {
        showError(QString::fromUtf8(kHelpersMissing));
        return;
    }

    const HtaOpenCommand command = findHtaOpenCommand();
    if (command.outcome == HtaOpenCommand::Outcome::NoFileClass)
        showError(QString::fromUtf8(kNoHtaHandler));
    if (command.outcome != HtaOpenCommand::Outcome::Found)
        return;

    const QString commandLine = expandCommandTemplate(command.commandTemplate, viewerAddress(library), arguments);
    auto viewer = std::make_shared<ViewerProcess>(ViewerProcess::start(splitCommandLine(commandLine)));
    if (!viewer->started()) {
        if (viewer->error() != 0)
            showError(QString::fromLocal8Bit(std::strerror(viewer->error())));
        return;
    }

    // Until the viewer closes the splash; a viewer that has ended never will. A loop of its own:
    // quitting the application's would also end any message box's.
    if (splash && !splash->isClosed()) {
        splash->startWaiting([viewer] { return viewer->hasEnded(); });
        QEventLoop untilClosed;
        QObject::connect(splash.get(), &SplashWindow::closed, &untilClosed, &QEventLoop::quit);
        untilClosed.exec();
    }
}

}

int main(int argc, char **argv)
{
    // The files as the command line gave them, before Qt takes its own options out of it.
    QStringList files;
    for (int i = 1; i < argc; ++i)
        files += QFile::decodeName(argv[i]);
    const QString arguments = argumentString(files);

    QApplication app(argc, argv);
    applyDesktopIdentity();
    // Message boxes come and go while the splash is up; only the splash ends the waiting.
    QApplication::setQuitOnLastWindowClosed(false);
    run(arguments);
    return 0;
}
