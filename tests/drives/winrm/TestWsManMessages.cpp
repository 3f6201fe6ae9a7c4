// Envelopes, instances and faults against the real captured messages and our
// own fixtures; the multipart/encrypted framing; user names.

#include "TestSupport.h"

#include "drives/winrm/WinRmEncryption.h"
#include "drives/winrm/WinRmProvider.h"
#include "drives/winrm/WsManMessages.h"
#include "foundation/TextFile.h"

#include <QFile>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace valmora::drives;
using namespace valmora::drives::winrm;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

QByteArray shared(const char *name)
{
    return readFile(valmora::test::SharedFixtures() + u"/winrm/"_s + QString::fromLatin1(name));
}

#define REQUIRE_SHARED()                                                                                               \
    if (valmora::test::SharedFixtures().isEmpty()) {                                                                   \
        GTEST_SKIP() << "the shared fixtures folder is not present";                                                   \
    }

// The fragments start with an undeclared prefix; declare it around them.
QByteArray wrapFragment(const QByteArray &fragment)
{
    return "<wrap xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\">"
           + fragment + "</wrap>";
}

// Local names (with namespace) of the Header's children.
QStringList headerElements(const QByteArray &xml)
{
    QStringList names;
    QXmlStreamReader r(xml);
    int depth = 0;
    bool inHeader = false;
    while (!r.atEnd()) {
        const auto t = r.readNext();
        if (t == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 2 && r.name() == u"Header")
                inHeader = true;
            else if (inHeader && depth == 3)
                names << r.namespaceUri().toString() + u'#' + r.name().toString();
        } else if (t == QXmlStreamReader::EndElement) {
            if (depth == 2)
                inHeader = false;
            --depth;
        }
    }
    return names;
}

} // namespace

TEST(WsManRequests, EnumerateCarriesFilterLimitsAndIds)
{
    TRequestLimits limits;
    limits.operationTimeoutMs = 20500;
    const QString id = NewMessageId();
    const QByteArray xml = BuildEnumerate(u"http://host:5985/wsman"_s, ResourceUri(u"root\\WMI"_s),
                                          u"SELECT * FROM MSStorageDriver_FailurePredictData"_s, id, limits);
    QXmlStreamReader r(xml);
    QMap<QString, QString> seen;
    QString dialect;
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString key = r.name().toString();
        if (key == u"Filter")
            dialect = r.attributes().value(u"Dialect"_s).toString();
        if (key != u"Envelope" && key != u"Header" && key != u"Body" && key != u"Enumerate" && key != u"ReplyTo")
            seen[key] = r.readElementText();
    }
    ASSERT_FALSE(r.hasError()) << r.errorString().toStdString();
    EXPECT_EQ(seen[u"Action"_s], QString::fromUtf16(action::Enumerate));
    EXPECT_EQ(seen[u"ResourceURI"_s], u"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/wmi/*"_s);
    EXPECT_EQ(seen[u"Filter"_s], u"SELECT * FROM MSStorageDriver_FailurePredictData"_s);
    EXPECT_EQ(dialect, u"http://schemas.microsoft.com/wbem/wsman/1/WQL"_s);
    EXPECT_EQ(seen[u"MaxEnvelopeSize"_s], u"512000"_s);
    EXPECT_EQ(seen[u"OperationTimeout"_s], u"PT20.500S"_s);
    EXPECT_EQ(seen[u"MessageID"_s], id);
    EXPECT_TRUE(id.startsWith(u"uuid:"_s));
    EXPECT_NE(NewMessageId(), id);

    // Pull and Release carry the context, escaped as XML text.
    const QByteArray pull = BuildPull(u"http://h/wsman"_s, ResourceUri(u"root\\cimv2"_s), u"uuid:a<b&c"_s, id, limits);
    EXPECT_TRUE(pull.contains("uuid:a&lt;b&amp;c")) << pull.constData();
    EXPECT_TRUE(pull.contains(QString::fromUtf16(action::Pull).toUtf8()));
    const QByteArray release = BuildRelease(u"http://h/wsman"_s, ResourceUri(u"root\\cimv2"_s), u"ctx"_s, id, limits);
    EXPECT_TRUE(release.contains(QString::fromUtf16(action::Release).toUtf8()));
}

