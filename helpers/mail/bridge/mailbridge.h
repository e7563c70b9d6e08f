#pragma once

// The work of our Simple MAPI clients: a message's attachments are copied into the outbox and the
// client's mail program is started on them, detached, with a new message open. The program reads
// the copies later, which outlive the call.

#include "mail/programs.h"
#include "mapi/mapi.h"

#include <QStringList>

namespace tavrelo::mailbridge {

// The arguments that open a new message with these files (full paths) attached:
//   thunderbird -compose "attachment='file:///a.t-q,file:///b.t-q'"
//   evolution "mailto:?attach=%2Fa.t-q&attach=%2Fb.t-q"
//   xdg-email --utf8 --attach /a.t-q --attach /b.t-q
// File addresses and mailto values are percent-encoded, so no character of a path can end a
// value early.
QStringList commandLine(mail::ProgramKind kind, const QStringList &attachments);

// MAPISendMail for the program: SUCCESS_SUCCESS once the program was started with the message's
// copied attachments; MAPI_E_FAILURE when there is no message or the program is not installed or
// cannot be started; an attachment's own failure as Outbox::add gives it. Subject, text and
// recipients are not passed on; the program always shows the new message to the user.
ULONG sendMail(mail::ProgramKind kind, const MapiMessage *message);

} // namespace tavrelo::mailbridge
