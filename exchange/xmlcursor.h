#pragma once
// A pull cursor over one XML part of an .xlsx or .ods, on libxml2's
// xmlTextReader. Qt's QXmlStreamReader (used first) spent about 140 ms just
// tokenizing the 8 MB sheet of a 10,000-row workbook; libxml2, already
// loaded for libgsf, reads it in about a third of that.
//
// Elements are matched by local name and namespace URI, as both formats
// allow any prefix and extensions reuse local names (Excel's
// x15:workbookPr beside the main workbookPr).
// A document type declaration is refused (no workbook part has one; it is
// the door to entity bombs), and so is any malformed document: both throw
// SheetError with the damaged-file text.
#include <QByteArray>
#include <QString>

struct _xmlTextReader;

class XmlCursor {
public:
    explicit XmlCursor(const QByteArray &xml);
    ~XmlCursor();
    XmlCursor(const XmlCursor &) = delete;
    XmlCursor &operator=(const XmlCursor &) = delete;

    // Moves to the next start tag, end tag or text; false at the end of the
    // document. An empty element (<c/>) gives a start and then an end.
    bool next();
    bool isStart() const { return m_token == Token::Start; }
    bool isEnd() const { return m_token == Token::End; }
    bool isText() const { return m_token == Token::Text; }
    // A start or end tag of this local name in the namespace 'ns' (or in
    // 'altNs', where a format has two, as OOXML's transitional and strict).
    bool is(const char *localName, const char *ns, const char *altNs = nullptr) const;

    // Attributes of the current start tag; the empty text when absent.
    // 'ns' is a namespace URI; without one the name is matched as written.
    QString attribute(const char *name, const char *ns = nullptr) const;
    bool hasAttribute(const char *name, const char *ns = nullptr) const;
    // The first attribute of this local name in any namespace.
    QString attributeInAnyNamespace(const char *localName);

    QString text() const; // of the current text
    // From a start tag: every text inside it, read to its end tag.
    QString elementText();
    // From a start tag: read to its end tag.
    void skipElement();

private:
    enum class Token { None, Start, End, Text };
    QByteArray m_bytes; // shared with the caller, kept alive for the parser
    _xmlTextReader *m_reader = nullptr;
    Token m_token = Token::None;
    bool m_endPending = false; // the start just given was an empty element
};
