// Times appending 100k rows into the TCP table window's model and view, through the window's
// own "Get TCP Table" handler fed from a prepared table, and reports the memory per 100k rows.
//
//   bench_tcptable_view [--runs R] [--rows N]      (default: 5 runs, 100000 rows)
//
// The goal is at most 300 ms per 100k rows appended, memory growing linearly.
#include "frmtcptable.h"
#include "reportlistview.h"
#include "tcptablemodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<iphlp::MIB_TCPROW> g_rows;

uint32_t preparedTable(void *buffer, uint32_t *size, bool)
{
    const auto needed = uint32_t(iphlp::tcpTableSize(g_rows.size()));
    if (!buffer || *size < needed) {
        *size = needed;
        return iphlp::ERROR_INSUFFICIENT_BUFFER;
    }
    iphlp::writeTcpTable(g_rows, static_cast<uint8_t *>(buffer));
    return 0;
}

uint32_t portField(unsigned port) { return (port >> 8 & 0xFF) | (port & 0xFF) << 8; }

// Like the benchmark's live table: a few loopback listeners, both ends of every connection.
std::vector<iphlp::MIB_TCPROW> makeRows(int count, unsigned seed)
{
    const uint32_t loopback = 0x0100007Fu; // 127.0.0.1, network order
    std::vector<iphlp::MIB_TCPROW> rows;
    const unsigned listeners[] = {34001, 34002, 34003, 34004, 34005, 34006};
    for (unsigned l : listeners)
        rows.push_back({2, loopback, portField(l), 0, 0});
    for (unsigned i = 0; int(rows.size()) < count; ++i) {
        const unsigned l = listeners[i % 6];
        const unsigned eph = 32768 + (i * 7919 + seed) % 28232;
        rows.push_back({5, loopback, portField(eph), loopback, portField(l)});
        if (int(rows.size()) < count)
            rows.push_back({5, loopback, portField(l), loopback, portField(eph)});
    }
    return rows;
}

double residentMB()
{
    long pages = 0;
    long resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Lets the view lay out and paint what it now shows.
void settle(frmTCPTable &w)
{
    QApplication::processEvents();
    w.ListView1->viewport()->grab();
}

double timed(frmTCPTable &w, const std::function<void()> &step)
{
    QElapsedTimer t;
    t.start();
    step();
    settle(w);
    return double(t.nsecsElapsed()) / 1e6;
}

void clickHeader(frmTCPTable &w, int section)
{
    Q_EMIT w.ListView1->header()->sectionClicked(section);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 5;
    int rowCount = 100000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--rows") && i + 1 < argc)
            rowCount = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--runs R] [--rows N]\n", argv[0]);
            return 2;
        }
    }

    std::map<std::string, std::vector<double>> ms;
    std::vector<double> firstMB;
    std::vector<double> secondMB;
    std::vector<double> thirdMB;
    const char *order[] = {"append to empty, unsorted", "append to 1x, unsorted",
                           "first header click at 2x",  "append to 2x, sorted",
                           "other header click at 3x",  "append to empty, sorted"};
    for (int r = 0; r < runs; ++r) {
        {
            frmTCPTable w;
            w.load();
            w.show();
            w.setTableSource(preparedTable);
            settle(w);
            malloc_trim(0);
            const double base = residentMB();
            g_rows = makeRows(rowCount, 1);
            ms[order[0]].push_back(timed(w, [&] { w.Command1_Click(); }));
            malloc_trim(0);
            const double one = residentMB();
            g_rows = makeRows(rowCount, 2);
            ms[order[1]].push_back(timed(w, [&] { w.Command1_Click(); }));
            malloc_trim(0);
            const double two = residentMB();
            firstMB.push_back(one - base);
            secondMB.push_back(two - one);
            ms[order[2]].push_back(timed(w, [&] { clickHeader(w, 1); }));
            g_rows = makeRows(rowCount, 3);
            ms[order[3]].push_back(timed(w, [&] { w.Command1_Click(); }));
            malloc_trim(0);
            thirdMB.push_back(residentMB() - two);
            ms[order[4]].push_back(timed(w, [&] { clickHeader(w, 3); }));
        }
        {
            frmTCPTable w;
            w.load();
            w.show();
            w.setTableSource(preparedTable);
            settle(w);
            clickHeader(w, 1);
            g_rows = makeRows(rowCount, 4);
            ms[order[5]].push_back(timed(w, [&] { w.Command1_Click(); }));
        }
    }

    std::printf("TCP table window, %d rows (1x) per press, median of %d runs (goal <= 300 ms "
                "per 100k rows)\n",
                rowCount, runs);
    for (const char *name : order)
        std::printf("  %-32s %8.1f ms\n", name, median(ms[name]));
    std::printf("  resident memory, first %d rows   %8.1f MB\n", rowCount, median(firstMB));
    std::printf("  resident memory, second %d rows  %8.1f MB\n", rowCount, median(secondMB));
    std::printf("  resident memory, third %d rows   %8.1f MB (sorted)\n", rowCount,
                median(thirdMB));
    return 0;
}
