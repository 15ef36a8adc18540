#pragma once
// A pull cursor over one XML part of an .xlsx or .ods, on libxml2's SAX2
// push parser: the file is parsed a chunk at a time and the cursor hands out
// the events of each chunk. Qt's QXmlStreamReader (used first) spent about
// 140 ms just tokenizing the 8 MB sheet of a 10,000-row workbook; libxml2's
// xmlTextReader (used next) built and freed a tree node for every element,
// attribute and text, more than half of its time; its SAX2 interface hands
// over names and values without building anything.
//
// Elements are matched by local name and namespace URI, as both formats
// allow any prefix and extensions reuse local names (Excel's
// x15:workbookPr beside the main workbookPr).
// A document type declaration is refused (no workbook part has one; it is
// the door to entity bombs), and so is any malformed document: both throw
// SheetError with the damaged-file text once the events before the fault
// have been handed out.
#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

struct _xmlParserCtxt;

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
    // Names and namespace URIs point into the parser's dictionary, which
    // lives as long as the parser; values and texts are copied to m_arena.
    struct Attr {
        const char *local;
        const char *prefix;
        const char *uri;
        size_t value;
        size_t length;
    };
    struct Event {
        Token token;
        const char *local;
        const char *uri;
        size_t first;  // Start: index in m_attrs; Text: offset in m_arena
        size_t count;  // Start: attributes; Text: bytes
    };
    // Parses chunks until some events are queued or the document ends.
    void feed();
    const Attr *find(const char *name, const char *ns) const;
    QString valueOf(const Attr &a) const;

    static void onStart(void *self, const unsigned char *local, const unsigned char *prefix,
                        const unsigned char *uri, int nbNamespaces, const unsigned char **namespaces,
                        int nbAttributes, int nbDefaulted, const unsigned char **attributes);
    static void onEnd(void *self, const unsigned char *local, const unsigned char *prefix,
                      const unsigned char *uri);
    static void onText(void *self, const unsigned char *text, int length);
    static void onDoctype(void *self, const unsigned char *name, const unsigned char *externalId,
                          const unsigned char *systemId);

    QByteArray m_bytes; // shared with the caller, kept alive for the parser
    _xmlParserCtxt *m_parser = nullptr;
    qsizetype m_fed = 0;
    bool m_finished = false; // every byte went to the parser
    bool m_failed = false;   // malformed, or a document type declaration
    std::vector<Event> m_events;
    std::vector<Attr> m_attrs;
    std::string m_arena;
    size_t m_at = 0; // the next event to hand out
    const Event *m_current = nullptr;
    Token m_token = Token::None;
};
