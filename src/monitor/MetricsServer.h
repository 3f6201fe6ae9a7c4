#pragma once

// The monitor's HTTP endpoint, served by libmicrohttpd on a thread of its own:
// GET /metrics renders the store (OpenMetrics when the Accept header asks for
// it), GET /healthz answers "ok" while the monitor runs. Anything else is 404,
// any method but GET and HEAD 405.

#include <QString>

#include <cstdint>

struct MHD_Daemon;

namespace valmora {

class TMetricsStore;

// "127.0.0.1:9748", "[::1]:9748", "0.0.0.0:9748", or a port alone (loopback).
struct TListenAddress
{
    QString Host = QStringLiteral("127.0.0.1");
    std::uint16_t Port = 9748;

    // Empty when text is a listen address; else what is wrong with it.
    static QString Parse(const QString &text, TListenAddress &into);
    QString ToString() const;
};

class TMetricsServer
{
public:
    explicit TMetricsServer(const TMetricsStore &store);
    ~TMetricsServer();
    TMetricsServer(const TMetricsServer &) = delete;
    TMetricsServer &operator=(const TMetricsServer &) = delete;

    // Starts serving; false with the reason in error (the address is taken,
    // no permission, not an address of this computer).
    bool Listen(const TListenAddress &address, QString *error);
    // Ends serving; the answers in progress finish first.
    void Close();
    bool IsListening() const { return m_daemon != nullptr; }
    // The port bound (the one asked for, or the one the system chose for 0).
    std::uint16_t Port() const { return m_port; }

private:
    const TMetricsStore &m_store;
    MHD_Daemon *m_daemon = nullptr;
    std::uint16_t m_port = 0;
};

} // namespace valmora
