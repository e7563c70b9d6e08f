#pragma once

// Requests that reach the person at the desktop: message boxes and questions, and addresses
// opened outside the host. Each is logged, and answered from the test surface when one is set.

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace tavrelo::htahost {

// A message box (OK) or an OK/Cancel question; `done` gets true for OK.
void askUser(QWidget *parent, const QString &caption, const QString &text, bool question,
             std::function<void(bool ok)> done);

// Opens an address with the desktop's opener (the user's browser, mail program or viewer).
void openOutside(const QUrl &url);

// Addresses that may be opened outside: http, https, ftp and mailto.
bool isOutsideAddress(const QUrl &url);

} // namespace tavrelo::htahost
