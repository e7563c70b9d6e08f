#pragma once

// The desktop mail programs that Clipvane's own mail clients hand messages to. Each has a client
// library of its own in the clients folder beside the helper library, which registration enters
// under HKLM\SOFTWARE\Clients\Mail\<subKey> when the program is installed.

namespace tavrelo::mail {

enum class ProgramKind { Thunderbird, Evolution, XdgEmail };

struct MailProgram {
    ProgramKind kind;
    const char *subKey;      // the client's key under Clients\Mail
    const char *displayName; // the client's name in menus and messages
    const char *executable;  // found on PATH
    const char *libraryFile; // the client library, in kClientsFolder
};

// The folder of the client libraries, beside the helper library (in the build tree and installed).
inline constexpr const char *kClientsFolder = "clipvane-mail";

inline constexpr MailProgram kMailPrograms[] = {
    {ProgramKind::Thunderbird, "Thunderbird", "Mozilla Thunderbird", "thunderbird", "thunderbird.so"},
    {ProgramKind::Evolution, "Evolution", "Evolution", "evolution", "evolution.so"},
    {ProgramKind::XdgEmail, "xdg-email", "Desktop default (xdg-email)", "xdg-email", "xdg-email.so"},
};

constexpr const MailProgram &mailProgram(ProgramKind kind)
{
    for (const MailProgram &program : kMailPrograms) {
        if (program.kind == kind)
            return program;
    }
    return kMailPrograms[0];
}

} // namespace tavrelo::mail
