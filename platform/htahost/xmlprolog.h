#pragma once

// What comes before the document element of an XML text. A text whose prolog holds nothing but
// its declaration, comments and white space can be handed to the engine as a document of its
// own; one with a document type declaration or a processing instruction (a style sheet, which
// the engine would apply) goes the way of text, where the page's own checks see it first.

#include <QByteArrayView>
#include <QString>

namespace tavrelo::htahost {

struct XmlProlog {
    bool plain = false;  // only a declaration, comments and white space before the first element
    QString declaration; // the declaration's content ('version="1.0" encoding="UTF-8"'), or empty
};

XmlProlog readXmlProlog(QByteArrayView utf8);

} // namespace tavrelo::htahost
