// The entry of one of our Simple MAPI clients. The library is built once per mail program, with
// CLIPVANE_MAIL_PROGRAM naming the program's kind.

#include "mailbridge.h"

#include <type_traits>

extern "C" __attribute__((visibility("default"))) ULONG MAPISendMail(LHANDLE, ULONG_PTR, lpMapiMessage lpMessage,
                                                                      FLAGS, ULONG)
{
    return tavrelo::mailbridge::sendMail(tavrelo::mail::ProgramKind::CLIPVANE_MAIL_PROGRAM, lpMessage);
}

static_assert(std::is_same_v<decltype(&MAPISendMail), LPMAPISENDMAIL>, "MAPISendMail has the signature callers expect");
