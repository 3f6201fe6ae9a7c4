// libFuzzer target: a WS-Management answer as a computer of the network may
// send it (after decryption). Every reader gives its result or raises
// EWmiError, and what was read can be asked for any property without harm.
#include "drives/Wmi.h"
#include "drives/winrm/WsManMessages.h"

#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

namespace {

void readAll(const std::vector<valmora::drives::winrm::TWsManObject> &items)
{
    for (const auto &item : items) {
        for (const QString &property : {u"DeviceID"_s, u"Size"_s, u"VendorSpecific"_s, u"InstanceName"_s}) {
            try {
                (void)item.ReadText(property);
            } catch (const valmora::drives::EWmiError &) {
            }
            try {
                (void)item.ReadInt64(property);
            } catch (const valmora::drives::EWmiError &) {
            }
            try {
                (void)item.ReadArrayByte(property, 0);
            } catch (const valmora::drives::EWmiError &) {
            }
            (void)item.TextArray(property);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora::drives::winrm;
    const QByteArray xml = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    TFault fault;
    try {
        if (FindFault(xml, fault))
            (void)fault.Message();
    } catch (const valmora::drives::EWmiError &) {
    }
    try {
        readAll(ParseItems(xml));
    } catch (const valmora::drives::EWmiError &) {
    }
    // The answer's own header names the request, so the parser gets past the
    // checks of action and RelatesTo and reads the body.
    TEnvelopeHeader header;
    try {
        header = ParseHeader(xml);
    } catch (const valmora::drives::EWmiError &) {
    }
    for (const QString &expected : {QString::fromUtf16(action::PullResponse), header.action}) {
        try {
            const TEnumerationPage page = ParseEnumerationResponse(xml, expected, header.relatesTo);
            if (page.items.size() > size)
                __builtin_trap(); // every instance takes bytes of the answer
            readAll(page.items);
        } catch (const valmora::drives::EWmiError &) {
        }
    }
    try {
        ParseReleaseResponse(xml, header.relatesTo);
    } catch (const valmora::drives::EWmiError &) {
    }
    return 0;
}
