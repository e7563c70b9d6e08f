#pragma once

#include <QString>

class QWidget;

namespace tavrelo::launcher {

// Tells the person about a failure: a message box with the launcher's caption, an error icon and
// an OK button, shown until it is answered, owned by `owner` (the splash while it is up, so the
// box stays above it) or by no window. Under the test surfaces (TAVRELO_AUTOMATION) nothing is
// shown and the scripted answer is taken instead; either way the request is logged, with the
// owner's title (null without an owner).
void showErrorMessage(const QString &text, QWidget *owner);

}
