#pragma once

// The private outbox of our mail clients. A mail program started from the command line returns at
// once and reads its attachments later, often only when the message is sent, while the caller
// removes its own file as soon as the client returns. So each attachment is handed over as a copy
// in a folder of its own under <cache>/clipvane/outbox ($XDG_CACHE_HOME, else ~/.cache), which
// only this user may enter; copies are removed at a later send, once they are older than
// kKeepCopies.

#include "mapi/mapi.h"

#include <QString>
#include <QStringList>

#include <chrono>

namespace tavrelo::mailbridge {

inline constexpr std::chrono::hours kKeepCopies{24 * 7};

class Outbox final {
public:
    // The outbox, created (mode 0700) when missing, with copies older than kKeepCopies removed.
    // Not usable (isUsable() false) when it cannot be made or is no folder of this user's own.
    Outbox();

    bool isUsable() const { return !m_folder.isEmpty(); }
    const QString &folder() const { return m_folder; }

    // Copies `source` into a new folder of the outbox under the name `shownName` (the source's own
    // name when that is empty or no plain file name). SUCCESS_SUCCESS with the copy's path, else
    // MAPI_E_ATTACHMENT_NOT_FOUND, MAPI_E_ATTACHMENT_OPEN_FAILURE or
    // MAPI_E_ATTACHMENT_WRITE_FAILURE.
    ULONG add(const QString &source, const QString &shownName, QString *copy);

    // Removes the copies `add` made through this object, for a message that was not handed over.
    void discard();

private:
    QString m_folder;
    QStringList m_added; // the folders of this object's copies
};

} // namespace tavrelo::mailbridge
