#pragma once

// Small helpers shared by the tests of every layer.

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdlib>
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
