#include "WsDiscovery.h"

#include <QHostAddress>
#include <QUrl>
#include <QUuid>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace valmora::platform::wsd {

namespace {

const QString SoapNs = u"http://www.w3.org/2003/05/soap-envelope"_s;
const QString AddressingNs = u"http://schemas.xmlsoap.org/ws/2004/08/addressing"_s;
const QString DiscoveryNs = u"http://schemas.xmlsoap.org/ws/2005/04/discovery"_s;
const QString DevicesNs = u"http://schemas.xmlsoap.org/ws/2006/02/devprof"_s;
const QString PubNs = u"http://schemas.microsoft.com/windows/pub/2005/07"_s;
const QString MexNs = u"http://schemas.xmlsoap.org/ws/2004/09/mex"_s;

const QString DiscoveryTo = u"urn:schemas-xmlsoap-org:ws:2005:04:discovery"_s;
const QString AnonymousRole = u"http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"_s;
const QString ProbeAction = u"http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe"_s;
const QString ResolveAction = u"http://schemas.xmlsoap.org/ws/2005/04/discovery/Resolve"_s;
const QString GetAction = u"http://schemas.xmlsoap.org/ws/2004/09/transfer/Get"_s;

// Bounds of what a reply may hold before it is dropped as hostile.
constexpr int MaxDepth = 32;
constexpr int MaxNodes = 4000;
constexpr int MaxMatches = 64;
constexpr int MaxFieldLength = 4096;

// A small element tree of one message, enough to follow a few paths through it.
struct TNode
{
    QString ns;
    QString name;
    QString text;
    QXmlStreamAttributes attributes;
    QXmlStreamNamespaceDeclarations declarations;
    TNode *parent = nullptr;
    std::vector<std::unique_ptr<TNode>> children;

    const TNode *child(const QString &childNs, const QString &childName) const
    {
        for (const auto &c : children)
            if (c->ns == childNs && c->name == childName)
                return c.get();
        return nullptr;
    }
    std::vector<const TNode *> all(const QString &childNs, const QString &childName) const
    {
        std::vector<const TNode *> out;
        for (const auto &c : children)
            if (c->ns == childNs && c->name == childName)
                out.push_back(c.get());
        return out;
    }
    QString childText(const QString &childNs, const QString &childName) const
    {
        const TNode *c = child(childNs, childName);
        return c ? c->text.trimmed() : QString();
    }
    // The namespace a prefix stands for where this element stands.
    QString namespaceOf(QStringView prefix) const
    {
        for (const TNode *n = this; n; n = n->parent)
            for (const QXmlStreamNamespaceDeclaration &d : n->declarations)
                if (d.prefix() == prefix)
                    return d.namespaceUri().toString();
        return QString();
    }
    // Does this element's text, a list of qualified names, hold {ns}name?
    bool holdsQName(const QString &qns, const QString &qname) const
    {
        const QStringList names = text.simplified().split(u' ', Qt::SkipEmptyParts);
        for (const QString &item : names) {
            const qsizetype colon = item.indexOf(u':');
            const QStringView prefix = colon < 0 ? QStringView() : QStringView(item).left(colon);
            const QStringView local = colon < 0 ? QStringView(item) : QStringView(item).mid(colon + 1);
            if (local == qname && namespaceOf(prefix) == qns)
                return true;
        }
        return false;
    }
};

std::unique_ptr<TNode> parseTree(const QByteArray &message)
{
    QXmlStreamReader xml(message);
    xml.setNamespaceProcessing(true);
    std::unique_ptr<TNode> root;
    TNode *current = nullptr;
    int depth = 0;
    int nodes = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            return nullptr; // SOAP messages carry no document type; entities are not ours to expand
        case QXmlStreamReader::StartElement: {
            if (++depth > MaxDepth || ++nodes > MaxNodes)
                return nullptr;
            auto node = std::make_unique<TNode>();
            node->ns = xml.namespaceUri().toString();
            node->name = xml.name().toString();
            node->attributes = xml.attributes();
            node->declarations = xml.namespaceDeclarations();
            node->parent = current;
            TNode *raw = node.get();
            if (current)
                current->children.push_back(std::move(node));
            else if (!root)
                root = std::move(node);
            else
                return nullptr;
            current = raw;
            break;
        }
        case QXmlStreamReader::EndElement:
            --depth;
            current = current ? current->parent : nullptr;
            break;
        case QXmlStreamReader::Characters:
            if (current) {
                if (current->text.size() + xml.text().size() > MaxFieldLength)
                    return nullptr;
                current->text += xml.text();
            }
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || !root)
        return nullptr;
    return root;
}

const TNode *bodyOf(const TNode &envelope)
{
    if (envelope.ns != SoapNs || envelope.name != u"Envelope"_s)
        return nullptr;
    return envelope.child(SoapNs, u"Body"_s);
}

// Field texts go back into messages and logs: keep only short, printable ones.
bool isPlainField(const QString &text)
{
    if (text.isEmpty() || text.size() > 1024)
        return false;
    for (QChar c : text)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

void writeHeader(QXmlStreamWriter &w, const QString &to, const QString &action, const QString &messageId)
{
    w.writeStartDocument();
    w.writeNamespace(SoapNs, u"soap"_s);
    w.writeNamespace(AddressingNs, u"wsa"_s);
    w.writeNamespace(DiscoveryNs, u"wsd"_s);
    w.writeNamespace(DevicesNs, u"wsdp"_s);
    w.writeStartElement(SoapNs, u"Envelope"_s);
    w.writeStartElement(SoapNs, u"Header"_s);
    w.writeTextElement(AddressingNs, u"To"_s, to);
    w.writeTextElement(AddressingNs, u"Action"_s, action);
    w.writeTextElement(AddressingNs, u"MessageID"_s, messageId);
    if (action == GetAction) {
        w.writeStartElement(AddressingNs, u"ReplyTo"_s);
        w.writeTextElement(AddressingNs, u"Address"_s, AnonymousRole);
        w.writeEndElement();
    }
    w.writeEndElement(); // Header
}

} // namespace

