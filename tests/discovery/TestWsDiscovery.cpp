// The WS-Discovery messages: what is sent, and how replies from anyone on the
// network are read (or dropped).
#include "platform/NetworkEnumerator.h"
#include "platform/linux/WsDiscovery.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora::platform;

namespace {

const QByteArray Namespaces =
    R"(xmlns:soap="http://www.w3.org/2003/05/soap-envelope" xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing" )"
    R"(xmlns:wsd="http://schemas.xmlsoap.org/ws/2005/04/discovery" xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" )"
    R"(xmlns:wsx="http://schemas.xmlsoap.org/ws/2004/09/mex" xmlns:pub="http://schemas.microsoft.com/windows/pub/2005/07")";

QByteArray envelope(const QByteArray &header, const QByteArray &body, const QByteArray &ns = Namespaces)
{
    return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope )" + ns + "><soap:Header>" + header
           + "</soap:Header><soap:Body>" + body + "</soap:Body></soap:Envelope>";
}

QByteArray probeMatch(const QByteArray &types, const QByteArray &extra = {},
                      const QByteArray &endpoint = "urn:uuid:0b7d4e5c-1111-2222-3333-444455556666")
{
    return envelope("<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
                    "<wsa:RelatesTo>urn:uuid:probe-1</wsa:RelatesTo>",
                    "<wsd:ProbeMatches><wsd:ProbeMatch><wsa:EndpointReference><wsa:Address>" + endpoint
                        + "</wsa:Address></wsa:EndpointReference><wsd:Types>" + types + "</wsd:Types>" + extra
                        + "<wsd:MetadataVersion>1</wsd:MetadataVersion></wsd:ProbeMatch></wsd:ProbeMatches>");
}

QByteArray metadata(const QByteArray &computer, const QByteArray &types = "pub:Computer")
{
    return envelope(
        "<wsa:Action>http://schemas.xmlsoap.org/ws/2004/09/transfer/GetResponse</wsa:Action>",
        "<wsx:Metadata>"
        R"(<wsx:MetadataSection Dialect="http://schemas.xmlsoap.org/ws/2006/02/devprof/ThisDevice">)"
        "<wsdp:ThisDevice><wsdp:FriendlyName>WSD Device X</wsdp:FriendlyName></wsdp:ThisDevice></wsx:MetadataSection>"
        R"(<wsx:MetadataSection Dialect="http://schemas.xmlsoap.org/ws/2006/02/devprof/Relationship">)"
        R"(<wsdp:Relationship Type="http://schemas.xmlsoap.org/ws/2006/02/devprof/host"><wsdp:Host>)"
        "<wsa:EndpointReference><wsa:Address>urn:uuid:x</wsa:Address></wsa:EndpointReference><wsdp:Types>"
            + types + "</wsdp:Types><pub:Computer>" + computer
            + "</pub:Computer></wsdp:Host></wsdp:Relationship></wsx:MetadataSection></wsx:Metadata>");
}

} // namespace

TEST(WsDiscoveryMessages, ProbeAsksForDevicesAndResolveEscapesTheEndpoint)
{
    const QByteArray probe = wsd::BuildProbe(u"urn:uuid:probe-1"_s);
    QXmlStreamReader xml(probe);
    QStringList texts;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"Types"_s)
            texts.append(xml.readElementText());
    EXPECT_FALSE(xml.hasError());
    EXPECT_EQ(texts, QStringList{u"wsdp:Device"_s});

    const QByteArray resolve = wsd::BuildResolve(u"urn:uuid:r"_s, u"urn:x</wsa:Address><evil/>&"_s);
    EXPECT_FALSE(resolve.contains("<evil/>"));
    QXmlStreamReader back(resolve);
    while (!back.atEnd())
        back.readNext();
    EXPECT_FALSE(back.hasError());
    EXPECT_TRUE(wsd::BuildGetMetadata(u"urn:uuid:g"_s, u"urn:uuid:x"_s).contains("transfer/Get"));
}

