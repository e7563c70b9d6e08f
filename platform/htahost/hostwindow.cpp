#include "hostwindow.h"

#include "hostpage.h"
#include "resaddress.h"

#include "automation/module.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QPixmap>
#include <QRegularExpression>
#include <QPointer>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace tavrelo::htahost {

namespace {

constexpr QSize kMainSize(1000, 700);
constexpr QSize kDialogSize(400, 300);

struct DialogFeatures {
    std::optional<int> width, height, left, top;
    bool center = true;
    bool resizable = false;
};

std::optional<int> pixels(QString value)
{
    value = value.trimmed().toLower();
    double scale = 1;
    if (value.endsWith(u"px"))
        value.chop(2);
    else if (value.endsWith(u"em")) {
        value.chop(2);
        scale = 16;
    }
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return static_cast<int>(number * scale);
}

bool isYes(const QString &value)
{
    const QString text = value.trimmed().toLower();
    return text == u"yes" || text == u"1" || text == u"on" || text == u"true";
}

// "dialogWidth:300px; dialogHeight:200px; center:yes; resizable:no" (":" or "=", any case).
DialogFeatures parseFeatures(const QString &text)
{
    DialogFeatures features;
    for (const QString &item : text.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype separator = item.indexOf(QRegularExpression(QStringLiteral("[:=]")));
        if (separator < 0)
            continue;
        const QString key = item.left(separator).trimmed().toLower();
        const QString value = item.mid(separator + 1);
        if (key == u"dialogwidth")
            features.width = pixels(value);
        else if (key == u"dialogheight")
            features.height = pixels(value);
        else if (key == u"dialogleft")
            features.left = pixels(value);
        else if (key == u"dialogtop")
            features.top = pixels(value);
        else if (key == u"center")
            features.center = isYes(value);
        else if (key == u"resizable")
            features.resizable = isYes(value);
    }
    return features;
}

QList<HostWindow *> &openWindows()
{
    static QList<HostWindow *> windows;
    return windows;
}

}

HostWindow::HostWindow(QWebEngineProfile *profile, WindowOptions options, QWidget *opener)
    : QWidget(opener, options.dialog ? Qt::Dialog : Qt::Window)
    , m_profile(profile)
    , m_options(std::move(options))
{
    openWindows().append(this);
    m_view = new QWebEngineView(this);
    m_page = new HostPage(profile, this, m_options.bridged);
    m_view->setPage(m_page);

    m_findBar = new QWidget(this);
    auto *findLayout = new QHBoxLayout(m_findBar);
    findLayout->setContentsMargins(4, 2, 4, 2);
    m_findText = new QLineEdit(m_findBar);
    m_findText->setPlaceholderText(tr("Find in page"));
    auto *closeFind = new QToolButton(m_findBar);
    closeFind->setText(QStringLiteral("✕"));
    findLayout->addWidget(m_findText);
    findLayout->addWidget(closeFind);
    m_findBar->hide();
    connect(m_findText, &QLineEdit::textChanged, this, [this](const QString &text) { m_page->findText(text); });
    connect(m_findText, &QLineEdit::returnPressed, this, [this] { m_page->findText(m_findText->text()); });
    const auto hideFind = [this] {
        m_findBar->hide();
        m_page->findText(QString());
        m_view->setFocus();
    };
    connect(closeFind, &QToolButton::clicked, this, hideFind);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), m_findBar, nullptr, nullptr, Qt::WidgetWithChildrenShortcut),
            &QShortcut::activated, this, hideFind);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, &HostWindow::showFindBar);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_findBar);

    connect(m_page, &QWebEnginePage::titleChanged, this,
            [this](const QString &title) { setWindowTitle(title.isEmpty() ? resourceName() : title); });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        if (m_closeState == CloseState::RunningHandlers)
            finishClose();
    });

    if (m_options.address.isEmpty()) {
        m_page->load(QUrl(QStringLiteral("about:blank"))); // a spare: its engine process starts now
        return;
    }
    start(opener);
}

HostWindow::~HostWindow() { openWindows().removeAll(this); }

HostWindow *HostWindow::makeSpare(QWebEngineProfile *profile)
{
    WindowOptions options;
    options.bridged = true;
    options.dialog = true;
    auto *spare = new HostWindow(profile, std::move(options));
    // Made as if shown, never on the screen: the window's surfaces exist before it is needed.
    spare->setAttribute(Qt::WA_DontShowOnScreen);
    spare->show();
    return spare;
}

void HostWindow::openSpare(WindowOptions options)
{
    options.bridged = true; // its page was made for one of the application's
    options.dialog = true;
    m_options = std::move(options);
    hide();
    setAttribute(Qt::WA_DontShowOnScreen, false);
    start(nullptr);
}