TEST(WsManRequests, ResourceUriOfNamespace)
{
    const std::pair<QString, QString> cases[] = {
        {u"root\\CIMV2"_s, u"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*"_s},
        {u"root\\WMI"_s, u"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/wmi/*"_s},
        {u"\\root\\cimv2"_s, u"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*"_s},
    };
    for (const auto &[ns, uri] : cases)
        EXPECT_EQ(ResourceUri(ns), uri) << ns.toStdString();
}

TEST(WsManRequests, HeaderHasWhatAWindowsClientSends)
{
    REQUIRE_SHARED()
    const QStringList ours = headerElements(BuildEnumerate(u"http://windows-host:5985/wsman"_s,
                                                           ResourceUri(u"root\\cimv2"_s), u"SELECT * FROM X"_s,
                                                           NewMessageId(), {}));
    const QStringList theirs = headerElements(shared("gosammwr_enumerate_win32_operatingsystem_wmi_request.xml"));
    ASSERT_FALSE(theirs.isEmpty());
    for (const QString &element : theirs) {
        if (!element.endsWith(u"#DataLocale"_s)) { // optional, Microsoft's own
            EXPECT_TRUE(ours.contains(element)) << element.toStdString();
        }
    }
}

TEST(WsManResponses, RealEnumerateAndPullResponsesParse)
{
    REQUIRE_SHARED()
    const TEnumerationPage first = ParseEnumerationResponse(shared("gosammwr_enumerate_win32_diskdrive_cim_response.xml"),
                                                            QString::fromUtf16(action::EnumerateResponse),
                                                            u"uuid:F7001EF7-6F3A-4A4C-A84B-97C3234529F8"_s);
    EXPECT_EQ(first.context, u"uuid:58109219-945F-45AC-8EAA-8F021221F0A6"_s);
    EXPECT_FALSE(first.endOfSequence);
    ASSERT_EQ(first.items.size(), 1u);
    const TWsManObject &disk = first.items[0];
    EXPECT_EQ(disk.ClassName(), u"Win32_DiskDrive"_s);
    EXPECT_EQ(disk.ReadText(u"DeviceID"_s), u"\\\\.\\PHYSICALDRIVE0"_s);
    EXPECT_EQ(disk.ReadText(u"PNPDeviceID"_s), u"SCSI\\DISK&VEN_RED_HAT&PROD_VIRTIO\\4&35110308&0&000000"_s);
    EXPECT_EQ(disk.ReadInt64(u"Size"_s), 54755688960);
    EXPECT_EQ(disk.ReadInt32(u"BytesPerSector"_s), 512);
    EXPECT_EQ(disk.ReadText(u"SerialNumber"_s), QString()); // xsi:nil
    EXPECT_THROW(disk.ReadInt64(u"SerialNumber"_s), EWmiError);
    EXPECT_THROW(disk.ReadInt64(u"PowerManagementCapabilities"_s), EWmiError); // null array
    EXPECT_EQ(disk.ReadArrayByte(u"Capabilities"_s, 1), 4);
    EXPECT_THROW(disk.ReadArrayByte(u"Capabilities"_s, 2), EWmiError);
    EXPECT_THROW(disk.ReadText(u"CapabilityDescriptions"_s), EWmiError);
    EXPECT_EQ(disk.TextArray(u"CapabilityDescriptions"_s), (QStringList{u"Random Access"_s, u"Supports Writing"_s}));
    // The endpoint reference beside the instance is not an instance.
    EXPECT_THROW(disk.ReadInt64(u"Address"_s), EWmiError);

    const TEnumerationPage last = ParseEnumerationResponse(
        shared("gosammwr_pull_win32_diskdrive_cim_response_endofsequence.xml"), QString::fromUtf16(action::PullResponse),
        u"uuid:A62E3123-EFF2-4F2C-BA9C-EA59B4D7EC0D"_s);
    EXPECT_TRUE(last.endOfSequence);
    ASSERT_GE(last.items.size(), 2u);
    EXPECT_EQ(last.items.back().ReadText(u"DeviceID"_s), u"\\\\.\\PHYSICALDRIVE1"_s);
}

