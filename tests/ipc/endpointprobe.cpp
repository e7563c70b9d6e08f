// A process that owns endpoints on command, for the tests between processes. Commands on stdin,
// one per line; answers and what the endpoints receive on stdout, one per line:
//
//   create <class>|<title>     -> "id <endpoint id>"
//   property <name> <value>    -> "ok" (on the endpoint made last)
//   answer accept|refuse       -> "ok" (how sent records are answered from now on)
//   post <id> <name> <w> <l>   -> "posted 1|0"
//   destroy                    -> "ok" (the endpoint made last)
//   received: "record <sender> <tag> <size> <first 16 bytes as hex>", "message <name> <w> <l>"

#include "ipc/endpoint.h"

#include "support/probecommands.h"

#include <QCoreApplication>

#include <memory>
#include <vector>

using namespace tavrelo::ipc;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<Endpoint>> endpoints;
    bool accept = true;
    const auto say = &ProbeCommands::say;

    const ProbeCommands commands([&](const QString &line) {
        const QStringList words = line.split(u' ');
        const QString command = words.value(0);
        if (command == u"create") {
            const QStringList names = line.mid(7).split(u'|');
            auto endpoint = std::make_unique<Endpoint>(names.value(0).toUtf8(), names.value(1).toUtf8());
            endpoint->setRecordHandler([&](const EndpointId &sender, std::uint32_t tag, const QByteArray &data) {
                say(QStringLiteral("record %1 %2 %3 %4")
                        .arg(sender.isEmpty() ? QStringLiteral("-") : sender)
                        .arg(tag)
                        .arg(data.size())
                        .arg(QString::fromLatin1(data.left(16).toHex())));
                return accept;
            });
            endpoint->setMessageHandler([&](const QByteArray &name, std::int64_t w, std::int64_t l, const QByteArray &) {
                say(QStringLiteral("message %1 %2 %3").arg(QString::fromUtf8(name)).arg(w).arg(l));
            });
            say(QStringLiteral("id ") + endpoint->id());
            endpoints.push_back(std::move(endpoint));
        } else if (command == u"property" && !endpoints.empty()) {
            endpoints.back()->setWindowProperty(words.value(1).toUtf8(), words.value(2).toLongLong());
            say(QStringLiteral("ok"));
        } else if (command == u"answer") {
            accept = words.value(1) == u"accept";
            say(QStringLiteral("ok"));
        } else if (command == u"post") {
            const bool posted = postMessage(words.value(1), words.value(2).toUtf8(), words.value(3).toLongLong(),
                                            words.value(4).toLongLong());
            say(QStringLiteral("posted %1").arg(posted ? 1 : 0));
        } else if (command == u"destroy" && !endpoints.empty()) {
            endpoints.pop_back();
            say(QStringLiteral("ok"));
        } else {
            say(QStringLiteral("unknown ") + line);
        }
    });
    return QCoreApplication::exec();
}
