#pragma once

// The WS-Management messages the remote provider exchanges with a Windows
// computer: Enumerate with a WQL filter, Pull, Release, and the parsing of
// their answers (instances and SOAP faults). Elements are matched by local
// name and namespace URI, never by prefix.

#include "drives/Wmi.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <memory>
#include <vector>

namespace valmora::drives::winrm {

namespace ns {
inline constexpr char16_t Soap[] = u"http://www.w3.org/2003/05/soap-envelope";
inline constexpr char16_t Addressing[] = u"http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr char16_t Enumeration[] = u"http://schemas.xmlsoap.org/ws/2004/09/enumeration";
inline constexpr char16_t WsMan[] = u"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd";
inline constexpr char16_t MsWsMan[] = u"http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd";
inline constexpr char16_t WsManFault[] = u"http://schemas.microsoft.com/wbem/wsman/1/wsmanfault";
inline constexpr char16_t Xsi[] = u"http://www.w3.org/2001/XMLSchema-instance";
} // namespace ns

namespace action {
inline constexpr char16_t Enumerate[] = u"http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate";
inline constexpr char16_t EnumerateResponse[] = u"http://schemas.xmlsoap.org/ws/2004/09/enumeration/EnumerateResponse";
inline constexpr char16_t Pull[] = u"http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull";
inline constexpr char16_t PullResponse[] = u"http://schemas.xmlsoap.org/ws/2004/09/enumeration/PullResponse";
inline constexpr char16_t Release[] = u"http://schemas.xmlsoap.org/ws/2004/09/enumeration/Release";
inline constexpr char16_t ReleaseResponse[] = u"http://schemas.xmlsoap.org/ws/2004/09/enumeration/ReleaseResponse";
} // namespace action

inline constexpr char16_t WqlDialect[] = u"http://schemas.microsoft.com/wbem/wsman/1/WQL";
// The objects associated with one object (DSP0227): what WQL's ASSOCIATORS OF
// asks, in the form the service takes.
inline constexpr char16_t AssociationDialect[] = u"http://schemas.dmtf.org/wbem/wsman/1/cimbinding/associationFilter";
inline constexpr char16_t CimBindingNs[] = u"http://schemas.dmtf.org/wbem/wsman/1/cimbinding.xsd";

// The deepest an instance may nest, counting the instance element as 1 and its
// properties as 2: embedded objects and date-time values need a few levels; an
// answer nested deeper is refused.
inline constexpr int MaxInstanceDepth = 16;
// The most distinct properties one instance may have (Win32_DiskDrive has 50).
inline constexpr int MaxInstanceProperties = 256;

// The figures every request carries.
struct TRequestLimits
{
    int maxEnvelopeSize = 512000;    // bytes, the Windows default of 500 KB
    int operationTimeoutMs = 20000;  // how long the service may work on one request
    int maxElements = 32;            // instances asked for per Enumerate or Pull
};

// "root\CIMV2" → http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*
QString ResourceUri(const QString &nameSpace);

// A fresh "uuid:…" message identifier.
QString NewMessageId();

QByteArray BuildEnumerate(const QString &to, const QString &resourceUri, const QString &wql,
                          const QString &messageId, const TRequestLimits &limits);
// An Enumerate of the objects associated with the object of className whose
// keyProperty is keyValue, through assocClass, in the namespace of resourceUri
// (which ends in "/*").
QByteArray BuildAssociatorsEnumerate(const QString &to, const QString &resourceUri, const QString &className,
                                     const QString &keyProperty, const QString &keyValue, const QString &assocClass,
                                     const QString &messageId, const TRequestLimits &limits);
QByteArray BuildPull(const QString &to, const QString &resourceUri, const QString &context,
                     const QString &messageId, const TRequestLimits &limits);
QByteArray BuildRelease(const QString &to, const QString &resourceUri, const QString &context,
                        const QString &messageId, const TRequestLimits &limits);

// One object as WS-Management renders it. Besides the conversions of
// TWmiInstance it reads an array sent as one base64 text, and refuses to read
// a text array as text.
class TWsManObject final : public TWmiObject
{
public:
    TWsManObject() = default;
    explicit TWsManObject(QString className)
        : m_className(std::move(className))
    {
    }
    TWmiInstance &Instance() { return m_instance; }
    const TWmiInstance &Instance() const { return m_instance; }
    const QString &ClassName() const { return m_className; }
    void MarkTextArray(const QString &property, QStringList values);

    QString ReadText(const QString &property) const override;
    std::int64_t ReadInt64(const QString &property) const override { return m_instance.ReadInt64(property); }
    std::int32_t ReadInt32(const QString &property) const override { return m_instance.ReadInt32(property); }
    std::uint8_t ReadArrayByte(const QString &property, int index) const override;
    // Elements of a repeated property whose values are not all numbers.
    QStringList TextArray(const QString &property) const;

private:
    QString m_className;
    TWmiInstance m_instance;
    std::vector<std::pair<QString, QStringList>> m_textArrays;
};

// What an EnumerateResponse or PullResponse carried.
struct TEnumerationPage
{
    QString context;      // empty when the service sent none
    bool endOfSequence = false;
    std::vector<TWsManObject> items;
};

struct TFault
{
    QString code;          // e.g. "s:Sender"
    QString subcode;       // e.g. "n:CannotProcessFilter"
    QString reason;
    QString wsmanCode;     // WSManFault Code attribute or MSFT_WmiError error_Code
    QString detail;        // innermost provider or WMI error message
    QString Message() const;
};

// The header fields every answer is checked against.
struct TEnvelopeHeader
{
    QString action;
    QString messageId;
    QString relatesTo;
};

// Parses one answer envelope. A SOAP fault raises EWmiError with the fault's
// text; so do malformed XML, an unexpected action and a RelatesTo that does not
// name the request.
TEnumerationPage ParseEnumerationResponse(const QByteArray &xml, const QString &expectedAction,
                                          const QString &requestMessageId);
void ParseReleaseResponse(const QByteArray &xml, const QString &requestMessageId);

// Whether an envelope holds a fault, and its parts.
bool FindFault(const QByteArray &xml, TFault &fault);
TEnvelopeHeader ParseHeader(const QByteArray &xml);

// Instances found anywhere below the current element of a document that is
// an Items element (or a Body) — used for fragments and by the parser itself.
std::vector<TWsManObject> ParseItems(const QByteArray &xml);

} // namespace valmora::drives::winrm
