#pragma once

// A WinRM endpoint of our own on 127.0.0.1 for the tests: HTTP/1.1 with
// keep-alive, GSS-API authentication as the acceptor (Kerberos from a keytab,
// NTLM from gss-ntlmssp's user file) and WinRM's message encryption, or plain
// HTTP for the transport tests. The SOAP answers come from a responder, by
// default TRecordedWinRm which answers Enumerate, Pull and Release from
// recorded instances. Connections are served one after the other, as the
// client keeps one per computer.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace valmora::test {

struct TEndpointReply
{
    int status = 200;
    QByteArray body;
};

class TWinRmTestEndpoint
{
public:
    enum class ESecurity { Plain, Gss };
    using TResponder = std::function<TEndpointReply(const QByteArray &soap)>;

    // With a certificate and key (PEM files) the endpoint speaks HTTPS.
    TWinRmTestEndpoint(ESecurity security, TResponder responder, const QString &certFile = {},
                       const QString &keyFile = {});
    ~TWinRmTestEndpoint();
    TWinRmTestEndpoint(const TWinRmTestEndpoint &) = delete;
    TWinRmTestEndpoint &operator=(const TWinRmTestEndpoint &) = delete;

    int Port() const { return m_port; }
    void SetDelayMs(int ms) { m_delayMs = ms; }
    // Close the connection after every answer to a sealed request, as a server
    // whose kept-alive connections expire between requests.
    void SetCloseAfterAnswer(bool close) { m_closeAfterAnswer = close; }
    // Plain security only: demand HTTP Basic with this account.
    void SetBasicAccount(const QByteArray &user, const QByteArray &password);
    // Label sealed answers with this protocol instead of the scheme's own.
    void SetAnswerProtocol(const QByteArray &protocol) { m_answerProtocol = protocol; }
    // Answer every request with this status and no body (0: normal service).
    void SetFixedStatus(int status) { m_fixedStatus = status; }

    int Connections() const;
    int Requests() const;          // every HTTP request, handshake legs included
    int SealedRequests() const;    // requests whose body decrypted correctly (over TLS: authenticated ones)
    int AuthFailures() const;
    int TlsFailures() const;
    QStringList Violations() const; // bodies that were not (correctly) encrypted
    QStringList Mechanisms() const; // "Kerberos" or "NTLM", per completed handshake
    QByteArray Wire() const;        // every byte received

private:
    void run();
    void serve(int fd);

    ESecurity m_security;
    TResponder m_responder;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_delayMs{0};
    std::atomic<bool> m_closeAfterAnswer{false};
    std::atomic<int> m_fixedStatus{0};
    std::thread m_thread;
    void *m_tls = nullptr; // SSL_CTX
    QByteArray m_basic;    // expected "Basic …" value
    QByteArray m_answerProtocol;

    mutable std::mutex m_lock;
    int m_connections = 0, m_requests = 0, m_sealed = 0, m_authFailures = 0, m_tlsFailures = 0;
    QStringList m_violations, m_mechanisms;
    QByteArray m_wire;
};

// Answers from recordings: the instances of each class, split into pages.
class TRecordedWinRm
{
public:
    // itemsXml: the instance elements of a class as the service renders them.
    void Add(const QString &className, const QString &nameSpace, const QByteArray &itemsXml, int perPage);
    // The tests' two recorded drives in the four classes of the reader, from
    // the fixtures under tests/fixtures/winrm.
    void AddRecordedDrives(int perPage);
    // A fault envelope (with @RELATES_TO@ where the request's id goes) for a class.
    void AddFault(const QString &className, const QByteArray &faultEnvelope);
    // The instances of className associated with the object whose key is
    // keyValue through assocClass, answered to the association filter.
    void AddAssociated(const QString &assocClass, const QString &keyValue, const QString &className,
                       const QString &nameSpace, const QByteArray &itemsXml);
    // The same association answered with a fault.
    void AddAssociatedFault(const QString &assocClass, const QString &keyValue, const QByteArray &faultEnvelope);

    TEndpointReply Answer(const QByteArray &soap);

    int Enumerates() const;
    int Pulls() const;
    int Releases() const;
    QStringList Problems() const; // requests that lacked what a real service demands

private:
    struct Recording
    {
        QString resourceUri;
        QList<QByteArray> pages;
        QByteArray fault;
    };
    struct Open
    {
        QString className;
        int next = 0;
    };
    mutable std::mutex m_lock;
    QMap<QString, Recording> m_classes; // by lower-case class name
    QMap<QString, Open> m_contexts;
    int m_enumerates = 0, m_pulls = 0, m_releases = 0, m_nextContext = 1;
    QStringList m_problems;
};

// A service that authenticates and seals properly and then misbehaves in one
// way; the classes it does not abuse are answered from the recordings.
class THostileWinRm
{
public:
    enum class EMode {
        DeepNesting,  // a Win32_DiskDrive property nested `size` elements deep
        Endless,      // every Pull of Win32_DiskDrive brings one more drive, never the end
        ManyDrives,   // `size` media and drives, paged as the client asks
    };
    THostileWinRm(EMode mode, int size, TRecordedWinRm &normal);

    TEndpointReply Answer(const QByteArray &soap);

    int Pulls() const;
    int Releases() const;

private:
    QByteArray items(const QString &className, int from, int count) const;

    EMode m_mode;
    int m_size;
    TRecordedWinRm &m_normal;
    mutable std::mutex m_lock;
    int m_pulls = 0, m_releases = 0;
};

} // namespace valmora::test
