#include "htaattributes.h"

#include <QRegularExpression>

namespace tavrelo::htahost {

HtaAttributes HtaAttributes::parse(const QByteArray &page)
{
    static const QRegularExpression element(QStringLiteral(R"(<hta:application\b([^>]*)>)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(
        QStringLiteral(R"re(([A-Za-z_][-A-Za-z0-9_:.]*)\s*(?:=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>/]+)))?)re"));
    HtaAttributes result;
    const QRegularExpressionMatch match = element.match(QString::fromUtf8(page));
    if (!match.hasMatch())
        return result;
    result.m_present = true;
    auto attributes = attribute.globalMatch(match.captured(1));
    while (attributes.hasNext()) {
        const QRegularExpressionMatch item = attributes.next();
        QString value = item.captured(2);
        if (value.isNull())
            value = item.captured(3);
        if (value.isNull())
            value = item.captured(4);
        result.m_values.insert(item.captured(1).toLower(), value.isNull() ? QString() : value);
    }
    return result;
}

QString HtaAttributes::value(const QString &name, const QString &fallback) const
{
    return m_values.value(name.toLower(), fallback);
}

bool HtaAttributes::isYes(const QString &name, bool fallback) const
{
    const auto found = m_values.constFind(name.toLower());
    if (found == m_values.cend())
        return fallback;
    const QString text = found->trimmed().toLower();
    return text != u"no" && text != u"false" && text != u"0";
}

} // namespace tavrelo::htahost
