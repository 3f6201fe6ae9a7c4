// The HTTP endpoint on a loopback port: what it serves, in which format, and
// how it refuses what it does not serve.
#include "MonitorTestSupport.h"

#include "monitor/MetricsServer.h"
#include "monitor/MetricsStore.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace valmora;

TEST(MetricsServer, ServesMetricsInTheFormatAskedForAndHealth)
{
    TMetricsStore store;
    store.ApplyCycle({}, {}, 0.25, 100);
    TMetricsServer server(store);
    QString error;
    ASSERT_TRUE(server.Listen({u"127.0.0.1"_s, 0}, &error)) << error.toStdString();
    ASSERT_NE(server.Port(), 0);
    const QString base = u"http://127.0.0.1:%1"_s.arg(server.Port());

    const test::HttpAnswer text = test::HttpRequest(base + u"/metrics"_s);
    ASSERT_TRUE(text.error.isEmpty()) << text.error.toStdString();
    EXPECT_EQ(text.status, 200);
    EXPECT_EQ(text.contentType, "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(text.body, store.Render(TExposition::Prometheus));

    const test::HttpAnswer om = test::HttpRequest(base + u"/metrics"_s, "application/openmetrics-text; version=1.0.0");
    EXPECT_EQ(om.status, 200);
    EXPECT_EQ(om.contentType, "application/openmetrics-text; version=1.0.0; charset=utf-8");
    EXPECT_EQ(om.body, store.Render(TExposition::OpenMetrics));

    struct Case
    {
        const char *method;
        const char *path;
        long status;
        QByteArray body;
    };
    const Case cases[] = {
        {"GET", "/healthz", 200, "ok\n"},
        {"HEAD", "/metrics", 200, ""},
        {"GET", "/metrics/extra", 404, "not found; the metrics are at /metrics\n"},
        {"GET", "/nothing", 404, "not found; the metrics are at /metrics\n"},
        {"POST", "/metrics", 405, "only GET and HEAD are served\n"},
        {"DELETE", "/healthz", 405, "only GET and HEAD are served\n"},
    };
    for (const Case &c : cases) {
        const test::HttpAnswer a = test::HttpRequest(base + QString::fromLatin1(c.path), {}, c.method);
        EXPECT_TRUE(a.error.isEmpty()) << c.method << ' ' << c.path << ": " << a.error.toStdString();
        EXPECT_EQ(a.status, c.status) << c.method << ' ' << c.path;
        EXPECT_EQ(a.body, c.body) << c.method << ' ' << c.path;
    }

    // A later cycle is in the next answer.
    store.ApplyCycle({}, {}, 0.25, 200);
    EXPECT_TRUE(test::HttpRequest(base + u"/metrics"_s).body.contains("valmora_cycles_total 2\n"));
    server.Close();
    EXPECT_FALSE(test::HttpRequest(base + u"/healthz"_s).error.isEmpty());
}

TEST(MetricsServer, ListenAddressesAndWhyTheyFail)
{
    struct Case
    {
        QString text;
        QString host; // empty: refused
        int port;
    };
    const Case cases[] = {
        {u"127.0.0.1:9748"_s, u"127.0.0.1"_s, 9748},
        {u"0.0.0.0:9100"_s, u"0.0.0.0"_s, 9100},
        {u"[::1]:9100"_s, u"::1"_s, 9100},
        {u" 9101 "_s, u"127.0.0.1"_s, 9101},
        {u"localhost:9100"_s, {}, 0},
        {u"127.0.0.1:70000"_s, {}, 0},
        {u"127.0.0.1:"_s, {}, 0},
        {u"::1:9100"_s, {}, 0},
        {u"[::1]9100"_s, {}, 0},
    };
    for (const Case &c : cases) {
        TListenAddress address;
        const QString problem = TListenAddress::Parse(c.text, address);
        if (c.host.isEmpty()) {
            EXPECT_FALSE(problem.isEmpty()) << c.text.toStdString();
            EXPECT_TRUE(problem.contains(c.text.trimmed())) << problem.toStdString();
        } else {
            EXPECT_TRUE(problem.isEmpty()) << c.text.toStdString() << ": " << problem.toStdString();
            EXPECT_EQ(address.Host, c.host);
            EXPECT_EQ(address.Port, c.port);
        }
    }

    // A port another program holds is refused with the address and the system's reason.
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress(u"127.0.0.1"_s), 0));
    TMetricsStore store;
    TMetricsServer server(store);
    QString error;
    EXPECT_FALSE(server.Listen({u"127.0.0.1"_s, holder.serverPort()}, &error));
    EXPECT_TRUE(error.startsWith(u"cannot listen on 127.0.0.1:%1: "_s.arg(holder.serverPort()))) << error.toStdString();
    EXPECT_TRUE(error.contains(u"in use"_s)) << error.toStdString();
}

TEST(MetricsServer, EveryAnswerIsOneWholeCycleWhileCyclesLand)
{
    TMetricsStore store;
    TMetricsServer server(store);
    QString error;
    ASSERT_TRUE(server.Listen({u"127.0.0.1"_s, 0}, &error)) << error.toStdString();
    const QString url = u"http://127.0.0.1:%1/metrics"_s.arg(server.Port());
    constexpr int kCycles = 200;
    std::thread cycles([&] {
        for (int i = 1; i <= kCycles; ++i) {
            std::vector<TComputerMetrics> computers;
            for (int c = 0; c < 20; ++c)
                computers.push_back(MetricsOfComputer(u"pc%1"_s.arg(c), StateGood, TDriveList(), i, {}));
            store.ApplyCycle(std::move(computers), {}, 0.01, i);
        }
    });
    double lastCycles = 0;
    for (int i = 0; i < 50; ++i) {
        const test::HttpAnswer a = test::HttpRequest(url);
        ASSERT_EQ(a.status, 200) << a.error.toStdString();
        const auto samples = test::Samples(a.body);
        const double cycleCount = samples.count("valmora_cycles_total") ? samples.at("valmora_cycles_total") : -1;
        EXPECT_GE(cycleCount, lastCycles);
        lastCycles = cycleCount;
        // One snapshot: every computer was last checked at the cycle the answer counts.
        for (int c = 0; c < 20 && cycleCount > 0; ++c) {
            const QByteArray series = "valmora_computer_last_check_timestamp_seconds{computer=\"pc" + QByteArray::number(c) + "\"}";
            ASSERT_EQ(samples.count(series), 1U) << series.constData();
            EXPECT_EQ(samples.at(series), cycleCount);
        }
        EXPECT_TRUE(a.body.endsWith("\n")) << "a cut answer";
    }
    cycles.join();
    EXPECT_TRUE(test::HttpRequest(url).body.contains("valmora_cycles_total 200\n"));
}
