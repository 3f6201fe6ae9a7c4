#pragma once

// Helpers of the monitor's tests: an HTTP client (libcurl), the samples of an
// exposition by series, promtool's verdict on one, and a way into the network
// namespace of a process the test started.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <curl/curl.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <thread>

namespace valmora::test {

struct HttpAnswer
{
    long status = 0;
    QByteArray contentType;
    QByteArray body;
    QString error; // empty when an answer came
};

// One request, at most 10 seconds, never through a proxy.
inline HttpAnswer HttpRequest(const QString &url, const QByteArray &accept = {}, const char *method = "GET")
{
    HttpAnswer answer;
    CURL *curl = curl_easy_init();
    if (!curl) {
        answer.error = QStringLiteral("curl_easy_init failed");
        return answer;
    }
    const QByteArray u = url.toUtf8();
    curl_slist *headers = nullptr;
    if (!accept.isEmpty())
        headers = curl_slist_append(headers, QByteArray("Accept: " + accept).constData());
    curl_easy_setopt(curl, CURLOPT_URL, u.constData());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    if (qstrcmp(method, "HEAD") == 0)
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char *data, size_t size, size_t count, void *into) -> size_t {
        static_cast<QByteArray *>(into)->append(data, static_cast<qsizetype>(size * count));
        return size * count;
    });
    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        answer.error = QString::fromUtf8(curl_easy_strerror(code));
    } else {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
        char *type = nullptr;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
        answer.contentType = type ? QByteArray(type) : QByteArray();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}

// The samples of an exposition, by their series as written ("name{labels}").
inline std::map<QByteArray, double> Samples(const QByteArray &exposition)
{
    std::map<QByteArray, double> samples;
    for (const QByteArray &line : exposition.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype blank = line.lastIndexOf(' ');
        samples[line.left(blank)] = line.mid(blank + 1).toDouble();
    }
    return samples;
}

inline QString PromtoolMissing()
{
    return QFile::exists(QStringLiteral("/usr/bin/promtool")) ? QString()
                                                              : QStringLiteral("needs promtool (package prometheus)");
}

// What promtool check metrics says against the text; empty when it accepts it.
inline QString PromtoolProblem(const QByteArray &exposition)
{
    QProcess promtool;
    promtool.start(QStringLiteral("/usr/bin/promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
    if (!promtool.waitForStarted(10000))
        return QStringLiteral("promtool did not start");
    promtool.write(exposition);
    promtool.closeWriteChannel();
    if (!promtool.waitForFinished(30000))
        return QStringLiteral("promtool did not end");
    if (promtool.exitStatus() == QProcess::NormalExit && promtool.exitCode() == 0)
        return QString();
    return QString::fromUtf8(promtool.readAllStandardOutput() + promtool.readAllStandardError());
}

// Runs body in a thread that joined the network namespace of the process.
inline QString RunInNamespaceOf(qint64 pid, const std::function<void()> &body)
{
    QString error;
    std::thread worker([&] {
        const QByteArray path = "/proc/" + QByteArray::number(pid) + "/ns/net";
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            error = QStringLiteral("cannot join the network namespace of process %1").arg(pid);
            if (fd >= 0)
                ::close(fd);
            return;
        }
        ::close(fd);
        body();
    });
    worker.join();
    return error;
}

} // namespace valmora::test
