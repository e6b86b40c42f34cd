// Times filling the FTP window's remote tree with one directory's entries, through the window's
// own AddTreeNodes fed from a prepared listing, as Connect and opening a folder do.
//
//   bench_ftp_treefill [--runs R] [--entries N]      (default: 5 runs, 20000 entries)
//
// The goal is at most 300 ms for 20,000 entries, view layout and first paint included.
#include "frmnorvoftp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int runs = 5, entries = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--entries"))
            entries = std::max(1, std::atoi(argv[i + 1]));
    }

    frmNorvoFTP w;
    w.load();
    w.show();
    const QString server = QStringLiteral("ftp.bench.test");
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        w.txtServer->setText(server);
        w.ClearListing();
        w.AddTreeNodes(server);
        // Every tenth entry a folder, as in a typical project tree.
        for (int i = 0; i < entries; ++i) {
            w.colEntryNames.append(QStringLiteral("entry-%1.dat").arg(i, 6, 10, QLatin1Char('0')));
            w.colEntryAttributes.append(i % 10 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DIRECTORY);
        }
        QApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        w.AddTreeNodes(server);
        QApplication::processEvents();
        w.TreeView1->viewport()->grab();
        times.push_back(clock.nsecsElapsed() / 1e6);
        // The next run starts from an empty tree, as after Disconnect.
        w.cmdDisconnect_Click();
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "tree fill, %d entries: median %.1f ms, best %.1f ms, worst %.1f ms (goal <= 300 ms)\n",
        entries, times[times.size() / 2], times.front(), times.back());
    return 0;
}