TEST(WsManResponses, AnswerMustRelateToTheRequestAndAction)
{
    REQUIRE_SHARED()
    const QByteArray xml = shared("gosammwr_enumerate_win32_diskdrive_cim_response.xml");
    EXPECT_THROW(ParseEnumerationResponse(xml, QString::fromUtf16(action::EnumerateResponse), NewMessageId()),
                 EWmiError);
    EXPECT_THROW(ParseEnumerationResponse(xml, QString::fromUtf16(action::PullResponse),
                                          u"uuid:F7001EF7-6F3A-4A4C-A84B-97C3234529F8"_s),
                 EWmiError);
    // Message identifiers compare without regard to letter case.
    EXPECT_NO_THROW(ParseEnumerationResponse(xml, QString::fromUtf16(action::EnumerateResponse),
                                             u"uuid:f7001ef7-6f3a-4a4c-a84b-97c3234529f8"_s));
}

TEST(WsManResponses, RealFragmentsParse)
{
    REQUIRE_SHARED()
    const auto items = ParseItems(wrapFragment(shared("gosammwr_pull_win32_diskdrive_wmi_items_fragment.xml")));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].ReadInt64(u"Size"_s), 107372805120);
    EXPECT_EQ(items[0].ReadText(u"SerialNumber"_s), u"54bc3ec9-0f7c-43b4-9"_s);
    EXPECT_EQ(items[0].ReadText(u"Availability"_s), QString());

    const auto body = ParseItems(wrapFragment(shared("gosammwr_get_win32_diskdrive_wmi_body_fragment.xml")));
    ASSERT_EQ(body.size(), 1u);
    EXPECT_EQ(body[0].ReadInt64(u"TotalSectors"_s), 629137530);

    const auto system = ParseItems(wrapFragment(shared("gosammwr_pull_win32_computersystem_wmi_items_fragment.xml")));
    ASSERT_EQ(system.size(), 1u);
    EXPECT_EQ(system[0].ReadInt64(u"TotalPhysicalMemory"_s), 4294389760);
}

TEST(WsManResponses, RealFaultsGiveTheirText)
{
    REQUIRE_SHARED()
    struct Case
    {
        const char *file, *subcode, *code, *detail;
    };
    const Case cases[] = {
        {"winrb_fault_cannotprocessfilter_class_not_found_v1.xml", "n:CannotProcessFilter", "2150858778",
         "The specified class does not exist in the given namespace."},
        {"winrb_fault_cannotprocessfilter_class_not_found_v2.xml", "n:CannotProcessFilter", "2150858778",
         "The specified class does not exist in the given namespace."},
        {"winrb_fault_quotalimit_msft_wmierror.xml", "w:QuotaLimit", "2150859173",
         "This user is allowed a maximum number of 30 concurrent shells"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QByteArray xml = shared(c.file);
        TFault fault;
        ASSERT_TRUE(FindFault(xml, fault));
        EXPECT_EQ(fault.code, u"s:Sender"_s);
        EXPECT_EQ(fault.subcode, QString::fromLatin1(c.subcode));
        EXPECT_EQ(fault.wsmanCode, QString::fromLatin1(c.code));
        EXPECT_TRUE(fault.detail.contains(QString::fromLatin1(c.detail))) << fault.detail.toStdString();
        EXPECT_TRUE(fault.reason.startsWith(u"The "_s)) << fault.reason.toStdString();
        try {
            ParseEnumerationResponse(xml, QString::fromUtf16(action::EnumerateResponse), NewMessageId());
            ADD_FAILURE() << "a fault must raise";
        } catch (const EWmiError &e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.subcode)));
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.detail)));
        }
    }
}

TEST(WsManResponses, OwnRecordingsReadAsTheReaderNeeds)
{
    const QByteArray data = readFile(valmora::test::OwnFixture(u"winrm/failurepredictdata_items.xml"_s));
    const auto items = ParseItems("<n:Items xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\">" + data
                                  + "</n:Items>");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].ReadInt32(u"Length"_s), 512);
    EXPECT_EQ(items[0].ReadArrayByte(u"VendorSpecific"_s, 0), 0x10);
    EXPECT_EQ(items[0].ReadArrayByte(u"VendorSpecific"_s, 2), 1);   // first attribute id
    EXPECT_EQ(items[0].ReadArrayByte(u"VendorSpecific"_s, 511), 0);
    EXPECT_THROW(items[0].ReadArrayByte(u"VendorSpecific"_s, 512), EWmiError);
    EXPECT_TRUE(items[1].ReadText(u"instancename"_s).startsWith(u"SCSI\\DISK&Ven_Valmora&Prod_TestDisk_B"_s));

    const QByteArray disks = readFile(valmora::test::OwnFixture(u"winrm/diskdrive_items.xml"_s));
    const auto drives = ParseItems("<Items>" + disks + "</Items>");
    ASSERT_EQ(drives.size(), 2u);
    // A 64-bit unsigned decimal beyond the signed range keeps its bits.
    EXPECT_EQ(static_cast<std::uint64_t>(drives[1].ReadInt64(u"Size"_s)), 18446744073709551615ull);
}