QString NewMessageId()
{
    return u"urn:uuid:"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QByteArray BuildProbe(const QString &messageId)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    writeHeader(w, DiscoveryTo, ProbeAction, messageId);
    w.writeStartElement(SoapNs, u"Body"_s);
    w.writeStartElement(DiscoveryNs, u"Probe"_s);
    w.writeTextElement(DiscoveryNs, u"Types"_s, u"wsdp:Device"_s);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

QByteArray BuildResolve(const QString &messageId, const QString &endpoint)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    writeHeader(w, DiscoveryTo, ResolveAction, messageId);
    w.writeStartElement(SoapNs, u"Body"_s);
    w.writeStartElement(DiscoveryNs, u"Resolve"_s);
    w.writeStartElement(AddressingNs, u"EndpointReference"_s);
    w.writeTextElement(AddressingNs, u"Address"_s, endpoint);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

QByteArray BuildGetMetadata(const QString &messageId, const QString &endpoint)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    writeHeader(w, endpoint, GetAction, messageId);
    w.writeEmptyElement(SoapNs, u"Body"_s);
    w.writeEndElement(); // Envelope
    w.writeEndDocument();
    return out;
}

std::optional<TDiscoveryReply> ParseDiscoveryReply(const QByteArray &message)
{
    if (message.size() > MaxDatagram)
        return std::nullopt;
    const std::unique_ptr<TNode> root = parseTree(message);
    if (!root)
        return std::nullopt;
    const TNode *body = bodyOf(*root);
    const TNode *header = root->child(SoapNs, u"Header"_s);
    if (!body || !header)
        return std::nullopt;

    TDiscoveryReply reply;
    reply.action = header->childText(AddressingNs, u"Action"_s);
    reply.relatesTo = header->childText(AddressingNs, u"RelatesTo"_s);
    const TNode *list = body->child(DiscoveryNs, u"ProbeMatches"_s);
    QString itemName = u"ProbeMatch"_s;
    if (!list) {
        list = body->child(DiscoveryNs, u"ResolveMatches"_s);
        itemName = u"ResolveMatch"_s;
    }
    if (!list || !isPlainField(reply.relatesTo))
        return std::nullopt;
    for (const TNode *item : list->all(DiscoveryNs, itemName)) {
        if (reply.matches.size() >= MaxMatches)
            break;
        const TNode *reference = item->child(AddressingNs, u"EndpointReference"_s);
        TMatch match;
        match.endpoint = reference ? reference->childText(AddressingNs, u"Address"_s) : QString();
        if (!isPlainField(match.endpoint))
            continue;
        const TNode *types = item->child(DiscoveryNs, u"Types"_s);
        match.isComputer = types && types->holdsQName(PubNs, u"Computer"_s);
        match.xaddrs = item->childText(DiscoveryNs, u"XAddrs"_s).simplified().split(u' ', Qt::SkipEmptyParts);
        reply.matches.push_back(std::move(match));
    }
    return reply;
}

std::optional<QString> ParseComputerEntry(const QByteArray &message)
{
    if (message.size() > MaxMetadataBytes)
        return std::nullopt;
    const std::unique_ptr<TNode> root = parseTree(message);
    if (!root)
        return std::nullopt;
    const TNode *body = bodyOf(*root);
    const TNode *metadata = body ? body->child(MexNs, u"Metadata"_s) : nullptr;
    if (!metadata)
        return std::nullopt;
    for (const TNode *section : metadata->all(MexNs, u"MetadataSection"_s)) {
        if (section->attributes.value(u"Dialect"_s) != QString(DevicesNs + u"/Relationship"_s))
            continue;
        for (const TNode *relationship : section->all(DevicesNs, u"Relationship"_s)) {
            if (relationship->attributes.value(u"Type"_s) != QString(DevicesNs + u"/host"_s))
                continue;
            const TNode *host = relationship->child(DevicesNs, u"Host"_s);
            const TNode *types = host ? host->child(DevicesNs, u"Types"_s) : nullptr;
            if (!types || !types->holdsQName(PubNs, u"Computer"_s))
                continue;
            const TNode *computer = host->child(PubNs, u"Computer"_s);
            if (computer)
                return computer->text.trimmed();
        }
    }
    return std::nullopt;
}

QString ComputerNameOfEntry(const QString &entry)
{
    const qsizetype slash = entry.indexOf(u'/');
    return (slash < 0 ? entry : entry.left(slash)).trimmed();
}

std::optional<QString> PickTransportAddress(const QStringList &xaddrs, const QString &senderAddress)
{
    QHostAddress sender;
    if (!sender.setAddress(senderAddress))
        return std::nullopt;
    for (const QString &text : xaddrs) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != u"http"_s || !url.userInfo().isEmpty())
            continue;
        QHostAddress host;
        if (!host.setAddress(url.host()) || !host.isEqual(sender, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        return url.toString(QUrl::FullyEncoded);
    }
    return std::nullopt;
}

} // namespace valmora::platform::wsd