void HostWindow::start(QWidget *opener)
{
    setWindowTitle(resourceName());
    if (m_options.dialog)
        applyDialogFeatures(opener);
    else
        applyAttributes();
    m_view->load(m_options.address);
}

QString HostWindow::resourceName() const { return parseResAddress(m_options.address).value_or(ResAddress{}).resource; }

void HostWindow::applyAttributes()
{
    const HtaAttributes &hta = m_options.attributes;
    resize(kMainSize);
    Qt::WindowFlags flags = windowFlags();
    if (!hta.isYes(QStringLiteral("caption"), true))
        flags |= Qt::FramelessWindowHint;
    if (!hta.isYes(QStringLiteral("sysMenu"), true))
        flags = (flags | Qt::CustomizeWindowHint | Qt::WindowTitleHint) &
                ~(Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint);
    if (!hta.isYes(QStringLiteral("maximizeButton"), true))
        flags = (flags | Qt::CustomizeWindowHint) & ~Qt::WindowMaximizeButtonHint;
    if (!hta.isYes(QStringLiteral("minimizeButton"), true))
        flags = (flags | Qt::CustomizeWindowHint) & ~Qt::WindowMinimizeButtonHint;
    if (!hta.isYes(QStringLiteral("showInTaskbar"), true))
        flags |= Qt::Tool; // tool windows stay out of the task bar
    setWindowFlags(flags);

    // The window-class name by which the helper object finds this window.
    const QString applicationName = hta.value(QStringLiteral("applicationName"));
    if (!applicationName.isEmpty())
        setProperty("tavreloWindowClass", applicationName);

    const QString icon = hta.value(QStringLiteral("icon"));
    QByteArray iconData;
    if (!icon.isEmpty() &&
        SUCCEEDED(tavrelo::automation::loadModuleResource(m_options.library, QStringLiteral("HTML"), icon, &iconData))) {
        QPixmap picture;
        if (picture.loadFromData(iconData))
            setWindowIcon(QIcon(picture));
    }

    const QString state = hta.value(QStringLiteral("windowState"), QStringLiteral("normal")).toLower();
    if (state == u"minimize")
        showMinimized();
    else if (state == u"maximize")
        showMaximized();
    else
        show();
}

void HostWindow::applyDialogFeatures(QWidget *opener)
{
    const DialogFeatures features = parseFeatures(m_options.features);
    setWindowModality(Qt::ApplicationModal); // the opener's script waits for the dialog
    resize(features.width.value_or(kDialogSize.width()), features.height.value_or(kDialogSize.height()));
    if (!features.resizable)
        setFixedSize(size());
    const QRect area = opener ? opener->frameGeometry()
                              : (screen() ? screen()->availableGeometry() : QRect(QPoint(), kMainSize));
    QPoint place = features.center ? area.center() - QPoint(width() / 2, height() / 2) : area.topLeft();
    if (features.left)
        place.setX(*features.left);
    if (features.top)
        place.setY(*features.top);
    move(place);
    show();
}

QJsonObject HostWindow::contentScreenOrigin() const
{
    const QPoint origin = m_view->mapToGlobal(QPoint(0, 0));
    return {{QStringLiteral("x"), origin.x()}, {QStringLiteral("y"), origin.y()}};
}

QJsonObject HostWindow::hello() const
{
    QJsonObject answer{{QStringLiteral("commandLine"), m_options.commandLine},
                       {QStringLiteral("home"), QDir::homePath()}};
    // The application element's attributes, for a page whose parser drops the element (a
    // frameset document has no body to keep it in).
    QJsonObject application;
    for (auto it = m_options.attributes.values().cbegin(); it != m_options.attributes.values().cend(); ++it)
        application.insert(it.key(), it.value());
    if (m_options.attributes.present())
        answer.insert(QStringLiteral("application"), application);
    answer.insert(QStringLiteral("dialog"), m_options.dialog ? QJsonObject{{QStringLiteral("arguments"), m_options.dialogArguments}}
                                                           : QJsonValue(QJsonValue::Null));
    answer.insert(QStringLiteral("menuArguments"),
                  m_options.menuArguments.isEmpty() ? QJsonValue(QJsonValue::Null) : m_options.menuArguments);
    return answer;
}

QString HostWindow::caption() const
{
    const QString title = m_page->title();
    return title.isEmpty() || title == m_options.address.toString() ? windowTitle() : title;
}

