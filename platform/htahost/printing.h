#pragma once

// Printing one frame: its document as it is now is copied into a hidden view, without scripts,
// and printed from there through the platform's print dialog.

#include "objecttable.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUrl>

#include <functional>

class QWebEngineProfile;
class QWidget;

namespace tavrelo::htahost {

class Printing final {
public:
    // The copied document served at res:///$print/<id> while it prints.
    static QByteArray document(const QString &id);

    static void print(QWidget *parent, QWebEngineProfile *profile, const QString &html, const QUrl &base,
                      std::function<void(CallResult)> done);

private:
    static QHash<QString, QByteArray> &documents();
};

} // namespace tavrelo::htahost
