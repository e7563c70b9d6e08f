#pragma once

// What the file-service tests share: a widget application on the offscreen platform, files, and
// the test surface of native user-interface requests.

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/widgetapplication.h"

inline void ensureApplication() { ensureWidgetApplication(); }

inline void writeFile(const QString &path, const QByteArray &bytes = "x")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// An executable shell script `name` in `folder`.
inline void writeScript(const QString &folder, const QString &name, const QByteArray &body)
{
    const QString path = folder + u'/' + name;
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

inline QJsonObject answer(const char *kind, const QString &value)
{
    return {{QStringLiteral("kind"), QLatin1String(kind)}, {QStringLiteral("answer"), value}};
}

// TAVRELO_AUTOMATION_LOG, and with `scripted` TAVRELO_AUTOMATION, in a scratch folder for as long
// as the object lives.
class Surface final {
public:
    explicit Surface(bool scripted = true)
    {
        EXPECT_TRUE(m_dir.isValid());
        if (scripted) {
            qputenv("TAVRELO_AUTOMATION", m_dir.filePath(QStringLiteral("answers.jsonl")).toUtf8());
            answers({});
        } else {
            qunsetenv("TAVRELO_AUTOMATION");
        }
        qputenv("TAVRELO_AUTOMATION_LOG", m_dir.filePath(QStringLiteral("log.jsonl")).toUtf8());
    }
    ~Surface()
    {
        qunsetenv("TAVRELO_AUTOMATION");
        qunsetenv("TAVRELO_AUTOMATION_LOG");
    }
    Surface(const Surface &) = delete;
    Surface &operator=(const Surface &) = delete;

    // Replaces the answers still waiting, and forgets what was logged so far.
    void answers(const QList<QJsonObject> &list)
    {
        QByteArray text;
        for (const QJsonObject &line : list)
            text += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
        writeFile(m_dir.filePath(QStringLiteral("answers.jsonl")), text);
        QFile::remove(m_dir.filePath(QStringLiteral("log.jsonl")));
    }
    QList<QJsonObject> log() const
    {
        QFile file(m_dir.filePath(QStringLiteral("log.jsonl")));
        QList<QJsonObject> entries;
        if (file.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = file.readAll().split('\n');
            for (const QByteArray &line : lines)
                if (!line.isEmpty())
                    entries << QJsonDocument::fromJson(line).object();
        }
        return entries;
    }
    QString folder() const { return m_dir.path(); }
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private:
    QTemporaryDir m_dir;
};
