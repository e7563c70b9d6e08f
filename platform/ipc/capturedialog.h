#pragma once

// The capture dialog kept ready: while the viewer runs, a host process stands by for the
// browser's next capture, its engine started and a hidden dialog window made (htahost
// --capture-standby). It opens one capture dialog for the native-messaging host and then ends
// with it, as a dialog process started for the capture would; the viewer keeps the next one
// ready. One socket per user in the runtime folder, user-only; one request per connection;
// every message is one line of compact JSON:
//
//   standby -> client   {"hello":"capture-dialog","version":1,"pid":N}  as soon as it connects
//   client  -> standby  {"page":"res://…/ktGrab.htm","menuArguments":{"title","url","selectionType","text"}}
//   standby -> client   {"opened":true}                                 the dialog's window is made
//                       {"status":0|1|2,"reason":"…"}                   the dialog has closed
//                       {"refused":"…"}                                 nothing was opened
//
// or, from a viewer that keeps the standby:
//
//   client  -> standby  {"watch":true}
//
// after which nothing more is said: the connection stays open while both live; the next standby
// starts once the watched one's process (`pid`) has gone. A standby that
// has not opened a dialog ends when the last of its watchers has gone. `status` is what a dialog
// process's exit status would be (0 stored, 1 cancelled, 2 failed); `reason` the page's last
// console error line.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace tavrelo::ipc::capturedialog {

inline constexpr int kVersion = 1;
inline constexpr char kHello[] = "capture-dialog";
// The client's wait for the hello: a host that does not answer by then is passed by.
inline constexpr int kHelloMs = 1000;
// The menu arguments are held to what a dialog takes from its command line's file.
inline constexpr qsizetype kMaxMenuArgumentsBytes = 64 * 1024 * 1024;
inline constexpr qsizetype kMaxLineBytes = kMaxMenuArgumentsBytes + 64 * 1024;

// False when TAVRELO_CAPTURE_STANDBY is "0": no viewer keeps a standby, no native host asks one.
bool standbyWanted();

// Where the standby listens, and the lock the one that listens holds.
QString socketPath();
QString lockPath();

// One message as a line.
QByteArray line(const QJsonObject &message);

// Takes the first whole line off `buffer`: nothing while it is incomplete; `malformed` is set
// when the line is not a JSON object or the buffer grew past kMaxLineBytes without one.
std::optional<QJsonObject> takeLine(QByteArray *buffer, bool *malformed);

// The captured browser window, when `value` is an object whose title, url, selectionType and
// text are all strings (other members are dropped).
std::optional<QJsonObject> menuArguments(const QJsonValue &value);

} // namespace tavrelo::ipc::capturedialog
