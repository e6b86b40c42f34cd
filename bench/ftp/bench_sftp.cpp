// SFTP benchmark, run by hand: velmaric-cli ftp beside OpenSSH's sftp -b and curl's sftp
// (libssh2), get and put of one file (1 GiB by default) against the same sshd on loopback
// (tests/peers/sshserver.h), all three logging in with the same ed25519 key, files on tmpfs.
// Prints MB/s of each, best of N runs (each run alternates them), and our ratios; OpenSSH runs
// twice: with its default cipher (ChaCha20) and with AES-GCM, the one ours prefers.
// Goal: ours >= 0.9x curl; the ratio to OpenSSH is reported.
// Usage: bench_sftp [--runs N] [--size-mib M]      (needs root, as the sshd fixture does)
#include "sshserver.h"
#include "timedrun.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double best(const std::vector<TimedRun> &runs)
{
    double m = -1;
    for (const auto &r : runs)
        if (r.ms > 0 && (m < 0 || r.ms < m))
            m = r.ms;
    return m;
}

double mbPerSecond(double ms, qint64 bytes) { return ms > 0 ? bytes / 1e6 / (ms / 1000) : 0; }

} // namespace

int main(int argc, char **argv)
{
    int runs = 3;
    qint64 mib = 1024;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::string(argv[i]) == "--size-mib")
            mib = std::max(1, std::atoi(argv[i + 1]));
    }
    qputenv("TMPDIR", "/dev/shm"); // server and client files on tmpfs: no disk in the figures
    QCoreApplication app(argc, argv);
    SshServerPeer peer;
    if (!peer.started()) {
        std::fprintf(stderr, "bench_sftp: %s\n", qPrintable(peer.problem()));
        return 1;
    }
    QTemporaryDir client;
    const QString ssh = client.path() + "/.ssh";
    QDir().mkpath(ssh);
    const QString key = ssh + "/id_ed25519";
    QFile known(ssh + "/known_hosts");
    if (!SshServerPeer::keygen("ed25519", key) || !peer.authorize(key) ||
        !known.open(QIODevice::WriteOnly) || known.write(peer.knownHostsLine()) <= 0) {
        std::fprintf(stderr, "bench_sftp: cannot set up the client keys\n");
        return 1;
    }
    known.close();
    qputenv("HOME", client.path().toLocal8Bit()); // curl and ours read ~/.ssh from here
    qunsetenv("SSH_AUTH_SOCK");

    const qint64 bytes = mib << 20;
    {
        QFile f(peer.home("big"));
        f.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 i = 0; i < mib; ++i) {
            for (int j = 0; j < block.size(); j += 4)
                *reinterpret_cast<quint32 *>(block.data() + j) = quint32(std::rand());
            f.write(block);
        }
    }
    const std::string local = client.filePath("local").toStdString();
    const std::string got = client.filePath("got").toStdString();
    QFile::copy(peer.home("big"), QString::fromStdString(local));
    const std::string port = std::to_string(peer.port());
    const std::string url = "sftp://velmaric@127.0.0.1:" + port + "/";
    const std::string curlUrl = "sftp://127.0.0.1:" + port + "/~/";
    const std::string keyFile = key.toStdString();
    // OpenSSH's sftp with its default cipher (chacha20-poly1305), or the one named.
    const auto sftpBatch = [&](const std::string &command, const std::string &cipher) {
        const std::string batch = client.filePath("batch").toStdString();
        QFile b(QString::fromStdString(batch));
        b.open(QIODevice::WriteOnly);
        b.write(QByteArray::fromStdString(command + "\n"));
        std::vector<std::string> argv{
            "sftp", "-q",
            "-b",   batch,
            "-i",   keyFile,
            "-o",   "UserKnownHostsFile=" + ssh.toStdString() + "/known_hosts",
            "-o",   "BatchMode=yes",
            "-P",   port};
        if (!cipher.empty())
            argv.insert(argv.end(), {"-c", cipher});
        argv.push_back("velmaric@127.0.0.1");
        return argv;
    };

    struct Tool {
        const char *name;
        std::vector<std::string> get, put;
        const char *sftpCipher = nullptr; // OpenSSH's sftp: "" for its default cipher
        std::vector<TimedRun> gets{}, puts{};
    };
    std::vector<Tool> tools{
        {"velmaric-cli",
         {VELMARIC_CLI, "ftp", "get", url + "big", got},
         {VELMARIC_CLI, "ftp", "put", local, url + "up"}},
        {"OpenSSH sftp -b", {}, {}, ""},
        {"curl (libssh2)",
         {"curl", "-s", "--key", keyFile, "--pubkey", keyFile + ".pub", "-u",
          "velmaric:", curlUrl + "big", "-o", got},
         {"curl", "-s", "--key", keyFile, "--pubkey", keyFile + ".pub", "-u", "velmaric:", "-T",
          local, curlUrl + "up"}},
        {"  sftp, AES-GCM", {}, {}, "aes128-gcm@openssh.com"}, // the cipher ours prefers
    };
    for (int i = 0; i < runs; ++i) {
        for (auto &t : tools) {
            const bool openssh = t.sftpCipher;
            t.gets.push_back(
                timedRun(openssh ? sftpBatch("get big " + got, t.sftpCipher) : t.get, false));
            if (QFileInfo(QString::fromStdString(got)).size() != bytes)
                t.gets.back().ms = -1;
            t.puts.push_back(
                timedRun(openssh ? sftpBatch("put " + local + " up", t.sftpCipher) : t.put, false));
            if (QFileInfo(peer.home("up")).size() != bytes)
                t.puts.back().ms = -1;
            QFile::remove(QString::fromStdString(got));
            QFile::remove(peer.home("up"));
        }
    }

    std::printf("SFTP on loopback, %lld MiB, best of %d\n", (long long)mib, runs);
    std::printf("%-18s %10s %10s\n", "", "get MB/s", "put MB/s");
    for (const auto &t : tools)
        std::printf("%-18s %10.1f %10.1f\n", t.name, mbPerSecond(best(t.gets), bytes),
                    mbPerSecond(best(t.puts), bytes));
    const auto ratio = [&](std::size_t peerTool, bool get) {
        const double ours = best(get ? tools[0].gets : tools[0].puts);
        const double theirs = best(get ? tools[peerTool].gets : tools[peerTool].puts);
        return ours > 0 && theirs > 0 ? theirs / ours : 0;
    };
    std::printf("ours / curl:    get %.2fx  put %.2fx   (goal >= 0.90x)\n", ratio(2, true),
                ratio(2, false));
    std::printf("ours / OpenSSH: get %.2fx  put %.2fx  (same cipher: get %.2fx  put %.2fx)\n",
                ratio(1, true), ratio(1, false), ratio(3, true), ratio(3, false));
    return 0;
}
