#include "CheckPrevious.h"

#include "foundation/Environment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

const QByteArray kActivate = "activate\n";
// A starting first instance may hold the lock a moment before it listens.
constexpr int kConnectPatienceMs = 3000;

} // namespace

TCheckPrevious::TCheckPrevious(QString name)
    : m_name(std::move(name))
{
}

TCheckPrevious::~TCheckPrevious()
{
    if (m_server)
        m_server->close();
    if (m_lock)
        m_lock->unlock();
}

QString TCheckPrevious::DefaultName()
{
    const QByteArray key = TWindowsFolders::ProgramFile().toUtf8() + '\0' + QByteArray::number(::getuid());
    return u"valmora-"_s + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

bool TCheckPrevious::askRunningInstance() const
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kConnectPatienceMs) {
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(500)) {
            socket.write(kActivate);
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

bool TCheckPrevious::CheckPrevious()
{
    // The lock decides who runs: a lock left by a process that died is taken over.
    m_lock = std::make_unique<QLockFile>(QDir::temp().filePath(m_name + u".lock"_s));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_lock.reset();
        askRunningInstance();
        return true;
    }
    // Only the holder of the lock listens, so a socket file left behind is stale.
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name))
        return false; // this instance runs; later starts then cannot call it forward
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(kActivate.trimmed()) && OnActivate)
                    OnActivate();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return false;
}

} // namespace valmora
