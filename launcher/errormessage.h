#pragma once

#include <QString>

namespace tavrelo::launcher {

// Tells the person about a failure: a message box with the launcher's caption, an error icon and
// an OK button, shown until it is answered. Under the test surfaces (TAVRELO_AUTOMATION) nothing
// is shown and the scripted answer is taken instead; either way the request is logged.
void showErrorMessage(const QString &text);

}
