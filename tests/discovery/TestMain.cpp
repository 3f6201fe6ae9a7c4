// Every discovery test writes its log into a sandbox, with trace entries on.
#include "DiscoveryTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class LogEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_sandbox = std::make_unique<valmora::test::ScopedSandbox>();
        QDir().mkpath(m_sandbox->path(QStringLiteral("log")));
        valmora::XLogSystem().SetLogFolder(m_sandbox->path(QStringLiteral("log")));
        valmora::XLogSystem().SetEnabled(true);
    }
    void TearDown() override
    {
        valmora::XLogSystem().SetEnabled(false);
        m_sandbox.reset();
    }

private:
    std::unique_ptr<valmora::test::ScopedSandbox> m_sandbox;
};

[[maybe_unused]] ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new LogEnvironment);

} // namespace
