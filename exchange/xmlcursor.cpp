#include "xmlcursor.h"

#include "sheetreader.h"

#include <climits>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

namespace {

// Big enough that a chunk's events outnumber the calls into the parser,
// small enough that the queued events stay in the cache.
constexpr qsizetype kChunkBytes = 64 * 1024;

const char *chars(const xmlChar *s) { return reinterpret_cast<const char *>(s); }

// The parser's messages would only reach the terminal; the cursor turns a
// failure into SheetError instead.
void quiet(void *, xmlErrorPtr) {}

[[noreturn]] void damaged() { throw SheetError(SheetTexts::damaged()); }

bool same(const char *a, const char *b) { return a && b && std::strcmp(a, b) == 0; }

} // namespace

XmlCursor::XmlCursor(const QByteArray &bytes) : m_bytes(bytes)
{
    static const bool initialised = (xmlInitParser(), true);
    (void)initialised;
    if (bytes.isEmpty() || bytes.size() > INT_MAX)
        return; // next() reports it
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = onStart;
    sax.endElementNs = onEnd;
    sax.characters = onText;
    sax.ignorableWhitespace = onText;
    sax.cdataBlock = onText;
    sax.internalSubset = onDoctype;
    sax.serror = quiet;
    // The first bytes tell the parser the encoding.
    const int head = int(qMin<qsizetype>(4, m_bytes.size()));
    m_parser = xmlCreatePushParserCtxt(&sax, this, m_bytes.constData(), head, nullptr);
    if (!m_parser)
        return;
    m_fed = head;
    // No network, no external DTD, no entity substitution.
    xmlCtxtUseOptions(m_parser, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

XmlCursor::~XmlCursor()
{
    if (m_parser)
        xmlFreeParserCtxt(m_parser);
}

void XmlCursor::onStart(void *self, const xmlChar *local, const xmlChar *prefix, const xmlChar *uri, int,
                        const xmlChar **, int nbAttributes, int, const xmlChar **attributes)
{
    (void)prefix;
    auto *c = static_cast<XmlCursor *>(self);
    c->m_events.push_back({Token::Start, chars(local), chars(uri), c->m_attrs.size(), size_t(nbAttributes)});
    // Five pointers each: local name, prefix, URI, value and its end.
    for (int i = 0; i < nbAttributes; ++i) {
        const xmlChar *const *a = attributes + 5 * i;
        const size_t length = size_t(a[4] - a[3]);
        c->m_attrs.push_back({chars(a[0]), chars(a[1]), chars(a[2]), c->m_arena.size(), length});
        c->m_arena.append(chars(a[3]), length);
    }
}

void XmlCursor::onEnd(void *self, const xmlChar *local, const xmlChar *, const xmlChar *uri)
{
    auto *c = static_cast<XmlCursor *>(self);
    c->m_events.push_back({Token::End, chars(local), chars(uri), 0, 0});
}

void XmlCursor::onText(void *self, const xmlChar *text, int length)
{
    auto *c = static_cast<XmlCursor *>(self);
    // The parser may hand one text over in pieces: they make one event.
    if (!c->m_events.empty() && c->m_events.back().token == Token::Text)
        c->m_events.back().count += size_t(length);
    else
        c->m_events.push_back({Token::Text, nullptr, nullptr, c->m_arena.size(), size_t(length)});
    c->m_arena.append(chars(text), size_t(length));
}

void XmlCursor::onDoctype(void *self, const xmlChar *, const xmlChar *, const xmlChar *)
{
    auto *c = static_cast<XmlCursor *>(self);
    c->m_failed = true;
    xmlStopParser(c->m_parser);
}

void XmlCursor::feed()
{
    m_events.clear();
    m_attrs.clear();
    m_arena.clear();
    m_at = 0;
    m_current = nullptr;
    while (m_events.empty() && !m_finished && !m_failed) {
        const qsizetype size = qMin(kChunkBytes, m_bytes.size() - m_fed);
        const bool last = m_fed + size == m_bytes.size();
        const int rc = xmlParseChunk(m_parser, m_bytes.constData() + m_fed, int(size), last ? 1 : 0);
        m_fed += size;
        m_finished = last;
        if (rc != 0 || !m_parser->wellFormed)
            m_failed = true;
    }
}

bool XmlCursor::next()
{
    if (!m_parser)
        damaged();
    while (m_at >= m_events.size()) {
        if (m_failed)
            damaged();
        if (m_finished) {
            m_token = Token::None;
            m_current = nullptr;
            return false;
        }
        feed();
    }
    m_current = &m_events[m_at++];
    m_token = m_current->token;
    return true;
}

bool XmlCursor::is(const char *localName, const char *ns, const char *altNs) const
{
    if (m_token != Token::Start && m_token != Token::End)
        return false;
    if (!same(m_current->local, localName) || !m_current->uri)
        return false;
    return same(m_current->uri, ns) || (altNs && same(m_current->uri, altNs));
}

const XmlCursor::Attr *XmlCursor::find(const char *name, const char *ns) const
{
    if (m_token != Token::Start)
        return nullptr;
    const char *colon = ns ? nullptr : std::strchr(name, ':');
    const char *local = colon ? colon + 1 : name;
    for (size_t i = m_current->first; i < m_current->first + m_current->count; ++i) {
        const Attr &a = m_attrs[i];
        if (!same(a.local, local))
            continue;
        if (ns ? same(a.uri, ns)
               : colon ? a.prefix && std::strncmp(a.prefix, name, size_t(colon - name)) == 0
                             && a.prefix[colon - name] == '\0'
                       : a.prefix == nullptr)
            return &a;
    }
    return nullptr;
}

QString XmlCursor::valueOf(const Attr &a) const
{
    return QString::fromUtf8(m_arena.data() + a.value, qsizetype(a.length));
}

QString XmlCursor::attribute(const char *name, const char *ns) const
{
    const Attr *a = find(name, ns);
    return a ? valueOf(*a) : QString();
}

bool XmlCursor::hasAttribute(const char *name, const char *ns) const { return find(name, ns) != nullptr; }

QString XmlCursor::attributeInAnyNamespace(const char *localName)
{
    if (m_token != Token::Start)
        return {};
    for (size_t i = m_current->first; i < m_current->first + m_current->count; ++i)
        if (same(m_attrs[i].local, localName))
            return valueOf(m_attrs[i]);
    return {};
}

QString XmlCursor::text() const
{
    return m_token == Token::Text ? QString::fromUtf8(m_arena.data() + m_current->first, qsizetype(m_current->count))
                                  : QString();
}

QString XmlCursor::elementText()
{
    QString text;
    for (int depth = 1; depth > 0;) {
        if (!next())
            damaged();
        if (isStart())
            ++depth;
        else if (isEnd())
            --depth;
        else
            text += this->text();
    }
    return text;
}

void XmlCursor::skipElement()
{
    for (int depth = 1; depth > 0;) {
        if (!next())
            damaged();
        depth += isStart() ? 1 : isEnd() ? -1 : 0;
    }
}
