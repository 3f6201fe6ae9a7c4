#include "WsManMessages.h"

#include <QHash>
#include <QUuid>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives::winrm {

namespace {

const QString soapNs = QString::fromUtf16(ns::Soap);
const QString addrNs = QString::fromUtf16(ns::Addressing);
const QString enumNs = QString::fromUtf16(ns::Enumeration);
const QString wsmanNs = QString::fromUtf16(ns::WsMan);
const QString faultNs = QString::fromUtf16(ns::WsManFault);
const QString xsiNs = QString::fromUtf16(ns::Xsi);

const QString anonymous = u"http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"_s;

bool is(const QXmlStreamReader &r, const QString &nsUri, QStringView local)
{
    return r.namespaceUri() == nsUri && r.name() == local;
}

// The header every request shares; leaves the writer inside the Body.
void writeHead(QXmlStreamWriter &w, const QString &to, const QString &resourceUri, const QString &actionUri,
               const QString &messageId, const TRequestLimits &limits)
{
    w.writeNamespace(soapNs, u"s"_s);
    w.writeNamespace(addrNs, u"a"_s);
    w.writeNamespace(enumNs, u"n"_s);
    w.writeNamespace(wsmanNs, u"w"_s);
    w.writeStartElement(soapNs, u"Envelope"_s);
    w.writeStartElement(soapNs, u"Header"_s);
    w.writeTextElement(addrNs, u"To"_s, to);
    w.writeStartElement(wsmanNs, u"ResourceURI"_s);
    w.writeAttribute(soapNs, u"mustUnderstand"_s, u"true"_s);
    w.writeCharacters(resourceUri);
    w.writeEndElement();
    w.writeStartElement(addrNs, u"ReplyTo"_s);
    w.writeStartElement(addrNs, u"Address"_s);
    w.writeAttribute(soapNs, u"mustUnderstand"_s, u"true"_s);
    w.writeCharacters(anonymous);
    w.writeEndElement();
    w.writeEndElement();
    w.writeStartElement(addrNs, u"Action"_s);
    w.writeAttribute(soapNs, u"mustUnderstand"_s, u"true"_s);
    w.writeCharacters(actionUri);
    w.writeEndElement();
    w.writeStartElement(wsmanNs, u"MaxEnvelopeSize"_s);
    w.writeAttribute(soapNs, u"mustUnderstand"_s, u"true"_s);
    w.writeCharacters(QString::number(limits.maxEnvelopeSize));
    w.writeEndElement();
    w.writeTextElement(addrNs, u"MessageID"_s, messageId);
    w.writeStartElement(wsmanNs, u"Locale"_s);
    w.writeAttribute(u"http://www.w3.org/XML/1998/namespace"_s, u"lang"_s, u"en-US"_s);
    w.writeAttribute(soapNs, u"mustUnderstand"_s, u"false"_s);
    w.writeEndElement();
    w.writeTextElement(wsmanNs, u"OperationTimeout"_s,
                       u"PT%1.%2S"_s.arg(limits.operationTimeoutMs / 1000)
                           .arg(limits.operationTimeoutMs % 1000, 3, 10, QLatin1Char('0')));
    w.writeEndElement(); // Header
    w.writeStartElement(soapNs, u"Body"_s);
}

template<typename Body>
QByteArray build(const QString &to, const QString &resourceUri, const char16_t *actionUri, const QString &messageId,
                 const TRequestLimits &limits, Body body)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument();
    writeHead(w, to, resourceUri, QString::fromUtf16(actionUri), messageId, limits);
    body(w);
    w.writeEndElement(); // Body
    w.writeEndElement(); // Envelope
    w.writeEndDocument();
    return out;
}

EWmiError malformed(const QXmlStreamReader &r)
{
    return EWmiError(u"Malformed WS-Management answer: %1 (line %2)"_s.arg(r.errorString()).arg(r.lineNumber()));
}

bool isDecimal(const QString &text, std::int64_t &value)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok);
    if (ok) {
        value = n;
        return true;
    }
    const qulonglong u = t.toULongLong(&ok);
    if (ok)
        value = static_cast<std::int64_t>(u);
    return ok;
}