void HostWindow::requestClose()
{
    switch (m_closeState) {
    case CloseState::Closed:
        return;
    case CloseState::RunningHandlers:
        finishClose();
        return;
    case CloseState::Open:
        break;
    }
    m_closeState = CloseState::RunningHandlers;
    if (!m_options.bridged) {
        finishClose();
        return;
    }
    // Ordinary script, so the handlers can still call the host; a page being dismissed could not.
    QPointer<HostWindow> self(this);
    m_page->runJavaScript(QStringLiteral("window.__tavreloHost ? window.__tavreloHost.runBeforeUnload() : true"),
                          [self](const QVariant &) {
                              if (self)
                                  self->finishClose();
                          });
}

void HostWindow::finishClose()
{
    if (m_closeState == CloseState::Closed)
        return;
    m_closeState = CloseState::Closed;
    if (m_onClosed)
        std::exchange(m_onClosed, nullptr)(m_returnValue);
    close();
    deleteLater();
}

bool HostWindow::event(QEvent *event)
{
    if (event->type() != WindowMessageEvent::kType)
        return QWidget::event(event);
    if (static_cast<WindowMessageEvent *>(event)->message() == WM_CLOSE)
        requestClose();
    return true;
}

void HostWindow::closeEvent(QCloseEvent *event)
{
    if (m_closeState == CloseState::Closed) {
        event->accept();
        return;
    }
    event->ignore();
    requestClose();
}

void HostWindow::closeAll(int graceMs)
{
    const QList<HostWindow *> windows = openWindows();
    for (HostWindow *window : windows)
        window->requestClose();
    QTimer::singleShot(graceMs, qApp, [] {
        for (HostWindow *window : openWindows())
            window->finishClose();
    });
}

void HostWindow::openDialog(const QUrl &url, const QJsonValue &arguments, const QString &features,
                            std::function<void(CallResult)> done, const QJsonValue &menuArguments)
{
    const auto address = parseResAddress(url);
    if (!address || !isTrustedLibrary(address->library)) {
        done(CallResult::failure(E_ACCESSDENIED,
                                 QStringLiteral("Only pages of the application open as dialogs: %1").arg(url.toString())));
        return;
    }
    WindowOptions options;
    options.address = url;
    options.library = address->library;
    options.commandLine = u'"' + url.toString() + u'"';
    options.bridged = true;
    options.dialog = true;
    options.features = features;
    options.dialogArguments = arguments;
    if (menuArguments.isObject()) {
        const QJsonObject captured = menuArguments.toObject();
        for (const char *key : {"title", "url", "selectionType", "text"}) {
            if (!captured.value(QLatin1String(key)).isString()) {
                done(CallResult::failure(E_INVALIDARG, QStringLiteral("The captured window has no %1").arg(QLatin1String(key))));
                return;
            }
        }
        options.menuArguments = captured;
    }
    auto *dialog = new HostWindow(m_profile, std::move(options), this);
    dialog->m_onClosed = [done = std::move(done)](std::optional<QJsonValue> value) {
        done({value ? QJsonObject{{QStringLiteral("value"), *value}} : QJsonObject()});
    };
}

QJsonObject HostWindow::dialogGeometry(const QJsonObject &changes)
{
    QRect place = geometry();
    if (changes.value(QStringLiteral("width")).isDouble())
        place.setWidth(changes.value(QStringLiteral("width")).toInt());
    if (changes.value(QStringLiteral("height")).isDouble())
        place.setHeight(changes.value(QStringLiteral("height")).toInt());
    if (changes.value(QStringLiteral("left")).isDouble())
        place.moveLeft(changes.value(QStringLiteral("left")).toInt());
    if (changes.value(QStringLiteral("top")).isDouble())
        place.moveTop(changes.value(QStringLiteral("top")).toInt());
    if (place != geometry()) {
        const bool fixed = minimumSize() == maximumSize();
        if (fixed)
            setFixedSize(place.size()); // a dialog that is not resizable may still size itself
        setGeometry(place);
    }
    return {{QStringLiteral("width"), place.width()},
            {QStringLiteral("height"), place.height()},
            {QStringLiteral("left"), place.left()},
            {QStringLiteral("top"), place.top()}};
}

void HostWindow::showFindBar()
{
    m_findBar->show();
    m_findText->setFocus();
    m_findText->selectAll();
}

void HostWindow::screenshotAndClose(const QString &path)
{
    connect(m_page, &QWebEnginePage::loadFinished, this, [this, path] {
        // Give the compositor a moment to put the page on screen.
        QTimer::singleShot(1500, this, [this, path] {
            // Whole or not at all: whoever waits for the file never sees half a picture.
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || !grab().save(&file, "PNG") || !file.commit())
                qWarning("Cannot save the screenshot to %s", qPrintable(path));
            requestClose();
        });
    });
}

} // namespace tavrelo::htahost
