#include "frmbrowse.h"
#include "frmoptions.h"
#include "fulldisk.h"
#include "localhttpserver.h"
#include "messagebox.h"
#include "processenv.h"
#include "settingsrecord.h"
#include "webbrowsercontrol.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSignalSpy>
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

QByteArray fileBytes()
{
    QFile f(QString::fromLatin1(SettingsFileName));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}
} // namespace

class tst_frmOptions : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmOptions> m_w;
    QStringList m_boxes;

    frmOptions *open()
    {
        m_w = std::make_unique<frmOptions>();
        m_w->load();
        m_w->show();
        return m_w.get();
    }
    void save(const QString &home, bool allow, bool use)
    {
        m_w->txtHomePage->setText(home);
        m_w->chkAllowPopUps->setChecked(allow);
        m_w->chkUseSettings->setChecked(use);
        m_w->cmdSave->click();
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_boxes.clear();
        setMsgBoxHandler([this](const QString &text, int style, const QString &) {
            m_boxes << QString::number(style) + QLatin1Char(' ') + text;
            return int(vbOK);
        });
        PopUpsAllowed = VbFalse;
    }
    void cleanup()
    {
        m_w.reset();
        setMsgBoxHandler({});
        QDir::setCurrent(QDir::tempPath());
    }

    // What Save leaves in the file, byte for byte, and what the window shows when it opens
    // again; a value the record can't hold, or a failed write, is refused with a message.
    void save_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QString>("home");
        QTest::addColumn<bool>("allow");
        QTest::addColumn<bool>("use");
        QTest::addColumn<QString>("message"); // empty: saved
        QTest::addColumn<QByteArray>("after");

        const QByteArray zeros(128 - 46, '\0');
        const QByteArray tail = QByteArray("tail bytes \xff\x00\x01", 14).repeated(11);
        const QByteArray kept = record("http://127.0.0.1/kept", -1, -1, 7) + "rest";
        QTest::newRow("no file") << QByteArray() << "http://127.0.0.1/" << true << true << ""
                                 << record("http://127.0.0.1/", -1, -1, 0) + zeros;
        QTest::newRow("empty file")
            << QByteArray("") << "a" << false << true << "" << record("a", 0, -1, 0) + zeros;
        QTest::newRow("short file") << QByteArray("0123456789") << "b" << true << false << ""
                                    << record("b", -1, 0, 0) + zeros;
        QTest::newRow("reserved and bytes after the record kept")
            << record("old", -1, -1, 0x1234) + tail << "new" << false << false << ""
            << record("new", 0, 0, 0x1234) + tail;
        QTest::newRow("40 Latin-1 characters fill the field")
            << QByteArray() << QStringLiteral("http://127.0.0.1/caf\u00e9").leftJustified(40, u'x')
            << true << true << ""
            << record(QByteArray("http://127.0.0.1/caf\xe9").leftJustified(40, 'x'), -1, -1, 0) +
                   zeros;
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
        if (!before.isNull()) {
            QFile f(QString::fromLatin1(SettingsFileName));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        }
        open();
        {
            std::optional<FullDisk> full;
            if (message.startsWith(QLatin1String("Could not save")))
                full.emplace();
            save(home, allow, use);
        }
        QCOMPARE(fileBytes(), after);
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{"norvo.ini"});
        QCOMPARE(PopUpsAllowed, VbFalse); // applies at the next start
        if (!message.isEmpty()) {
            QCOMPARE(m_boxes.size(), 1);
            QVERIFY2(m_boxes[0].startsWith(QLatin1String("48 ")) && m_boxes[0].contains(message),
                     qPrintable(m_boxes[0]));
            QCOMPARE(m_w->txtHomePage->text(), home); // nothing typed is lost
            QVERIFY(m_w->lblStatus->text().isEmpty());
            return;
        }
        QCOMPARE(m_boxes, QStringList());
        QCOMPARE(m_w->lblStatus->text(), QStringLiteral("Saved."));
        QCOMPARE(m_w->lblStatus->accessibleName(), QStringLiteral("Saved."));
        frmOptions *again = open();
        QCOMPARE(again->txtHomePage->text(), home);
        QCOMPARE(again->chkAllowPopUps->isChecked(), allow);
        QCOMPARE(again->chkUseSettings->isChecked(), use);
    }

    // A browser window opened after Save starts at the new home page.
    void browserWindowTakesTheNewHomePage()
    {
        LocalHttpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        server.pages = {{"/home.html", {"<html><head><title>Saved Home</title></head></html>"}}};
        QMdiArea area;
        area.show();
        frmBrowse::setFrame(&area);
        open();
        save(server.url(QStringLiteral("/home.html")).toString(), false, true);

        auto *browser = new frmBrowse;
        QSignalSpy done(browser->WebBrowser1, &WebBrowserControl::DocumentComplete);
        browser->Form_Load();
        frmBrowse::addToFrame(browser)->show();
        QVERIFY(done.wait(15000));
        QCOMPARE(server.hits.value(QStringLiteral("/home.html")), 1);
        area.closeAllSubWindows();
    }
};

int main(int argc, char **argv)
{
    setupProcessEnvironment(argc, argv);
    QApplication app(argc, argv);
    tst_frmOptions t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_frmoptions.moc"
