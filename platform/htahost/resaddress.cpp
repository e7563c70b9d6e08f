#include "resaddress.h"

#include <QFileInfo>
#include <QStringList>

namespace tavrelo::htahost {

std::optional<ResAddress> parseResAddress(const QUrl &url)
{
    if (url.scheme() != u"res")
        return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(u'/') || path.startsWith(kBridgePath) || path.startsWith(kPrintPath))
        return std::nullopt;
    // A file has no children, so the first part of the path that is a file is the library.
    qsizetype slash = 0;
    while ((slash = path.indexOf(u'/', slash + 1)) > 0) {
        const QString candidate = path.left(slash);
        const QFileInfo info(candidate);
        if (info.isFile()) {
            const QString resource = path.mid(slash + 1);
            if (resource.isEmpty())
                return std::nullopt;
            return ResAddress{candidate, resource};
        }
        if (!info.isDir())
            return std::nullopt;
    }
    return std::nullopt;
}

QUrl resUrl(const QString &library, const QString &resource)
{
    QUrl url;
    url.setScheme(QStringLiteral("res"));
    url.setPath(library + u'/' + resource);
    return url;
}

} // namespace tavrelo::htahost
