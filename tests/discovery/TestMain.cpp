// Every discovery test writes its log into a sandbox, with trace entries on.
#include "DiscoveryTestSupport.h"

#include <gtest/gtest.h>


namespace {

class LogEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // Made before the log, so it is removed after the log's last write at exit.
        static valmora::test::ScopedSandbox sandbox;
        QDir().mkpath(sandbox.path(QStringLiteral("log")));
        valmora::XLogSystem().SetLogFolder(sandbox.path(QStringLiteral("log")));
        valmora::XLogSystem().SetEnabled(true);
    }
    void TearDown() override { valmora::XLogSystem().SetEnabled(false); }
};

[[maybe_unused]] ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new LogEnvironment);

} // namespace
