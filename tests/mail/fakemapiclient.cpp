// A mail client library for the tests: its MAPISendMail writes what it received, as name=value
// lines, to the file $FAKE_MAPI_RECORD, keeps a copy of the attachment as $FAKE_MAPI_KEEP when
// that is set, and returns the number in $FAKE_MAPI_RESULT.

#include "mapi/mapi.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

int isNull(const void *pointer) { return pointer == nullptr ? 1 : 0; }

void copyFile(const char *from, const char *to)
{
    std::FILE *in = std::fopen(from, "rb");
    std::FILE *out = in ? std::fopen(to, "wb") : nullptr;
    char buffer[4096];
    for (std::size_t got; out && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        std::fwrite(buffer, 1, got, out);
    if (out)
        std::fclose(out);
    if (in)
        std::fclose(in);
}

}

extern "C" __attribute__((visibility("default"))) ULONG MAPISendMail(LHANDLE session, ULONG_PTR parent,
                                                                      lpMapiMessage message, FLAGS flags,
                                                                      ULONG reserved)
{
    const char *recordPath = std::getenv("FAKE_MAPI_RECORD");
    const char *result = std::getenv("FAKE_MAPI_RESULT");
    std::FILE *record = recordPath ? std::fopen(recordPath, "w") : nullptr;
    if (!record || !message)
        return MAPI_E_FAILURE;
    std::fprintf(record, "session=%lu\nparent=%s\nflags=%u\nreserved=%u\n", static_cast<unsigned long>(session),
                 parent ? "window" : "none", flags, reserved);
    std::fprintf(record, "nullTexts=%d\nnullOriginator=%d\nmessageFlags=%u\nrecipients=%u\nnullRecipients=%d\n",
                 isNull(message->lpszSubject) + isNull(message->lpszNoteText) + isNull(message->lpszMessageType) +
                     isNull(message->lpszDateReceived) + isNull(message->lpszConversationID),
                 isNull(message->lpOriginator), message->flFlags, message->nRecipCount, isNull(message->lpRecips));
    std::fprintf(record, "files=%u\n", message->nFileCount);
    if (message->nFileCount == 1 && message->lpFiles) {
        const MapiFileDesc &file = message->lpFiles[0];
        std::fprintf(record, "fileReserved=%u\nfileFlags=%u\nposition=%u\npath=%s\nname=%s\nnullType=%d\nexists=%d\n",
                     file.ulReserved, file.flFlags, file.nPosition, file.lpszPathName ? file.lpszPathName : "(null)",
                     file.lpszFileName ? file.lpszFileName : "(null)", isNull(file.lpFileType),
                     file.lpszPathName && ::access(file.lpszPathName, F_OK) == 0 ? 1 : 0);
        if (const char *keep = std::getenv("FAKE_MAPI_KEEP"); keep && file.lpszPathName)
            copyFile(file.lpszPathName, keep);
    }
    std::fclose(record);
    return result ? static_cast<ULONG>(std::strtoul(result, nullptr, 10)) : SUCCESS_SUCCESS;
}
