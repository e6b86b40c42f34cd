#include "frmoptions.h"
#include "fulldisk.h"
#include "msgboxrecorder.h"
#include "settingsrecord.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

namespace {
// The record as its layout defines it, built byte by byte.
QByteArray record(const QByteArray &home, int16_t allow, int16_t use, int16_t reserved)
{
    QByteArray b = home.leftJustified(40, ' ', true);
    for (int16_t v : {allow, use, reserved})
        b.append(char(uint16_t(v) & 0xFF)).append(char(uint16_t(v) >> 8));
    return b;
}
} // namespace

class tst_frmOptions : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmOptions> m_w;
    MsgBoxRecorder m_boxes;

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_boxes.reset();
        m_w = std::make_unique<frmOptions>();
        m_w->load();
        m_w->show();
    }

    // What Save leaves in the file, byte for byte, and what the window shows when it opens
    // again; a value the record can't hold, or a failed write, is refused with a message.
    void save_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file at all
        QTest::addColumn<QString>("home");
        QTest::addColumn<bool>("allow");
        QTest::addColumn<bool>("use");
        QTest::addColumn<QString>("message"); // empty: saved
        QTest::addColumn<QByteArray>("after");

        const QByteArray zeros(128 - 46, '\0');
        const QByteArray tail = QByteArray("tail bytes \xff\x00\x01", 14).repeated(11);
        const QByteArray kept = record("http://127.0.0.1/kept", -1, -1, 7) + "rest";
        const QString latin1 = QStringLiteral("http://127.0.0.1/caf\u00e9").leftJustified(40, u'x');
        QTest::newRow("no file, 40 Latin-1 characters")
            << QByteArray() << latin1 << true << true << ""
            << record(latin1.toLatin1(), -1, -1, 0) + zeros;
        QTest::newRow("short file") << QByteArray("0123456789") << "b" << true << false << ""
                                    << record("b", -1, 0, 0) + zeros;
        QTest::newRow("reserved and bytes after the record kept")
            << record("old", -1, -1, 0x1234) + tail << "new" << false << false << ""
            << record("new", 0, 0, 0x1234) + tail;
        QTest::newRow("not Latin-1") << kept << QStringLiteral("http://127.0.0.1/\u20ac") << true
                                     << true << "\"\u20ac\"" << kept;
        QTest::newRow("41 characters")
            << kept << QString(41, u'a') << true << true << "41 characters" << kept;
        QTest::newRow("control character")
            << kept << QStringLiteral("a\tb") << true << true << "control characters" << kept;
        QTest::newRow("blank while in use")
            << kept << QStringLiteral("   ") << true << true << "Type a home page" << kept;
        QTest::newRow("disk full") << kept << "http://127.0.0.1/new" << false << true
                                   << "Could not save norvo.ini: File too large" << kept;
    }
    void save()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, home);
        QFETCH(bool, allow);
        QFETCH(bool, use);
        QFETCH(QString, message);
        QFETCH(QByteArray, after);
        QFile file(QString::fromLatin1(SettingsFileName));
        QVERIFY(file.remove()); // the empty one the window made when it opened
        if (!before.isNull()) {
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
            file.close();
        }
        {
            std::optional<FullDisk> full;
            if (message.startsWith(QLatin1String("Could not save")))
                full.emplace();
            m_w->txtHomePage->setText(home);
            m_w->chkAllowPopUps->setChecked(allow);
            m_w->chkUseSettings->setChecked(use);
            m_w->cmdSave->click();
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), after);
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{"norvo.ini"});
        const QString boxes = m_boxes.lines().join(u'|');
        QVERIFY2(message.isEmpty()
                     ? boxes.isEmpty()
                     : m_boxes.boxes.size() == 1 && boxes.startsWith(QLatin1String("48 ")) &&
                           boxes.contains(message),
                 qPrintable(boxes));
        QCOMPARE(m_w->lblStatus->text(), message.isEmpty() ? QStringLiteral("Saved.") : QString());
        QCOMPARE(m_w->lblStatus->accessibleName(), m_w->lblStatus->text());
        QCOMPARE(m_w->txtHomePage->text(), home); // nothing typed is lost
        if (!message.isEmpty())
            return;
        m_w->load(); // as the window opens again
        QCOMPARE(m_w->txtHomePage->text(), home);
        QCOMPARE(m_w->chkAllowPopUps->isChecked(), allow);
        QCOMPARE(m_w->chkUseSettings->isChecked(), use);
    }
};

QTEST_MAIN(tst_frmOptions)
#include "tst_frmoptions.moc"
