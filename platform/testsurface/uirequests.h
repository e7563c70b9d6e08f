#pragma once

// The test surfaces of native user-interface requests (message boxes, questions, menus, file
// dialogs, print dialogs, documents opened outside the host):
//
// TAVRELO_AUTOMATION names a file of JSON lines, each the answer to the next request of its kind,
// consumed in order: {"kind":"message","answer":"ok"}. While the variable is set no native window
// is shown; a request with no answer left gets its kind's default.
//
// TAVRELO_AUTOMATION_LOG names a file to which every request is appended as one JSON line with
// all it showed and its answer.
//
// Several processes may share both files: taking an answer removes its line from the file under
// a lock, and each log line is appended in one write.

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace tavrelo::testsurface {

// True when TAVRELO_AUTOMATION is set: requests are answered from it and never shown.
bool uiIsScripted();

// Takes the first answer of this kind from the TAVRELO_AUTOMATION file, removing its line; no
// value when the variable is not set or no answer of the kind is left. Lines that are not JSON
// objects with a "kind" are left in place and reported once on stderr.
std::optional<QJsonValue> takeScriptedAnswer(const QString &kind);

// Appends `request` (with its "answer") to the TAVRELO_AUTOMATION_LOG file when that is set.
void logUiRequest(const QJsonObject &request);

}