TEST(WsManResponses, ByteArraysAsOneElementOrBase64)
{
    const QByteArray xml =
        "<Items><p:X xmlns:p=\"urn:x\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
        "<p:One>7</p:One><p:Blob>" + QByteArray("\x01\x02\xff", 3).toBase64() + "</p:Blob>"
        "<p:Word>Disk</p:Word><p:Nil xsi:nil=\"true\"/><p:Nested><q:In xmlns:q=\"urn:q\">20240102</q:In></p:Nested>"
        "</p:X></Items>";
    const auto items = ParseItems(xml);
    ASSERT_EQ(items.size(), 1u);
    const TWsManObject &o = items[0];
    EXPECT_EQ(o.ReadArrayByte(u"One"_s, 0), 7);
    EXPECT_THROW(o.ReadArrayByte(u"One"_s, 1), EWmiError);
    EXPECT_EQ(o.ReadArrayByte(u"Blob"_s, 2), 0xff);
    EXPECT_THROW(o.ReadArrayByte(u"Blob"_s, 3), EWmiError);
    EXPECT_EQ(o.ReadText(u"Word"_s), u"Disk"_s);
    EXPECT_THROW(o.ReadArrayByte(u"Nil"_s, 0), EWmiError);
    EXPECT_EQ(o.ReadText(u"Nested"_s), u"20240102"_s);
}

TEST(WsManResponses, DeepAndWideInstancesAreRefusedWithoutRecursion)
{
    // levels: elements nested inside the property Model, which is level 2.
    const auto instance = [](int levels, int extraProperties) -> QByteArray {
        QByteArray props;
        for (int i = 0; i < extraProperties; ++i)
            props += "<p:P" + QByteArray::number(i) + ">1</p:P" + QByteArray::number(i) + '>';
        return "<p:Win32_DiskDrive xmlns:p=\"urn:x\">" + props + "<p:Model>A" + QByteArray("<x>").repeated(levels)
               + "deep" + QByteArray("</x>").repeated(levels) + "B</p:Model></p:Win32_DiskDrive>";
    };
    struct Case
    {
        int levels, extraProperties;
        const char *refusal; // empty: parses
    } const cases[] = {
        {0, 0, ""},
        {MaxInstanceDepth - 2, 0, ""},
        {MaxInstanceDepth - 1, 0, "nested deeper than 16"},
        {100000, 0, "nested deeper than 16"},
        {0, MaxInstanceProperties - 1, ""},
        {0, MaxInstanceProperties, "more than 256 properties"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.levels) + " levels, " + std::to_string(c.extraProperties) + " properties");
        const QString id = NewMessageId();
        const QByteArray xml =
            "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
            "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
            "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
            "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\"><s:Header><a:Action>"
            + QString::fromUtf16(action::PullResponse).toUtf8() + "</a:Action><a:RelatesTo>" + id.toUtf8()
            + "</a:RelatesTo></s:Header><s:Body><n:PullResponse><n:Items>" + instance(c.levels, c.extraProperties)
            + "</n:Items><n:EndOfSequence/></n:PullResponse></s:Body></s:Envelope>";
        if (*c.refusal == 0) {
            const TEnumerationPage page = ParseEnumerationResponse(xml, QString::fromUtf16(action::PullResponse), id);
            ASSERT_EQ(page.items.size(), 1u);
            // The text of every level, as one value.
            EXPECT_EQ(page.items[0].ReadText(u"Model"_s), u"AdeepB"_s);
            continue;
        }
        try {
            ParseEnumerationResponse(xml, QString::fromUtf16(action::PullResponse), id);
            ADD_FAILURE() << "must be refused";
        } catch (const EWmiError &e) {
            EXPECT_TRUE(e.message().contains(QLatin1StringView(c.refusal))) << e.what();
        }
    }
    // An array of 512 elements is one property, however many elements.
    QByteArray array = "<Items><p:X xmlns:p=\"urn:x\">";
    for (int i = 0; i < 512; ++i)
        array += "<p:VendorSpecific>" + QByteArray::number(i % 256) + "</p:VendorSpecific>";
    array += "</p:X></Items>";
    const auto items = ParseItems(array);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].ReadArrayByte(u"VendorSpecific"_s, 511), 255);
}

