#include "job.h"

#include <QtTest>

#include <atomic>
#include <future>

// How a job ends when its window stops it, closes, or the suite quits.
class tst_Job : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Stop: the work wakes from its own wait through its cancel hook, and what it reports up to
    // its end still arrives, in order, before finished().
    void cancelStillReports_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("cancel()") << false;
        QTest::newRow("the application quits") << true;
    }
    void cancelStillReports()
    {
        QFETCH(bool, quit);
        Job job;
        QStringList seen;
        connect(&job, &Job::finished, this, [&] { seen << "finished"; });
        std::promise<void> woken; // as a socket's own cancel would wake its wait
        job.start([&seen, &woken](JobContext &c) {
            const auto hook = c.onCancel([&woken] { woken.set_value(); });
            c.post([&seen] { seen << "started"; });
            woken.get_future().wait();
            c.post([&seen] { seen << "stopped"; });
        });
        QTRY_COMPARE(seen, QStringList{"started"});
        if (quit) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
        } else {
            job.cancel();
        }
        QTRY_COMPARE(seen, (QStringList{"started", "stopped", "finished"}));
        QVERIFY(job.isCancelled() && !job.isRunning());
    }

    // Closing the window: the job is joined before its destructor returns, or, while its work
    // sits in a call nothing interrupts, left behind with what it owns; nothing it reports
    // arrives afterwards, and what it owns goes when it ends.
    void destroyed_data()
    {
        QTest::addColumn<bool>("blocked");
        QTest::newRow("sleeping") << false;
        QTest::newRow("in a blocking call") << true;
    }
    void destroyed()
    {
        QFETCH(bool, blocked);
        auto owned = std::make_shared<int>(0);
        std::weak_ptr<int> watch = owned;
        std::promise<void> entered, release;
        auto released = release.get_future().share();
        bool reported = false;
        std::atomic<bool> ranAfterCancel{false};
        {
            Job job;
            connect(&job, &Job::finished, this, [&] { reported = true; });
            job.start([owned = std::move(owned), &entered, released, blocked, &reported,
                       &ranAfterCancel](JobContext &c) {
                if (blocked)
                    c.blocking([&] {
                        entered.set_value();
                        released.wait();
                        return 0;
                    });
                else {
                    entered.set_value();
                    c.sleepFor(60000);
                }
                c.post([&reported] { reported = true; });
                // After a cancel nothing blocking starts.
                ranAfterCancel = c.blocking([] { return 0; }).has_value();
            });
            entered.get_future().wait();
        }
        QCOMPARE(watch.expired(), !blocked);
        release.set_value();
        QTRY_VERIFY(watch.expired());
        QCoreApplication::processEvents();
        QVERIFY(!reported && !ranAfterCancel);
    }
};

QTEST_GUILESS_MAIN(tst_Job)
#include "tst_job.moc"
