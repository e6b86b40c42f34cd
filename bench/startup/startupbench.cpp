// Start-up benchmark: launch -> main window shown -> first completed document of a local page,
// for the real velmaric binary and for a minimal QtWebEngine program loading the same page.
// Run by hand under a display, e.g.:  xvfb-run -a velmaric-bench-startup --runs 9
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

const QByteArray Page = "<!DOCTYPE html><html><head><title>Start-up bench</title></head>"
                        "<body><h1>Start-up bench</h1><p>A local page.</p></body></html>";

// Answers every request with the one page.
class PageServer : public QTcpServer {
public:
    PageServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                connect(s, &QTcpSocket::readyRead, s, [s] {
                    if (!s->readAll().contains("\r\n\r\n") || s->property("done").toBool())
                        return;
                    s->setProperty("done", true);
                    s->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             QByteArray::number(Page.size()) + "\r\nConnection: close\r\n\r\n" +
                             Page);
                    s->disconnectFromHost();
                });
            }
        });
    }
};

struct Sample {
    double wallMs;   // from starting the process to its report
    double reportMs; // what the process reports: since the kernel started it
};

// Starts program in a fresh working directory with private settings and waits for its report.
std::optional<Sample> runOnce(const QString &program, const QStringList &args,
                              const QByteArray &record, int timeoutMs)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return std::nullopt;
    if (!record.isEmpty()) {
        QFile f(dir.filePath(QStringLiteral("norvo.ini")));
        if (!f.open(QIODevice::WriteOnly) || f.write(record) != record.size())
            return std::nullopt;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    // Everything but loopback goes to a closed local port: the bench never leaves the machine.
    const QString flags = env.value(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"));
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
               (flags + QStringLiteral(" --proxy-server=http://127.0.0.1:9")).trimmed());

    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());

    QEventLoop loop;
    std::optional<Sample> sample;
    QElapsedTimer clock;
    QByteArray out;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] {
        out += process.readAllStandardOutput();
        const qsizetype at = out.indexOf("VELMARIC_BENCH_LOADED ");
        if (at < 0 || out.indexOf('\n', at) < 0)
            return;
        const double wall = clock.nsecsElapsed() / 1e6;
        const QByteArray value = out.mid(at + 22, out.indexOf('\n', at) - at - 22).trimmed();
        sample = Sample{wall, value.toDouble()};
        loop.quit();
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    clock.start();
    process.start(program, args);
    if (!process.waitForStarted(timeoutMs))
        return std::nullopt;
    loop.exec();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    return sample;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QByteArray settingsRecord(const QByteArray &homePage)
{
    QByteArray r = homePage.leftJustified(40, ' ', true);
    r += QByteArray("\x00\x00\xff\xff\x00\x00",
                    6); // AllowPopUps 0, UseStoredSettings -1, Reserved 0
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Start-up of velmaric to its first completed page, against a minimal "
                       "QtWebEngine program."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"),
                                        QStringLiteral("Measured runs of each."),
                                        QStringLiteral("n"), QStringLiteral("7"));
    const QCommandLineOption suiteOption(QStringLiteral("velmaric"),
                                         QStringLiteral("The suite's binary."),
                                         QStringLiteral("path"), QStringLiteral(VELMARIC_BINARY));
    const QCommandLineOption floorOption(QStringLiteral("floor"),
                                         QStringLiteral("The floor program."),
                                         QStringLiteral("path"), QStringLiteral(FLOOR_BINARY));
    parser.addOptions({runsOption, suiteOption, floorOption});
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());

    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "No display: run under one, e.g. xvfb-run -a %s\n", argv[0]);
        return 2;
    }

    PageServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "Cannot listen on 127.0.0.1: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(server.serverPort()) +
                           "/bench.html";
    const QByteArray record = settingsRecord(url);
    const QString suite = parser.value(suiteOption);
    const QString floor = parser.value(floorOption);
    constexpr int TimeoutMs = 60000;

    std::vector<double> floorWall, suiteWall, floorReport, suiteReport;
    std::printf("page %s, %d runs (+1 warm-up) each, alternating\n\n", url.constData(), runs);
    std::printf("%-6s %14s %14s   %14s %14s\n", "run", "floor wall ms", "velmaric wall",
                "floor in-proc", "velmaric in-proc");
    for (int i = 0; i <= runs; ++i) {
        const auto f = runOnce(floor, {QString::fromLatin1(url)}, {}, TimeoutMs);
        const auto s = runOnce(suite, {QStringLiteral("--exit-after-first-page")}, record,
                               TimeoutMs);
        if (!f || !s) {
            std::fprintf(stderr, "run %d: %s did not report a loaded page\n", i,
                         qPrintable(!f ? floor : suite));
            return 1;
        }
        std::printf("%-6s %14.0f %14.0f   %14.0f %14.0f\n",
                    i == 0 ? "warm" : qPrintable(QString::number(i)), f->wallMs, s->wallMs,
                    f->reportMs, s->reportMs);
        if (i == 0)
            continue;
        floorWall.push_back(f->wallMs);
        suiteWall.push_back(s->wallMs);
        floorReport.push_back(f->reportMs);
        suiteReport.push_back(s->reportMs);
    }
    const double fw = median(floorWall), sw = median(suiteWall);
    const double fr = median(floorReport), sr = median(suiteReport);
    std::printf("\n%-6s %14.0f %14.0f   %14.0f %14.0f\n", "median", fw, sw, fr, sr);
    std::printf("ratio velmaric / floor: %.3f (wall), %.3f (in-process); goal <= 1.15\n", sw / fw,
                sr / fr);
    return 0;
}
