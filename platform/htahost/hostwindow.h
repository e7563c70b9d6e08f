#pragma once

// A window of the HTML Application host: the main window of an application, or a modal dialog
// that a page opened. It applies the application's attributes, closes only after the page's
// beforeunload handlers have run, and finds text on Ctrl+F.

#include "htaattributes.h"
#include "objecttable.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QLineEdit;
class QWebEngineProfile;
class QWebEngineView;

namespace tavrelo::htahost {

class HostPage;

struct WindowOptions {
    QUrl address;
    QString library; // the library the page comes from
    QString commandLine;
    HtaAttributes attributes;
    bool bridged = false;
    bool dialog = false;
    QString features;          // a dialog's size and place ("dialogWidth:300px; center:yes")
    QJsonValue dialogArguments; // copied from the opener
    QJsonObject menuArguments; // the captured browser window, for the capture dialog
};

class HostWindow final : public QWidget {
    Q_OBJECT

public:
    HostWindow(QWebEngineProfile *profile, WindowOptions options, QWidget *opener = nullptr);
    ~HostWindow() override;

    // A dialog window made ahead of need for a page of the application: hidden, its page's engine
    // process already started on an empty page, so that openSpare shows its page sooner.
    static HostWindow *makeSpare(QWebEngineProfile *profile);
    // Opens the spare window as the dialog `options` describe (a page of the application, no opener).
    void openSpare(WindowOptions options);

    HostPage *page() const { return m_page; }
    QWebEngineProfile *profile() const { return m_profile; }
    const WindowOptions &options() const { return m_options; }

    // What every frame learns when it starts (see the page script).
    QJsonObject hello() const;
    // Where the page's content begins on the screen (the window's outer origin includes the
    // decorations a window manager adds).
    QJsonObject contentScreenOrigin() const;
    // The caption of message boxes: the document's title, else the window's.
    QString caption() const;

    // Runs the beforeunload handlers of every frame, then closes. A second request while the
    // handlers run closes at once.
    void requestClose();
    // Closes every window for the end of the session: dialogs first; whatever has not closed
    // after `graceMs` is closed anyway.
    static void closeAll(int graceMs);

    // Opens a page of the application as a modal dialog of this window; `done` gets
    // {"value": returnValue} or {} when the dialog closed without one.
    // `menuArguments`, when it is an object, becomes the dialog's window.external.menuArguments.
    void openDialog(const QUrl &url, const QJsonValue &arguments, const QString &features,
                    std::function<void(CallResult)> done, const QJsonValue &menuArguments = {});
    // Called with the window's returnValue (or nothing) once it has closed.
    void onClosed(std::function<void(std::optional<QJsonValue>)> handler) { m_onClosed = std::move(handler); }
    void setReturnValue(const QJsonValue &value) { m_returnValue = value; }
    // Applies the given members of {width, height, left, top}; answers all four.
    QJsonObject dialogGeometry(const QJsonObject &changes);

    void showFindBar();
    // Saves a picture of the window once its page has loaded, then closes it.
    void screenshotAndClose(const QString &path);

protected:
    void closeEvent(QCloseEvent *event) override;
    // Window messages posted by objects: WM_CLOSE closes the window as its close box would.
    bool event(QEvent *event) override;

private:
    void start(QWidget *opener);
    QString resourceName() const;
    void applyAttributes();
    void applyDialogFeatures(QWidget *opener);
    void finishClose();

    QWebEngineProfile *m_profile;
    WindowOptions m_options;
    HostPage *m_page = nullptr;
    QWebEngineView *m_view = nullptr;
    QWidget *m_findBar = nullptr;
    QLineEdit *m_findText = nullptr;
    enum class CloseState { Open, RunningHandlers, Closed } m_closeState = CloseState::Open;
    std::optional<QJsonValue> m_returnValue;
    std::function<void(std::optional<QJsonValue>)> m_onClosed;
};

} // namespace tavrelo::htahost
