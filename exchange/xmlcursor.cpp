#include "xmlcursor.h"

#include "sheetreader.h"

#include <climits>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>

namespace {

const xmlChar *xml(const char *s) { return reinterpret_cast<const xmlChar *>(s); }

QString textOf(const xmlChar *s)
{
    return s ? QString::fromUtf8(reinterpret_cast<const char *>(s)) : QString();
}

// An owned attribute value.
QString takeText(xmlChar *s)
{
    const QString text = textOf(s);
    xmlFree(s);
    return text;
}

// The parser's messages would only reach the terminal; the cursor turns a
// failure into SheetError instead.
void quiet(void *, xmlErrorPtr) {}

[[noreturn]] void damaged() { throw SheetError(SheetTexts::damaged()); }

} // namespace

XmlCursor::XmlCursor(const QByteArray &bytes) : m_bytes(bytes)
{
    static const bool initialised = (xmlInitParser(), true);
    (void)initialised;
    if (bytes.isEmpty() || bytes.size() > INT_MAX)
        return; // next() reports it
    // No network, no external DTD, no entity substitution.
    m_reader = xmlReaderForMemory(m_bytes.constData(), int(m_bytes.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (m_reader)
        xmlTextReaderSetStructuredErrorHandler(m_reader, quiet, nullptr);
}

XmlCursor::~XmlCursor()
{
    if (m_reader)
        xmlFreeTextReader(m_reader);
}

bool XmlCursor::next()
{
    if (!m_reader)
        damaged();
    if (m_endPending) {
        m_endPending = false;
        m_token = Token::End;
        return true;
    }
    for (;;) {
        const int got = xmlTextReaderRead(m_reader);
        if (got == 0) {
            m_token = Token::None;
            return false;
        }
        if (got < 0)
            damaged();
        switch (xmlTextReaderNodeType(m_reader)) {
        case XML_READER_TYPE_ELEMENT:
            m_token = Token::Start;
            m_endPending = xmlTextReaderIsEmptyElement(m_reader) == 1;
            return true;
        case XML_READER_TYPE_END_ELEMENT:
            m_token = Token::End;
            return true;
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
            m_token = Token::Text;
            return true;
        case XML_READER_TYPE_DOCUMENT_TYPE:
        case XML_READER_TYPE_ENTITY:
        case XML_READER_TYPE_ENTITY_REFERENCE:
            damaged();
        default:
            continue; // comments, processing instructions
        }
    }
}

bool XmlCursor::is(const char *localName, const char *ns, const char *altNs) const
{
    if (m_token != Token::Start && m_token != Token::End)
        return false;
    const xmlChar *name = xmlTextReaderConstLocalName(m_reader);
    if (!name || std::strcmp(reinterpret_cast<const char *>(name), localName) != 0)
        return false;
    const char *uri = reinterpret_cast<const char *>(xmlTextReaderConstNamespaceUri(m_reader));
    return uri && (std::strcmp(uri, ns) == 0 || (altNs && std::strcmp(uri, altNs) == 0));
}

QString XmlCursor::attribute(const char *name, const char *ns) const
{
    return takeText(ns ? xmlTextReaderGetAttributeNs(m_reader, xml(name), xml(ns))
                       : xmlTextReaderGetAttribute(m_reader, xml(name)));
}

bool XmlCursor::hasAttribute(const char *name, const char *ns) const
{
    xmlChar *v = ns ? xmlTextReaderGetAttributeNs(m_reader, xml(name), xml(ns))
                    : xmlTextReaderGetAttribute(m_reader, xml(name));
    xmlFree(v);
    return v != nullptr;
}

QString XmlCursor::attributeInAnyNamespace(const char *localName)
{
    QString value;
    if (xmlTextReaderMoveToFirstAttribute(m_reader) != 1)
        return value;
    do {
        const xmlChar *name = xmlTextReaderConstLocalName(m_reader);
        if (name && std::strcmp(reinterpret_cast<const char *>(name), localName) == 0) {
            value = textOf(xmlTextReaderConstValue(m_reader));
            break;
        }
    } while (xmlTextReaderMoveToNextAttribute(m_reader) == 1);
    xmlTextReaderMoveToElement(m_reader);
    return value;
}

QString XmlCursor::text() const
{
    return m_token == Token::Text ? textOf(xmlTextReaderConstValue(m_reader)) : QString();
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
            text += textOf(xmlTextReaderConstValue(m_reader));
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
