#include "platform/SessionKeyring.h"

#include "foundation/LogSystem.h"

// GLib names a struct member "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

using namespace Qt::Literals::StringLiterals;

namespace valmora::platform {

namespace {

// One item per setting name, told apart by the "setting" attribute.
const SecretSchema *schema()
{
    static const SecretSchema s = {"org.quillmoor.Valmora.Password",
                                   SECRET_SCHEMA_NONE,
                                   {{"setting", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &s;
}

struct ErrorPtr
{
    GError *error = nullptr;
    ~ErrorPtr()
    {
        if (error)
            g_error_free(error);
    }
    QString text() const { return error ? QString::fromUtf8(error->message) : QString(); }
};

class TSecretServiceVault final : public TPasswordVault
{
public:
    std::optional<QString> Read(const QString &name) override
    {
        ErrorPtr e;
        const QByteArray setting = name.toUtf8();
        gchar *password = secret_password_lookup_sync(schema(), nullptr, &e.error, "setting", setting.constData(),
                                                      nullptr);
        if (!password) {
            if (e.error)
                trace(u"read"_s, name, e.text());
            return std::nullopt;
        }
        const QString result = QString::fromUtf8(password);
        secret_password_free(password);
        return result;
    }

    bool Write(const QString &name, const QString &password) override
    {
        ErrorPtr e;
        const QByteArray setting = name.toUtf8();
        const QByteArray label = u"Valmora: %1"_s.arg(name).toUtf8();
        const QByteArray secret = password.toUtf8();
        if (secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret.constData(),
                                       nullptr, &e.error, "setting", setting.constData(), nullptr))
            return true;
        trace(u"write"_s, name, e.text());
        return false;
    }

private:
    // Not an error: without a keyring the settings file serves, as designed.
    static void trace(const QString &what, const QString &name, const QString &why)
    {
        XLogSystem().LogFormat(u"Session keyring: cannot %s \"%s\": %s"_s, {what, name, why}, 0);
    }
};

} // namespace

std::shared_ptr<TPasswordVault> CreateSessionKeyring()
{
    // Without a session bus libsecret would try to start one (X11 autolaunch).
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return nullptr;
    return std::make_shared<TSecretServiceVault>();
}

} // namespace valmora::platform