// The text of the current element and of every element inside it, read
// without recursion: a hostile answer may nest thousands of levels deep.
// Raises EWmiError below MaxInstanceDepth levels under the instance.
QString readValueText(QXmlStreamReader &r, int depthOfValue)
{
    QString text;
    int depth = 0;
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement:
            if (depthOfValue + ++depth > MaxInstanceDepth)
                throw EWmiError(u"WS-Management answer refused: an instance is nested deeper than %1 elements (line %2)"_s
                                    .arg(MaxInstanceDepth)
                                    .arg(r.lineNumber()));
            break;
        case QXmlStreamReader::EndElement:
            if (depth-- == 0)
                return text;
            break;
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            text += r.text();
            break;
        default:
            break;
        }
    }
    throw malformed(r);
}

// Reads one instance element: each child is a property, repeated children an array.
TWsManObject readInstance(QXmlStreamReader &r)
{
    TWsManObject object(r.name().toString());
    struct Values
    {
        QString name;
        QStringList texts;
        bool nil = false;
    };
    std::vector<Values> props;
    QHash<QString, std::size_t> index; // repeated elements of an array find their property at once
    while (r.readNextStartElement()) {
        const QString name = r.name().toString();
        const bool nil = r.attributes().value(xsiNs, u"nil"_s).compare(u"true", Qt::CaseInsensitive) == 0;
        const QString text = readValueText(r, 2); // the instance is level 1, its properties level 2
        if (r.hasError())
            throw malformed(r);
        auto found = index.constFind(name);
        if (found == index.constEnd()) {
            if (props.size() >= static_cast<std::size_t>(MaxInstanceProperties))
                throw EWmiError(u"WS-Management answer refused: an instance of %1 has more than %2 properties"_s
                                    .arg(object.ClassName())
                                    .arg(MaxInstanceProperties));
            found = index.insert(name, props.size());
            props.push_back({name, {}, false});
        }
        Values &v = props[*found];
        if (nil)
            v.nil = true;
        else
            v.texts.append(text);
    }
    for (const Values &v : props) {
        if (v.texts.isEmpty()) {
            object.Instance().Set(v.name, TWmiNull{});
        } else if (v.texts.size() == 1) {
            object.Instance().Set(v.name, v.texts.front());
        } else {
            std::vector<std::int64_t> numbers;
            numbers.reserve(static_cast<std::size_t>(v.texts.size()));
            for (const QString &t : v.texts) {
                std::int64_t n = 0;
                if (!isDecimal(t, n))
                    break;
                numbers.push_back(n);
            }
            if (numbers.size() == static_cast<std::size_t>(v.texts.size()))
                object.Instance().Set(v.name, std::move(numbers));
            else
                object.MarkTextArray(v.name, v.texts);
        }
    }
    return object;
}

// The content of an Items element: instances, bare or wrapped in w:Item with an EPR.
void readItems(QXmlStreamReader &r, std::vector<TWsManObject> &items)
{
    while (r.readNextStartElement()) {
        if (is(r, wsmanNs, u"Item")) {
            while (r.readNextStartElement()) {
                if (r.namespaceUri() == addrNs)
                    r.skipCurrentElement();
                else
                    items.push_back(readInstance(r));
            }
        } else {
            items.push_back(readInstance(r));
        }
    }
}

