#include "WinRmGss.h"

#include "drives/Wmi.h"

#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5/krb5.h>

#include <QStringList>

#include <array>

using namespace Qt::Literals::StringLiterals;

namespace valmora::drives::winrm {

namespace {

gss_OID_desc ntlmOid = {10, const_cast<char *>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

struct Buffer
{
    gss_buffer_desc b{0, nullptr};
    ~Buffer()
    {
        OM_uint32 minor = 0;
        gss_release_buffer(&minor, &b);
    }
    QByteArray bytes() const { return QByteArray(static_cast<const char *>(b.value), static_cast<qsizetype>(b.length)); }
};

gss_buffer_desc view(const QByteArray &bytes)
{
    return {static_cast<size_t>(bytes.size()), const_cast<char *>(bytes.constData())};
}

bool isFailure(OM_uint32 major)
{
    return GSS_ERROR(major) != 0;
}

// Minor codes of Kerberos that say it cannot be used here at all, as opposed
// to a refusal of the user's credentials.
bool kerberosUnavailable(OM_uint32 minor)
{
    const auto code = static_cast<krb5_error_code>(minor);
    return code == KRB5_KDC_UNREACH || code == KRB5_REALM_UNKNOWN || code == KRB5_REALM_CANT_RESOLVE
           || code == KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN || code == KRB5_CONFIG_NODEFREALM
           || code == KRB5_CONFIG_CANTOPEN;
}

} // namespace

gss_OID GssMechOid(EGssMech mech)
{
    return mech == EGssMech::Kerberos ? const_cast<gss_OID>(gss_mech_krb5) : &ntlmOid;
}

QString KerberosDefaultRealm()
{
    // A user name without a realm is completed with the default one.
    OM_uint32 minor = 0;
    QByteArray probe("valmora");
    gss_buffer_desc in = view(probe);
    gss_name_t name = GSS_C_NO_NAME;
    if (isFailure(gss_import_name(&minor, &in, GSS_C_NT_USER_NAME, &name)))
        return QString();
    gss_name_t canonical = GSS_C_NO_NAME;
    QString realm;
    if (!isFailure(gss_canonicalize_name(&minor, name, const_cast<gss_OID>(gss_mech_krb5), &canonical))) {
        Buffer text;
        if (!isFailure(gss_display_name(&minor, canonical, &text.b, nullptr))) {
            const QString full = QString::fromUtf8(text.bytes());
            const qsizetype at = full.lastIndexOf(u'@');
            if (at >= 0)
                realm = full.mid(at + 1);
        }
        gss_release_name(&minor, &canonical);
    }
    gss_release_name(&minor, &name);
    return realm;
}

QString GssStatusText(OM_uint32 major, OM_uint32 minor, gss_OID mech)
{
    QStringList parts;
    for (int type : {GSS_C_GSS_CODE, GSS_C_MECH_CODE}) {
        const OM_uint32 code = type == GSS_C_GSS_CODE ? major : minor;
        if (code == 0)
            continue;
        OM_uint32 context = 0;
        int rounds = 0;
        do {
            OM_uint32 m = 0;
            Buffer text;
            if (isFailure(gss_display_status(&m, code, type, mech, &context, &text.b)))
                break;
            const QString s = QString::fromUtf8(text.bytes()).trimmed();
            if (!s.isEmpty() && !parts.contains(s))
                parts << s;
        } while (context != 0 && ++rounds < 8);
    }
    return parts.join(u": "_s);
}

TEncryptedMessage WrapWinRm(gss_ctx_id_t context, EGssMech mech, const QByteArray &plain, const QByteArray &protocol)
{
    TEncryptedMessage m;
    m.protocol = protocol;
    m.originalLength = plain.size();
    OM_uint32 minor = 0;
    int confState = 0;
    if (mech == EGssMech::Ntlm) {
        gss_buffer_desc in = view(plain);
        Buffer out;
        const OM_uint32 major = gss_wrap(&minor, context, 1, GSS_C_QOP_DEFAULT, &in, &confState, &out.b);
        if (isFailure(major) || !confState || out.b.length < 16)
            throw EWmiError(u"Cannot encrypt the WinRM message: %1"_s.arg(GssStatusText(major, minor, GssMechOid(mech))));
        const QByteArray token = out.bytes();
        m.header = token.left(16);
        m.data = token.mid(16);
        return m;
    }
    QByteArray data = plain; // sealed in place
    std::array<gss_iov_buffer_desc, 3> iov{};
    iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER | GSS_IOV_BUFFER_FLAG_ALLOCATE;
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    iov[1].buffer = {static_cast<size_t>(data.size()), data.data()};
    iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING | GSS_IOV_BUFFER_FLAG_ALLOCATE;
    const OM_uint32 major = gss_wrap_iov(&minor, context, 1, GSS_C_QOP_DEFAULT, &confState, iov.data(), 3);
    if (!isFailure(major) && confState) {
        m.header = QByteArray(static_cast<const char *>(iov[0].buffer.value), static_cast<qsizetype>(iov[0].buffer.length));
        m.data = data;
        m.data.append(static_cast<const char *>(iov[2].buffer.value), static_cast<qsizetype>(iov[2].buffer.length));
    }
    OM_uint32 ignored = 0;
    gss_release_iov_buffer(&ignored, iov.data(), 3);
    if (isFailure(major) || !confState)
        throw EWmiError(u"Cannot encrypt the WinRM message: %1"_s.arg(GssStatusText(major, minor, GssMechOid(mech))));
    return m;
}

QByteArray UnwrapWinRm(gss_ctx_id_t context, EGssMech mech, const TEncryptedMessage &message)
{
    OM_uint32 minor = 0;
    int confState = 0;
    QByteArray plain;
    OM_uint32 major = 0;
    if (mech == EGssMech::Ntlm) {
        const QByteArray token = message.header + message.data;
        gss_buffer_desc in = view(token);
        Buffer out;
        major = gss_unwrap(&minor, context, &in, &out.b, &confState, nullptr);
        if (!isFailure(major))
            plain = out.bytes();
    } else {
        QByteArray header = message.header;
        QByteArray data = message.data;
        std::array<gss_iov_buffer_desc, 2> iov{};
        iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
        iov[0].buffer = {static_cast<size_t>(header.size()), header.data()};
        iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
        iov[1].buffer = {static_cast<size_t>(data.size()), data.data()};
        major = gss_unwrap_iov(&minor, context, &confState, nullptr, iov.data(), 2);
        if (!isFailure(major))
            plain = QByteArray(static_cast<const char *>(iov[1].buffer.value), static_cast<qsizetype>(iov[1].buffer.length));
    }
    if (isFailure(major))
        throw EWmiError(u"Cannot decrypt the WinRM message: %1"_s.arg(GssStatusText(major, minor, GssMechOid(mech))));
    if (!confState)
        throw EWmiError(u"The WinRM message was signed but not encrypted"_s);
    // Padding (RC4 Kerberos) follows the message; anything else is an error.
    if (plain.size() < message.originalLength || (mech == EGssMech::Ntlm && plain.size() != message.originalLength))
        throw EWmiError(u"The decrypted WinRM message has %1 bytes, %2 were announced"_s.arg(plain.size())
                            .arg(message.originalLength));
    plain.truncate(message.originalLength);
    return plain;
}

TGssClient::TGssClient(EGssMech mech, const QString &principal, const QString &password, const QString &host)
    : m_mech(mech)
{
    const gss_OID oid = GssMechOid(mech);
    const char *what = mech == EGssMech::Kerberos ? "Kerberos" : "NTLM";
    OM_uint32 minor = 0;

    const QByteArray user = principal.toUtf8();
    gss_buffer_desc userBuf = view(user);
    gss_name_t userName = GSS_C_NO_NAME;
    OM_uint32 major = gss_import_name(&minor, &userBuf, GSS_C_NT_USER_NAME, &userName);
    if (isFailure(major))
        throw EGssLocalError(u"%1: the user name \"%2\" is not usable: %3"_s.arg(QString::fromLatin1(what), principal,
                                                                               GssStatusText(major, minor, oid)),
                             false);

    gss_OID_set_desc mechs{1, oid};
    const QByteArray pass = password.toUtf8();
    gss_buffer_desc passBuf = view(pass);
    major = gss_acquire_cred_with_password(&minor, userName, &passBuf, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE,
                                           &m_cred, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &userName);
    if (isFailure(major)) {
        // Only a Kerberos that cannot be used here at all lets another mechanism try.
        const bool unavailable = mech == EGssMech::Kerberos && kerberosUnavailable(minor);
        throw EGssLocalError(u"%1 cannot log on as \"%2\": %3"_s.arg(QString::fromLatin1(what), principal,
                                                                    GssStatusText(major, minor, oid)),
                             !unavailable);
    }

    const QByteArray service = "HTTP@" + host.toUtf8();
    gss_buffer_desc serviceBuf = view(service);
    major = gss_import_name(&minor, &serviceBuf, GSS_C_NT_HOSTBASED_SERVICE, &m_target);
    if (isFailure(major))
        throw EGssLocalError(u"%1: the service name \"%2\" is not usable: %3"_s.arg(
                                 QString::fromLatin1(what), QString::fromUtf8(service), GssStatusText(major, minor, oid)),
                             false);
}

TGssClient::~TGssClient()
{
    OM_uint32 minor = 0;
    if (m_context != GSS_C_NO_CONTEXT)
        gss_delete_sec_context(&minor, &m_context, GSS_C_NO_BUFFER);
    if (m_target != GSS_C_NO_NAME)
        gss_release_name(&minor, &m_target);
    if (m_cred != GSS_C_NO_CREDENTIAL)
        gss_release_cred(&minor, &m_cred);
}

QByteArray TGssClient::Step(const QByteArray &input)
{
    if (++m_steps > 8)
        throw EWmiError(u"The authentication does not come to an end"_s);
    const gss_OID oid = GssMechOid(m_mech);
    gss_buffer_desc in = view(input);
    Buffer out;
    OM_uint32 minor = 0;
    OM_uint32 flags = 0;
    const OM_uint32 wanted = GSS_C_MUTUAL_FLAG | GSS_C_CONF_FLAG | GSS_C_INTEG_FLAG | GSS_C_REPLAY_FLAG
                             | GSS_C_SEQUENCE_FLAG;
    const OM_uint32 major = gss_init_sec_context(&minor, m_cred, &m_context, m_target, oid, wanted, GSS_C_INDEFINITE,
                                                 GSS_C_NO_CHANNEL_BINDINGS, input.isEmpty() ? GSS_C_NO_BUFFER : &in,
                                                 nullptr, &out.b, &flags, nullptr);
    if (isFailure(major)) {
        const QString text = GssStatusText(major, minor, oid);
        if (m_steps == 1 && input.isEmpty())
            throw EGssLocalError(u"%1 cannot start: %2"_s.arg(m_mech == EGssMech::Kerberos ? u"Kerberos"_s : u"NTLM"_s,
                                                                 text),
                                 !(m_mech == EGssMech::Kerberos && kerberosUnavailable(minor)));
        throw EWmiError(u"Authentication failed: %1"_s.arg(text));
    }
    m_complete = major == GSS_S_COMPLETE;
    if (m_complete && !(flags & GSS_C_CONF_FLAG))
        throw EWmiError(u"The security context offers no encryption"_s);
    return out.bytes();
}

} // namespace valmora::drives::winrm
