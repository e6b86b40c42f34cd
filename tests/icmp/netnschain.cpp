#include "netnschain.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <atomic>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {
const QString Script = QStringLiteral(NETNS_CHAIN_SCRIPT);

int run(const QString &program, const QStringList &args, QByteArray *out, QByteArray *err,
        int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted()) {
        if (err)
            *err = p.errorString().toUtf8();
        return -1;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
} // namespace

QString NetnsChain::unavailableReason()
{
    if (geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty() &&
        !QFile::exists(QStringLiteral("/usr/sbin/ip")) && !QFile::exists(QStringLiteral("/sbin/ip")))
        return QStringLiteral("the ip command (iproute2) is missing");
    return {};
}

NetnsChain::NetnsChain(int routers, const QString &hostsFile) : m_routers(routers)
{
    static std::atomic<int> count{0};
    m_prefix = QStringLiteral("vt%1n%2").arg(getpid()).arg(++count);
    QStringList args{QStringLiteral("up"), m_prefix, QString::number(routers),
                     QStringLiteral("--owner"), QString::number(getpid())};
    if (!hostsFile.isEmpty())
        args << QStringLiteral("--hosts") << hostsFile;
    QByteArray err;
    const int status = run(Script, args, nullptr, &err, 60000);
    m_up = status == 0;
    if (!m_up)
        m_error = QStringLiteral("netns-chain.sh up failed (%1): %2")
                      .arg(status)
                      .arg(QString::fromLocal8Bit(err).trimmed());
}

NetnsChain::~NetnsChain()
{
    run(Script, {QStringLiteral("down"), m_prefix}, nullptr, nullptr, 60000);
}

QString NetnsChain::targetAddress() const { return QStringLiteral("10.99.%1.2").arg(m_routers); }

QString NetnsChain::hopAddress(int k) const { return QStringLiteral("10.99.%1.2").arg(k - 1); }

int NetnsChain::exec(const QString &ns, const QStringList &command, QByteArray *out,
                     QByteArray *err, int timeoutMs) const
{
    return run(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns} + command,
               out, err, timeoutMs);
}

bool NetnsChain::nft(const QString &ns, const QString &ruleset) const
{
    // Tests run in a private working directory; the file only feeds nft.
    QFile file(ns + QStringLiteral(".nft"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write("flush ruleset\n" + ruleset.toUtf8() + "\n");
    file.close();
    return exec(ns, {QStringLiteral("nft"), QStringLiteral("-f"), file.fileName()}) == 0;
}

bool NetnsChain::sysctl(const QString &ns, const QString &key, const QString &value) const
{
    return exec(ns, {QStringLiteral("sysctl"), QStringLiteral("-qw"), key + QLatin1Char('=') + value}) == 0;
}

NetnsScope::NetnsScope(const QString &ns)
{
    m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const QByteArray path = QStringLiteral("/run/netns/%1").arg(ns).toLocal8Bit();
    int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_home >= 0 && fd >= 0)
        m_entered = ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
}

NetnsScope::~NetnsScope()
{
    if (m_entered)
        ::setns(m_home, CLONE_NEWNET);
    if (m_home >= 0)
        ::close(m_home);
}