void readFault(QXmlStreamReader &r, TFault &fault)
{
    while (r.readNextStartElement()) {
        if (is(r, soapNs, u"Code")) {
            while (r.readNextStartElement()) {
                if (is(r, soapNs, u"Value")) {
                    fault.code = r.readElementText().trimmed();
                } else if (is(r, soapNs, u"Subcode")) {
                    while (r.readNextStartElement()) {
                        if (is(r, soapNs, u"Value") && fault.subcode.isEmpty())
                            fault.subcode = r.readElementText().trimmed();
                        else
                            r.skipCurrentElement();
                    }
                } else {
                    r.skipCurrentElement();
                }
            }
        } else if (is(r, soapNs, u"Reason")) {
            while (r.readNextStartElement()) {
                if (is(r, soapNs, u"Text") && fault.reason.isEmpty())
                    fault.reason = r.readElementText().simplified();
                else
                    r.skipCurrentElement();
            }
        } else if (is(r, soapNs, u"Detail")) {
            // Walk the whole detail: the innermost message is the provider's own.
            struct Open
            {
                QString ns, name, text;
            };
            std::vector<Open> stack;
            int depth = 1;
            QString wmiErrorMessage;
            while (depth > 0 && !r.atEnd()) {
                switch (r.readNext()) {
                case QXmlStreamReader::StartElement:
                    ++depth;
                    if (is(r, faultNs, u"WSManFault") && fault.wsmanCode.isEmpty())
                        fault.wsmanCode = r.attributes().value(u"Code"_s).toString();
                    stack.push_back({r.namespaceUri().toString(), r.name().toString(), {}});
                    break;
                case QXmlStreamReader::Characters:
                    if (!stack.empty())
                        stack.back().text += r.text();
                    break;
                case QXmlStreamReader::EndElement: {
                    --depth;
                    if (stack.empty())
                        break;
                    const Open e = std::move(stack.back());
                    stack.pop_back();
                    const QString text = e.text.simplified();
                    if (text.isEmpty())
                        break;
                    if (e.ns == faultNs && e.name == u"Message")
                        fault.detail = text;
                    else if (e.name == u"Message" && wmiErrorMessage.isEmpty())
                        wmiErrorMessage = text;
                    else if (e.name == u"error_Code" && fault.wsmanCode.isEmpty())
                        fault.wsmanCode = text;
                    break;
                }
                default:
                    break;
                }
            }
            if (fault.detail.isEmpty())
                fault.detail = wmiErrorMessage;
        } else {
            r.skipCurrentElement();
        }
    }
}

struct TParsed
{
    TEnvelopeHeader header;
    bool hasFault = false;
    TFault fault;
    QString bodyElement;
    TEnumerationPage page;
};

TParsed parseEnvelope(const QByteArray &xml)
{
    TParsed p;
    QXmlStreamReader r(xml);
    if (!r.readNextStartElement())
        throw r.hasError() ? malformed(r) : EWmiError(u"Empty WS-Management answer"_s);
    if (!is(r, soapNs, u"Envelope"))
        throw EWmiError(u"WS-Management answer is not a SOAP envelope (found \"%1\")"_s.arg(r.name()));
    while (r.readNextStartElement()) {
        if (is(r, soapNs, u"Header")) {
            while (r.readNextStartElement()) {
                if (is(r, addrNs, u"Action"))
                    p.header.action = r.readElementText().trimmed();
                else if (is(r, addrNs, u"MessageID"))
                    p.header.messageId = r.readElementText().trimmed();
                else if (is(r, addrNs, u"RelatesTo"))
                    p.header.relatesTo = r.readElementText().trimmed();
                else
                    r.skipCurrentElement();
            }
        } else if (is(r, soapNs, u"Body")) {
            while (r.readNextStartElement()) {
                if (is(r, soapNs, u"Fault")) {
                    p.hasFault = true;
                    p.bodyElement = u"Fault"_s;
                    readFault(r, p.fault);
                } else if (r.namespaceUri() == enumNs
                           && (r.name() == u"EnumerateResponse" || r.name() == u"PullResponse")) {
                    p.bodyElement = r.name().toString();
                    while (r.readNextStartElement()) {
                        if (is(r, enumNs, u"EnumerationContext"))
                            p.page.context = r.readElementText().trimmed();
                        else if (is(r, enumNs, u"Items") || is(r, wsmanNs, u"Items"))
                            readItems(r, p.page.items);
                        else if (is(r, enumNs, u"EndOfSequence") || is(r, wsmanNs, u"EndOfSequence")) {
                            p.page.endOfSequence = true;
                            r.skipCurrentElement();
                        } else
                            r.skipCurrentElement();
                    }
                } else {
                    if (p.bodyElement.isEmpty())
                        p.bodyElement = r.name().toString();
                    r.skipCurrentElement();
                }
            }
        } else {
            r.skipCurrentElement();
        }
    }
    if (r.hasError())
        throw malformed(r);
    return p;
}

