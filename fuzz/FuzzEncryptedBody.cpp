// libFuzzer target: the multipart/encrypted framing of a WinRM answer, read
// before anything is decrypted. The first line of the input is the
// Content-Type header, the rest the body. The parts come out inside the body,
// or EWmiError is raised.
#include "drives/Wmi.h"
#include "drives/winrm/WinRmEncryption.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace valmora::drives::winrm;
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype split = input.indexOf('\n');
    const QByteArray contentType = split < 0 ? input : input.left(split);
    const QByteArray body = split < 0 ? QByteArray() : input.mid(split + 1);
    for (const bool kerberos : {false, true}) {
        try {
            const TEncryptedMessage m = ParseEncryptedBody(contentType, body, AnswerProtocols(EAuthScheme::Negotiate, kerberos));
            if (m.header.size() + m.data.size() > body.size() || m.originalLength < 0)
                __builtin_trap();
            // What was read is framed again the same way.
            const TEncryptedMessage again = ParseEncryptedBody(EncryptedContentType(m.protocol), BuildEncryptedBody(m),
                                                               AnswerProtocols(EAuthScheme::Negotiate, kerberos));
            if (again.header != m.header || again.data != m.data || again.originalLength != m.originalLength)
                __builtin_trap();
        } catch (const valmora::drives::EWmiError &) {
        }
    }
    return 0;
}
