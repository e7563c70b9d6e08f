#pragma once

// Writes what a page holds as a blob: address into a file, atomically. The engine downloads the
// blob natively into a temporary file beside the target, so a whole collection never passes
// through the host as text; the host then flushes that file to disk and renames it over the
// target, as every write of the file service does.

#include "objecttable.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class QWebEngineDownloadRequest;
class QWebEnginePage;
class QWebEngineProfile;

namespace tavrelo::htahost {

class BlobSaver final : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(const CallResult &)>;

    // The saver of a profile; it takes the profile's downloads, and refuses every download that
    // is not one of its saves.
    static BlobSaver *of(QWebEngineProfile *profile);

    // Writes the blob at `blob`, an address the page made, of `size` bytes, to `path`; `done`
    // gets {"identity"} of the new file or the failure, which leaves the old file and no
    // temporary file.
    void save(QWebEnginePage *page, const QUrl &blob, qint64 size, const QString &path, Done done);

private:
    struct Pending {
        QPointer<QWebEnginePage> page;
        QUrl blob;
        qint64 size = 0;
        QString path, temporary;
        unsigned mode = 0;
        Done done;
        bool started = false;
    };

    explicit BlobSaver(QWebEngineProfile *profile);
    void requested(QWebEngineDownloadRequest *download);
    void finished(QWebEngineDownloadRequest *download, const Pending &save);
    void fail(qsizetype at, const CallResult &failure);

    QList<Pending> m_pending;
};

} // namespace tavrelo::htahost