TEST(WsManResponses, BrokenAnswersRaise)
{
    const QByteArray cases[] = {
        "",
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body>",
        "<html><body>Bad gateway</body></html>",
        "<s:Envelope xmlns:s=\"urn:not-soap\"/>",
    };
    for (const QByteArray &xml : cases)
        EXPECT_THROW(ParseEnumerationResponse(xml, QString::fromUtf16(action::PullResponse), NewMessageId()),
                     EWmiError)
            << xml.constData();
}

namespace {
valmora::drives::winrm::TEncryptedMessage sealedMessage(const char *protocol, QByteArray header, QByteArray data,
                                                     qsizetype originalLength)
{
    return {protocol, std::move(header), std::move(data), originalLength};
}
} // namespace

TEST(WinRmFraming, BodyIsLaidOutByteForByte)
{
    using namespace valmora::drives::winrm;
    // A signature of 260 bytes shows the byte order of its length: 04 01 00 00.
    const TEncryptedMessage m = sealedMessage(SpnegoProtocol, QByteArray(260, '\x5a'), QByteArray("\x01\x02sealed", 8), 1234);
    const QByteArray expected = QByteArray("--Encrypted Boundary\r\n"
                                           "\tContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n"
                                           "\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=1234\r\n"
                                           "--Encrypted Boundary\r\n"
                                           "\tContent-Type: application/octet-stream\r\n")
                                + QByteArray("\x04\x01\x00\x00", 4) + m.header + m.data
                                + "--Encrypted Boundary--\r\n";
    EXPECT_EQ(BuildEncryptedBody(m), expected);
    EXPECT_EQ(EncryptedContentType(SpnegoProtocol),
              "multipart/encrypted;protocol=\"application/HTTP-SPNEGO-session-encrypted\";"
              "boundary=\"Encrypted Boundary\"");

    // An answer as another client library frames it: a boundary of the
    // header's choosing, a 16-byte signature, data holding boundary-like text.
    const QByteArray answer = QByteArray("--Other Edge\r\n\tContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n"
                                         "\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=21\r\n"
                                         "--Other Edge\r\n\tContent-Type: application/octet-stream\r\n")
                              + QByteArray("\x10\x00\x00\x00", 4) + "0123456789abcdef" + "--Other Edge-- inside"
                              + "--Other Edge--\r\n";
    const TEncryptedMessage back = ParseEncryptedBody(
        "multipart/encrypted;protocol=\"application/HTTP-SPNEGO-session-encrypted\";boundary=\"Other Edge\"", answer,
        {SpnegoProtocol});
    EXPECT_EQ(back.protocol, SpnegoProtocol);
    EXPECT_EQ(back.header, "0123456789abcdef");
    EXPECT_EQ(back.data, "--Other Edge-- inside");
    EXPECT_EQ(back.originalLength, 21);
}

TEST(WinRmFraming, ProtocolFollowsTheAuthenticationScheme)
{
    using namespace valmora::drives::winrm;
    EXPECT_EQ(SchemeName(EAuthScheme::Negotiate), "Negotiate");
    EXPECT_EQ(SealingProtocol(EAuthScheme::Negotiate), "application/HTTP-SPNEGO-session-encrypted");
    EXPECT_EQ(SealingProtocol(EAuthScheme::Kerberos), "application/HTTP-Kerberos-session-encrypted");

    TEncryptedMessage m = sealedMessage(SpnegoProtocol, QByteArray(16, '\x05'), "sealed", 6);
    struct Case
    {
        EAuthScheme scheme;
        bool kerberos;
        const char *answeredWith;
        bool accepted;
    } const cases[] = {
        {EAuthScheme::Negotiate, false, SpnegoProtocol, true},
        {EAuthScheme::Negotiate, false, KerberosProtocol, false}, // NTLM is never the Kerberos label
        {EAuthScheme::Negotiate, true, SpnegoProtocol, true},
        {EAuthScheme::Negotiate, true, KerberosProtocol, true},
        {EAuthScheme::Kerberos, true, KerberosProtocol, true},
        {EAuthScheme::Kerberos, true, SpnegoProtocol, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(SchemeName(c.scheme).constData()) + (c.kerberos ? " Kerberos " : " NTLM ")
                     + c.answeredWith);
        m.protocol = c.answeredWith;
        const QList<QByteArray> accepted = AnswerProtocols(c.scheme, c.kerberos);
        if (c.accepted)
            EXPECT_EQ(ParseEncryptedBody(EncryptedContentType(m.protocol), BuildEncryptedBody(m), accepted).data, "sealed");
        else
            EXPECT_THROW(ParseEncryptedBody(EncryptedContentType(m.protocol), BuildEncryptedBody(m), accepted), EWmiError);
    }
}

