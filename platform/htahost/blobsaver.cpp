#include "blobsaver.h"

#include "fileservice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <cerrno>

#include <sys/resource.h>
#include <unistd.h>

namespace tavrelo::htahost {

Q_LOGGING_CATEGORY(lcBlobSave, "tavrelo.htahost.blobsave")

namespace {

constexpr int kStartTimeoutMs = 30000; // a download that the engine never starts fails after this

// The system's error behind an interrupted download, as far as the engine tells it.
int errorOf(const QWebEngineDownloadRequest *download, qint64 size)
{
    // The engine reports a write beyond the process's file-size limit as a passing trouble.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && size > qint64(limit.rlim_cur))
        return EFBIG;
    switch (download->interruptReason()) {
    case QWebEngineDownloadRequest::FileNoSpace:
        return ENOSPC;
    case QWebEngineDownloadRequest::FileTooLarge:
        return EFBIG;
    case QWebEngineDownloadRequest::FileAccessDenied:
        return EACCES;
    case QWebEngineDownloadRequest::FileNameTooLong:
        return ENAMETOOLONG;
    default:
        return 0;
    }
}

void removeTemporary(const QString &temporary)
{
    QFile::remove(temporary);
    QFile::remove(temporary + QStringLiteral(".download")); // the engine's name while it writes
}

}

BlobSaver *BlobSaver::of(QWebEngineProfile *profile)
{
    if (auto *saver = profile->findChild<BlobSaver *>(QString(), Qt::FindDirectChildrenOnly))
        return saver;
    return new BlobSaver(profile);
}

BlobSaver::BlobSaver(QWebEngineProfile *profile) : QObject(profile)
{
    connect(profile, &QWebEngineProfile::downloadRequested, this, &BlobSaver::requested);
}

void BlobSaver::save(QWebEnginePage *page, const QUrl &blob, qint64 size, const QString &path, Done done)
{
    unsigned mode = 0;
    if (CallResult refused = checkWritable(path, &mode); FAILED(refused.hr))
        return done(refused);
    if (blob.scheme() != u"blob")
        return done(CallResult::failure(E_INVALIDARG, QStringLiteral("'%1' is not a blob address.").arg(blob.toString())));
    m_pending.append({page, blob, size, path, temporaryNameBeside(path), mode, std::move(done)});
    QTimer::singleShot(kStartTimeoutMs, this, [this, blob] {
        for (qsizetype at = 0; at < m_pending.size(); ++at) {
            if (m_pending.at(at).blob == blob && !m_pending.at(at).started)
                fail(at, CallResult::failure(E_FAIL, QStringLiteral("Cannot write '%1': the engine did not write it.")
                                                         .arg(m_pending.at(at).path)));
        }
    });
    page->download(blob, QFileInfo(m_pending.last().temporary).fileName());
}

void BlobSaver::fail(qsizetype at, const CallResult &failure)
{
    const Pending save = m_pending.takeAt(at);
    removeTemporary(save.temporary);
    save.done(failure);
}

void BlobSaver::requested(QWebEngineDownloadRequest *download)
{
    qsizetype at = 0;
    for (; at < m_pending.size(); ++at) {
        const Pending &save = m_pending.at(at);
        if (!save.started && save.blob == download->url() && save.page && save.page == download->page())
            break;
    }
    if (at == m_pending.size()) { // the host downloads nothing else
        qCInfo(lcBlobSave) << "Refused a download of" << download->url().toString(QUrl::RemoveQuery);
        download->cancel();
        return;
    }
    Pending &save = m_pending[at];
    save.started = true;
    const QFileInfo temporary(save.temporary);
    download->setDownloadDirectory(temporary.absolutePath());
    download->setDownloadFileName(temporary.fileName());
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, [this, download, blob = save.blob] {
        for (qsizetype i = 0; i < m_pending.size(); ++i) {
            if (m_pending.at(i).blob == blob && m_pending.at(i).started) {
                const Pending finishedSave = m_pending.takeAt(i);
                finished(download, finishedSave);
                return;
            }
        }
    });
    download->accept();
}

void BlobSaver::finished(QWebEngineDownloadRequest *download, const Pending &save)
{
    if (download->state() == QWebEngineDownloadRequest::DownloadCompleted) {
        save.done(commitTemporary(save.temporary, save.path, save.mode));
        return;
    }
    const int error = errorOf(download, save.size);
    const QString reason = download->interruptReasonString();
    if (download->state() == QWebEngineDownloadRequest::DownloadInterrupted)
        download->cancel(); // an interrupted download keeps its part for a resumption
    removeTemporary(save.temporary);
    if (error != 0)
        save.done(writeFailure(save.path, error));
    else
        save.done(CallResult::failure(E_FAIL, QStringLiteral("Cannot write '%1': %2").arg(save.path, reason)));
}

} // namespace tavrelo::htahost
