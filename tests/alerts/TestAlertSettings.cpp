// The settings of alerts: what is wrong with them in words, and the SMTP
// password kept like the domain password.
#include "alerts/AlertSettings.h"
#include "foundation/PasswordVault.h"
#include "foundation/RegistryHelper.h"

#include "AlertPeers.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;
using namespace valmora::alerts;

namespace {

TAlertSettings Good()
{
    TAlertSettings s;
    s.Smtp.Url = u"smtp://mail.example.test:587"_s;
    s.Smtp.From = u"valmora@example.test"_s;
    s.Smtp.To = {u"admin@example.test"_s};
    s.Webhook.Url = u"https://chat.example.test/hooks/abc"_s;
    s.Command.Command = u"/bin/true --quiet"_s;
    return s;
}

class MemoryVault final : public TPasswordVault
{
public:
    std::optional<QString> Read(const QString &name) override
    {
        const auto it = items.find(name);
        return it == items.end() ? std::nullopt : std::optional(it->second);
    }
    bool Write(const QString &name, const QString &password) override
    {
        items[name] = password;
        return true;
    }
    std::map<QString, QString> items;
};

} // namespace

TEST(AlertSettings, ProblemsNameTheBadValue)
{
    EXPECT_EQ(Good().Problems(), QStringList());
    EXPECT_EQ(TAlertSettings().Problems(), QStringList()) << "no channel set is no problem";
    struct Case
    {
        const char *what;
        std::function<void(TAlertSettings &)> change;
        QString problem;
    };
    const std::vector<Case> cases = {
        {"http as SMTP", [](TAlertSettings &s) { s.Smtp.Url = u"http://mail.example.test"_s; },
         u"The SMTP server URL \"http://mail.example.test\" is not of the form smtp://HOST[:PORT] or smtps://HOST[:PORT]"_s},
        {"no host", [](TAlertSettings &s) { s.Smtp.Url = u"smtp://"_s; },
         u"The SMTP server URL \"smtp://\" is not of the form smtp://HOST[:PORT] or smtps://HOST[:PORT]"_s},
        {"sender", [](TAlertSettings &s) { s.Smtp.From = u"Valmora Monitor"_s; },
         u"The sender \"Valmora Monitor\" is no mail address (name@domain)"_s},
        {"recipient", [](TAlertSettings &s) { s.Smtp.To = SplitAddresses(u"admin@example.test; ops(at)example"_s); },
         u"The recipient \"ops(at)example\" is no mail address (name@domain)"_s},
        {"no recipient", [](TAlertSettings &s) { s.Smtp.To.clear(); }, u"No recipient is set for the e-mail alerts"_s},
        {"user without password", [](TAlertSettings &s) { s.Smtp.User = u"me"_s; },
         u"The SMTP user and password must be given both or neither"_s},
        {"ftp webhook", [](TAlertSettings &s) { s.Webhook.Url = u"ftp://files.example.test/x"_s; },
         u"The webhook URL \"ftp://files.example.test\" is not of the form http://HOST[:PORT] or https://HOST[:PORT]"_s},
        {"command", [](TAlertSettings &s) { s.Command.Command = u"/no/such/notify --now"_s; },
         u"The alert command \"/no/such/notify\" is no program that can be run"_s},
    };
    for (const Case &c : cases) {
        TAlertSettings s = Good();
        c.change(s);
        EXPECT_EQ(s.Problems(), QStringList{c.problem}) << c.what;
    }
}

TEST(AlertSettings, ComeBackAsWrittenAndThePasswordStaysWithItsOwner)
{
    test::ScopedSandbox box;
    TAlertSettings s = Good();
    s.Smtp.User = u"alerts"_s;
    s.Smtp.Password = u"s3cret"_s;
    s.Smtp.To << u"ops@example.test"_s;
    s.NotReadHours = 12;
    s.Desktop = false;
    s.Write();
    const TAlertSettings back = TAlertSettings::Read();
    EXPECT_EQ(back.Smtp.Url, s.Smtp.Url);
    EXPECT_EQ(back.Smtp.To, s.Smtp.To);
    EXPECT_EQ(back.Smtp.Password, u"s3cret"_s);
    EXPECT_EQ(back.NotReadHours, 12);
    EXPECT_FALSE(back.Desktop);
    EXPECT_EQ(back.Command.Command, s.Command.Command);
    const QString file = TRegistryStore::FileName(TRootKey::CurrentUser);
    EXPECT_EQ(test::PosixMode(file), 0600);
    EXPECT_TRUE(TRegistryStore::IsSecretValue(u"SmtpP"_s));

    // With a vault the password goes there and leaves the file.
    auto vault = std::make_shared<MemoryVault>();
    InstallPasswordVault(vault);
    s.Write();
    InstallPasswordVault(nullptr);
    EXPECT_EQ(vault->items[u"SmtpP"_s], u"s3cret"_s);
    EXPECT_FALSE(test::FileText(file).contains(u"s3cret"_s));
}
