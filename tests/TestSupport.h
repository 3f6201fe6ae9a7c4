#pragma once

// Small helpers shared by the tests of every layer.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <optional>
#include <utility>
#include <vector>

namespace valmora::test {

// The folder of recorded drive sectors and WinRM messages kept outside the
// project; tests that need it skip when it is absent.
inline QString SharedFixtures()
{
    const QByteArray env = qgetenv("VALMORA_SHARED_FIXTURES");
    const QString dir = env.isEmpty() ? QString::fromUtf8(VALMORA_SHARED_FIXTURES) : QString::fromLocal8Bit(env);
    return QDir(dir).exists() ? QDir(dir).absolutePath() : QString();
}

// The project's own small fixtures under tests/fixtures.
inline QString OwnFixture(const QString &relative)
{
    return QString::fromUtf8(VALMORA_TEST_FIXTURES) + QLatin1Char('/') + relative;
}

// The permission bits of a file (0600 and the like), -1 when it does not exist.
inline int PosixMode(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

// Makes every write beyond the given size fail (EFBIG), as a full disk would,
// for the life of the object. Works for root too.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit &) = delete;
    ScopedFileSizeLimit &operator=(const ScopedFileSizeLimit &) = delete;

private:
    rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
};

// Points every place where the program keeps files at a fresh temporary folder
// for the life of the object, so no test touches /etc, /var/lib or the home.
class ScopedSandbox
{
public:
    ScopedSandbox()
    {
        set("VALMORA_COMMON_APPDATA", u"/appdata");
        set("VALMORA_MACHINE_CONFIG", u"/etc");
        set("XDG_CONFIG_HOME", u"/config");
    }
    ~ScopedSandbox()
    {
        for (const auto &[name, old] : m_saved) {
            if (old)
                qputenv(name, *old);
            else
                qunsetenv(name);
        }
    }
    ScopedSandbox(const ScopedSandbox &) = delete;
    ScopedSandbox &operator=(const ScopedSandbox &) = delete;

    QString path() const { return m_dir.path(); }
    QString path(const QString &relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

private:
    void set(const char *name, const char16_t *sub)
    {
        m_saved.push_back({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
        const QString dir = m_dir.path() + QString::fromUtf16(sub);
        QDir().mkpath(dir);
        qputenv(name, dir.toLocal8Bit());
    }

    QTemporaryDir m_dir;
    std::vector<std::pair<const char *, std::optional<QByteArray>>> m_saved;
};

} // namespace valmora::test