TEST(WsDiscoveryMessages, ReadsProbeMatchesOfComputers)
{
    const auto reply = wsd::ParseDiscoveryReply(
        probeMatch("wsdp:Device pub:Computer", "<wsd:XAddrs>http://10.0.0.5:5357/abc http://[fe80::1]/x</wsd:XAddrs>"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->relatesTo, u"urn:uuid:probe-1"_s);
    ASSERT_EQ(reply->matches.size(), 1u);
    EXPECT_EQ(reply->matches[0].endpoint, u"urn:uuid:0b7d4e5c-1111-2222-3333-444455556666"_s);
    EXPECT_TRUE(reply->matches[0].isComputer);
    EXPECT_EQ(reply->matches[0].xaddrs.size(), 2);

    // The type is a qualified name: what counts is the namespace its prefix stands for.
    QByteArray otherPrefix = probeMatch("wsdp:Device c:Computer");
    otherPrefix.replace("<wsd:Types>", R"(<wsd:Types xmlns:c="http://schemas.microsoft.com/windows/pub/2005/07">)");
    EXPECT_TRUE(wsd::ParseDiscoveryReply(otherPrefix)->matches.at(0).isComputer);
    EXPECT_FALSE(wsd::ParseDiscoveryReply(probeMatch("wsdp:Device"))->matches.at(0).isComputer); // a printer
    EXPECT_FALSE(wsd::ParseDiscoveryReply(probeMatch("wsdp:Device x:Computer"))->matches.at(0).isComputer);
}

TEST(WsDiscoveryMessages, DropsMalformedAndHostileReplies)
{
    const QByteArray deep = envelope("<wsa:RelatesTo>urn:uuid:probe-1</wsa:RelatesTo>",
                                     QByteArray("<a>").repeated(100) + QByteArray("</a>").repeated(100));
    const QByteArray laughs = R"(<?xml version="1.0"?><!DOCTYPE s [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;">]>)"
                              + probeMatch("&b;").mid(38);
    QByteArray wrongEnvelope = probeMatch("wsdp:Device pub:Computer");
    wrongEnvelope.replace("http://www.w3.org/2003/05/soap-envelope", "urn:not-soap");
    QByteArray noRelates = probeMatch("wsdp:Device pub:Computer");
    noRelates.replace("<wsa:RelatesTo>urn:uuid:probe-1</wsa:RelatesTo>", "");
    QByteArray twoRoots = probeMatch("pub:Computer") + "<x/>";

    const QByteArray cases[] = {"", "not xml at all", "<soap:Envelope", deep, laughs, wrongEnvelope, noRelates,
                                twoRoots, QByteArray(70000, 'x'),
                                probeMatch("pub:Computer").replace("</soap:Body>", "")};
    for (const QByteArray &c : cases)
        EXPECT_EQ(wsd::ParseDiscoveryReply(c), std::nullopt) << c.left(120).toStdString();

    // An endpoint holding a control character is left out; the rest of the reply stands.
    const auto reply = wsd::ParseDiscoveryReply(probeMatch("pub:Computer", {}, "urn:uuid:a&#10;b"));
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->matches.empty());
}

TEST(WsDiscoveryMessages, ComputerEntryOfTheMetadata)
{
    EXPECT_EQ(wsd::ParseComputerEntry(metadata("WSDHOST7/Workgroup:TESTGROUP")), u"WSDHOST7/Workgroup:TESTGROUP"_s);
    EXPECT_EQ(wsd::ParseComputerEntry(metadata("pc1/Domain:corp.example")), u"pc1/Domain:corp.example"_s);
    EXPECT_EQ(wsd::ParseComputerEntry(metadata("PRN", "wsdp:Device")), std::nullopt);
    EXPECT_EQ(wsd::ParseComputerEntry("<broken"), std::nullopt);
    EXPECT_EQ(wsd::ParseComputerEntry(envelope({}, "<wsx:Metadata/>")), std::nullopt);

    EXPECT_EQ(wsd::ComputerNameOfEntry(u"WSDHOST7/Workgroup:TESTGROUP"_s), u"WSDHOST7"_s);
    EXPECT_EQ(wsd::ComputerNameOfEntry(u"pc1/Domain:corp.example"_s), u"pc1"_s);
    EXPECT_EQ(wsd::ComputerNameOfEntry(u"Łódź"_s), u"Łódź"_s);
    EXPECT_EQ(wsd::ComputerNameOfEntry(u"/Workgroup:X"_s), QString());
}

TEST(WsDiscoveryMessages, MetadataIsFetchedOnlyFromTheResponder)
{
    const QString sender = u"10.231.7.1"_s;
    struct Case
    {
        QStringList xaddrs;
        std::optional<QString> picked;
    };
    const Case cases[] = {
        {{u"http://10.231.7.1:5357/uuid"_s}, u"http://10.231.7.1:5357/uuid"_s},
        {{u"http://203.0.113.9:5357/uuid"_s}, std::nullopt}, // somewhere else
        {{u"https://10.231.7.1/x"_s, u"file:///etc/passwd"_s, u"http://10.231.7.1/y"_s}, u"http://10.231.7.1/y"_s},
        {{u"http://user:pw@10.231.7.1/x"_s}, std::nullopt},
        {{u"http://localhost:5357/x"_s}, std::nullopt},
        {{u"gopher://10.231.7.1/x"_s, u"not a url"_s}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(wsd::PickTransportAddress(c.xaddrs, sender), c.picked) << c.xaddrs.join(u' ').toStdString();
}

TEST(WsDiscoveryEnumerator, OpeningFailsWithoutAUsableInterface)
{
    TWsDiscoveryOptions options;
    options.interfaces = {u"no-such-interface0"_s};
    QString error;
    EXPECT_EQ(CreateNetworkEnumerator(options)->Open(error), nullptr);
    EXPECT_FALSE(error.isEmpty());
}