void checkHeader(const TParsed &p, const QString &expectedAction, const QString &requestMessageId)
{
    if (p.hasFault)
        throw EWmiError(p.fault.Message());
    if (p.header.action != expectedAction)
        throw EWmiError(u"Unexpected WS-Management answer \"%1\" (expected \"%2\")"_s.arg(p.header.action, expectedAction));
    if (p.header.relatesTo.compare(requestMessageId, Qt::CaseInsensitive) != 0)
        throw EWmiError(u"WS-Management answer relates to \"%1\", not to the request \"%2\""_s.arg(p.header.relatesTo,
                                                                                                   requestMessageId));
}

} // namespace

QString ResourceUri(const QString &nameSpace)
{
    QString path = nameSpace.toLower();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return u"http://schemas.microsoft.com/wbem/wsman/1/wmi/"_s + path + u"/*"_s;
}

QString NewMessageId()
{
    return u"uuid:"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QByteArray BuildEnumerate(const QString &to, const QString &resourceUri, const QString &wql, const QString &messageId,
                          const TRequestLimits &limits)
{
    return build(to, resourceUri, action::Enumerate, messageId, limits, [&](QXmlStreamWriter &w) {
        w.writeStartElement(enumNs, u"Enumerate"_s);
        w.writeEmptyElement(wsmanNs, u"OptimizeEnumeration"_s);
        w.writeTextElement(wsmanNs, u"MaxElements"_s, QString::number(limits.maxElements));
        w.writeStartElement(wsmanNs, u"Filter"_s);
        w.writeAttribute(u"Dialect"_s, QString::fromUtf16(WqlDialect));
        w.writeCharacters(wql);
        w.writeEndElement();
        w.writeEndElement();
    });
}

QByteArray BuildAssociatorsEnumerate(const QString &to, const QString &resourceUri, const QString &className,
                                     const QString &keyProperty, const QString &keyValue, const QString &assocClass,
                                     const QString &messageId, const TRequestLimits &limits)
{
    const QString bindingNs = QString::fromUtf16(CimBindingNs);
    QString classUri = resourceUri;
    if (classUri.endsWith(u"/*"_s))
        classUri.chop(1);
    classUri += className;
    return build(to, resourceUri, action::Enumerate, messageId, limits, [&](QXmlStreamWriter &w) {
        w.writeStartElement(enumNs, u"Enumerate"_s);
        w.writeEmptyElement(wsmanNs, u"OptimizeEnumeration"_s);
        w.writeTextElement(wsmanNs, u"MaxElements"_s, QString::number(limits.maxElements));
        w.writeStartElement(wsmanNs, u"Filter"_s);
        w.writeAttribute(u"Dialect"_s, QString::fromUtf16(AssociationDialect));
        w.writeStartElement(bindingNs, u"AssociatedInstances"_s);
        w.writeStartElement(bindingNs, u"Object"_s);
        w.writeTextElement(addrNs, u"Address"_s, u"http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"_s);
        w.writeStartElement(addrNs, u"ReferenceParameters"_s);
        w.writeTextElement(wsmanNs, u"ResourceURI"_s, classUri);
        w.writeStartElement(wsmanNs, u"SelectorSet"_s);
        w.writeStartElement(wsmanNs, u"Selector"_s);
        w.writeAttribute(u"Name"_s, keyProperty);
        w.writeCharacters(keyValue);
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndElement();
        w.writeTextElement(bindingNs, u"AssociationClassName"_s, assocClass);
        w.writeEndElement();
        w.writeEndElement();
        w.writeEndElement();
    });
}

QByteArray BuildPull(const QString &to, const QString &resourceUri, const QString &context, const QString &messageId,
                     const TRequestLimits &limits)
{
    return build(to, resourceUri, action::Pull, messageId, limits, [&](QXmlStreamWriter &w) {
        w.writeStartElement(enumNs, u"Pull"_s);
        w.writeTextElement(enumNs, u"EnumerationContext"_s, context);
        w.writeTextElement(enumNs, u"MaxElements"_s, QString::number(limits.maxElements));
        w.writeEndElement();
    });
}

QByteArray BuildRelease(const QString &to, const QString &resourceUri, const QString &context,
                        const QString &messageId, const TRequestLimits &limits)
{
    return build(to, resourceUri, action::Release, messageId, limits, [&](QXmlStreamWriter &w) {
        w.writeStartElement(enumNs, u"Release"_s);
        w.writeTextElement(enumNs, u"EnumerationContext"_s, context);
        w.writeEndElement();
    });
}

void TWsManObject::MarkTextArray(const QString &property, QStringList values)
{
    m_instance.Set(property, TWmiNull{});
    m_textArrays.emplace_back(property, std::move(values));
}

QStringList TWsManObject::TextArray(const QString &property) const
{
    for (const auto &[name, values] : m_textArrays)
        if (name.compare(property, Qt::CaseInsensitive) == 0)
            return values;
    return {};
}

QString TWsManObject::ReadText(const QString &property) const
{
    for (const auto &entry : m_textArrays)
        if (entry.first.compare(property, Qt::CaseInsensitive) == 0)
            throw EWmiError(u"Property \"%1\" is an array"_s.arg(property));
    return m_instance.ReadText(property);
}

std::uint8_t TWsManObject::ReadArrayByte(const QString &property, int index) const
{
    // An array of one element arrives as a single element, and a byte array
    // may arrive as one base64 text: both look like text here.
    if (const auto *text = std::get_if<QString>(m_instance.Find(property))) {
        std::int64_t n = 0;
        if (isDecimal(*text, n)) {
            if (index != 0)
                throw EWmiError(u"Index %1 of \"%2\" is out of bounds"_s.arg(index).arg(property));
            return static_cast<std::uint8_t>(n);
        }
        const auto decoded = QByteArray::fromBase64Encoding(text->trimmed().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            throw EWmiError(u"Property \"%1\" is not an array"_s.arg(property));
        if (index < 0 || index >= decoded.decoded.size())
            throw EWmiError(u"Index %1 of \"%2\" is out of bounds"_s.arg(index).arg(property));
        return static_cast<std::uint8_t>(decoded.decoded[index]);
    }
    return m_instance.ReadArrayByte(property, index);
}

QString TFault::Message() const
{
    QString text = reason.isEmpty() ? u"WS-Management fault"_s : reason;
    QStringList parts;
    if (!subcode.isEmpty())
        parts << subcode;
    else if (!code.isEmpty())
        parts << code;
    if (!wsmanCode.isEmpty())
        parts << u"code %1"_s.arg(wsmanCode);
    if (!parts.isEmpty())
        text += u" ("_s + parts.join(u", "_s) + u')';
    if (!detail.isEmpty() && detail != reason)
        text += u": "_s + detail;
    return text;
}

TEnumerationPage ParseEnumerationResponse(const QByteArray &xml, const QString &expectedAction,
                                          const QString &requestMessageId)
{
    TParsed p = parseEnvelope(xml);
    checkHeader(p, expectedAction, requestMessageId);
    if (p.bodyElement != u"EnumerateResponse" && p.bodyElement != u"PullResponse")
        throw EWmiError(u"WS-Management answer has no enumeration in its body"_s);
    return std::move(p.page);
}

void ParseReleaseResponse(const QByteArray &xml, const QString &requestMessageId)
{
    checkHeader(parseEnvelope(xml), QString::fromUtf16(action::ReleaseResponse), requestMessageId);
}

bool FindFault(const QByteArray &xml, TFault &fault)
{
    TParsed p = parseEnvelope(xml);
    fault = p.fault;
    return p.hasFault;
}

TEnvelopeHeader ParseHeader(const QByteArray &xml)
{
    return parseEnvelope(xml).header;
}

std::vector<TWsManObject> ParseItems(const QByteArray &xml)
{
    QXmlStreamReader r(xml);
    std::vector<TWsManObject> items;
    // Descend through any wrapper to the Items (or Body) element.
    while (r.readNextStartElement()) {
        if (r.name() == u"Items" || r.name() == u"Body") {
            readItems(r, items);
            break;
        }
    }
    if (r.hasError())
        throw malformed(r);
    return items;
}

} // namespace valmora::drives::winrm