TEST(WinRmFraming, BrokenBodiesRaise)
{
    using namespace valmora::drives::winrm;
    const TEncryptedMessage m =
        sealedMessage(SpnegoProtocol, QByteArray(16, '\x05'), QByteArray("sealed\r\n--Encrypted Boundary not really", 40), 40);
    const QByteArray body = BuildEncryptedBody(m);
    const QByteArray type = EncryptedContentType(SpnegoProtocol);
    const TEncryptedMessage back = ParseEncryptedBody(type, body, {SpnegoProtocol});
    EXPECT_EQ(back.header, m.header);
    EXPECT_EQ(back.data, m.data);

    EXPECT_THROW(ParseEncryptedBody("application/soap+xml;charset=UTF-8", body, {SpnegoProtocol}), EWmiError);
    EXPECT_THROW(ParseEncryptedBody(type, body.left(body.size() - 30), {SpnegoProtocol}), EWmiError);
    QByteArray longHeader = body;
    const qsizetype at = longHeader.indexOf("octet-stream\r\n") + 14;
    longHeader[at + 1] = '\x7f'; // a signature length far beyond the message
    EXPECT_THROW(ParseEncryptedBody(type, longHeader, {SpnegoProtocol}), EWmiError);
    QByteArray noLength = body;
    noLength.replace("Length=40", "Length=");
    EXPECT_THROW(ParseEncryptedBody(type, noLength, {SpnegoProtocol}), EWmiError);
}

TEST(WinRmAccounts, UserNamesMapToPrincipals)
{
    using valmora::drives::winrm::TAccountName;
    struct Case
    {
        QString user, kerberos, ntlm;
    };
    const Case cases[] = {
        {u"CORP\\admin"_s, u"admin@CORP"_s, u"CORP\\admin"_s},
        {u"corp.example\\admin"_s, u"admin@CORP.EXAMPLE"_s, u"corp.example\\admin"_s},
        {u"admin@corp.example"_s, u"admin@CORP.EXAMPLE"_s, u"admin@corp.example"_s},
        {u"Administrator"_s, QString(), u"Administrator"_s},
        {u".\\Administrator"_s, QString(), u"Administrator"_s},
        {u" CORP\\admin "_s, u"admin@CORP"_s, u"CORP\\admin"_s},
    };
    for (const Case &c : cases) {
        const TAccountName a = TAccountName::Parse(c.user);
        EXPECT_EQ(a.KerberosPrincipal(), c.kerberos) << c.user.toStdString();
        EXPECT_EQ(a.NtlmName(), c.ntlm) << c.user.toStdString();
    }
    // A NetBIOS domain stands for the default realm whose first label it is.
    const QString realm = u"CORP.EXAMPLE.COM"_s;
    EXPECT_EQ(TAccountName::Parse(u"corp\\admin"_s).KerberosPrincipal(realm), u"admin@CORP.EXAMPLE.COM"_s);
    EXPECT_EQ(TAccountName::Parse(u"OTHER\\admin"_s).KerberosPrincipal(realm), u"admin@OTHER"_s);
    EXPECT_EQ(TAccountName::Parse(u"admin@corp"_s).KerberosPrincipal(realm), u"admin@CORP"_s);
    EXPECT_EQ(TAccountName::Parse(u"admin"_s).KerberosPrincipal(realm), QString());
    EXPECT_TRUE(valmora::drives::winrm::IsAddress(u"192.0.2.7"_s));
    EXPECT_TRUE(valmora::drives::winrm::IsAddress(u"::1"_s));
    EXPECT_FALSE(valmora::drives::winrm::IsAddress(u"fileserver.corp.example"_s));
}
