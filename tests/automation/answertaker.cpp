// Test helper: takes every answer of KIND from the TAVRELO_AUTOMATION file, as another process
// of the host would, printing each on its own line and logging each request.

#include "testsurface/uirequests.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: answertaker KIND\n");
        return 2;
    }
    const QString kind = QString::fromLocal8Bit(argv[1]);
    while (const std::optional<QJsonValue> answer = tavrelo::testsurface::takeScriptedAnswer(kind)) {
        const QJsonObject request{{QStringLiteral("kind"), kind}, {QStringLiteral("answer"), *answer}};
        tavrelo::testsurface::logUiRequest(request);
        std::printf("%s\n", QJsonDocument(request).toJson(QJsonDocument::Compact).constData());
    }
    return 0;
}
