#pragma once

// Serves the res: scheme: resources read out of library files, the host's print copies, and
// the bridge calls of pages.

#include <QWebEngineUrlSchemeHandler>

namespace tavrelo::htahost {

class SchemeHandler final : public QWebEngineUrlSchemeHandler {
    Q_OBJECT

public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    // Registers the scheme with the engine; before the application object exists.
    static void registerScheme();

    void requestStarted(QWebEngineUrlRequestJob *job) override;
};

} // namespace tavrelo::htahost
