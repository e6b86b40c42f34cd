#include "frmbrowse.h"
#include "frmoptions.h"
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

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <memory>

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

void writeFile(const QByteArray &bytes)
{
    QFile f(QString::fromLatin1(SettingsFileName));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A folder nobody may write, root included: mode 0555 and, for root, no right to override it.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString &path) : m_path(path)
    {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ExeGroup);
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2];
        std::memcpy(lowered, m_saved, sizeof lowered);
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_lowered = syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~UnwritableFolder()
    {
        if (m_lowered)
            syscall(SYS_capset, &m_header, m_saved);
        QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }
    UnwritableFolder(const UnwritableFolder &) = delete;
    UnwritableFolder &operator=(const UnwritableFolder &) = delete;

private:
    QString m_path;
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_lowered = false;
};
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

    // What Save writes, byte for byte, and what the window shows when it opens again.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QString>("home");
        QTest::addColumn<bool>("allow");
        QTest::addColumn<bool>("use");
        QTest::addColumn<QByteArray>("after");

        const QByteArray zeros(128 - 46, '\0');
        const QByteArray tail = QByteArray("tail bytes \xff\x00\x01", 14).repeated(11);
        QTest::newRow("no file") << QByteArray() << "http://127.0.0.1/" << true << true
                                 << record("http://127.0.0.1/", -1, -1, 0) + zeros;
        QTest::newRow("empty file")
            << QByteArray("") << "a" << false << true << record("a", 0, -1, 0) + zeros;
        QTest::newRow("short file")
            << QByteArray("0123456789") << "b" << true << false << record("b", -1, 0, 0) + zeros;
        QTest::newRow("reserved and bytes after the record kept")
            << record("old", -1, -1, 0x1234) + tail << "new" << false << false
            << record("new", 0, 0, 0x1234) + tail;
        QTest::newRow("40 Latin-1 characters fill the field")
            << QByteArray() << QStringLiteral("http://127.0.0.1/caf\u00e9").leftJustified(40, u'x')
            << true << true
            << record(QByteArray("http://127.0.0.1/caf\xe9").leftJustified(40, 'x'), -1, -1, 0) +
                   zeros;
    }
    void roundTrip()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, home);
        QFETCH(bool, allow);
        QFETCH(bool, use);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            writeFile(before);
        open();
        save(home, allow, use);
        QCOMPARE(m_boxes, QStringList());
        QCOMPARE(fileBytes(), after);
        QCOMPARE(m_w->lblStatus->text(), QStringLiteral("Saved."));
        QCOMPARE(m_w->lblStatus->accessibleName(), QStringLiteral("Saved."));
        QCOMPARE(g_settingsRecord.HomePage, home.leftJustified(40)); // shared copy follows at once
        QCOMPARE(PopUpsAllowed, VbFalse);                            // applies at the next start

        frmOptions *again = open();
        QCOMPARE(again->txtHomePage->text(), home);
        QCOMPARE(again->chkAllowPopUps->isChecked(), allow);
        QCOMPARE(again->chkUseSettings->isChecked(), use);
    }

    // Values the record can't hold are refused with a message and leave the file untouched.
    void refused_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("message");
        QTest::newRow("not Latin-1") << QStringLiteral("http://127.0.0.1/\u20ac") << "\"\u20ac\"";
        QTest::newRow("41 characters") << QString(41, u'a') << "41 characters";
        QTest::newRow("control character") << QStringLiteral("a\tb") << "control characters";
        QTest::newRow("blank while in use") << QStringLiteral("   ") << "Type a home page";
    }
    void refused()
    {
        QFETCH(QString, home);
        QFETCH(QString, message);
        const QByteArray before = record("http://127.0.0.1/kept", -1, -1, 7) + "rest";
        writeFile(before);
        open();
        save(home, true, true);
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes[0].startsWith(QLatin1String("48 ")) && m_boxes[0].contains(message),
                 qPrintable(m_boxes[0]));
        QCOMPARE(fileBytes(), before);
        QCOMPARE(m_w->txtHomePage->text(), home); // nothing typed is lost
        QVERIFY(m_w->lblStatus->text().isEmpty());
    }

    void unwritableFolder()
    {
        const QByteArray before = record("http://127.0.0.1/kept", -1, -1, 0);
        writeFile(before);
        open();
        {
            UnwritableFolder locked(m_dir->path());
            save(QStringLiteral("http://127.0.0.1/new"), false, true);
        }
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes[0].startsWith(QLatin1String("48 Could not save")), qPrintable(m_boxes[0]));
        QCOMPARE(fileBytes(), before);
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{"norvo.ini"});
    }

    // A browser window opened after Save starts at the new home page.
    void browserWindowTakesTheNewHomePage()
    {
        LocalHttpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        server.pages = {{"/home.html", {"<html><head><title>Saved Home</title></head></html>"}}};
        QMdiArea area;
        area.resize(900, 700);
        area.show();
        frmBrowse::setFrame(&area);

        open();
        const QString home = server.url(QStringLiteral("/home.html")).toString();
        save(home, false, true);
        QCOMPARE(m_boxes, QStringList());

        auto *browser = new frmBrowse;
        QSignalSpy done(browser->WebBrowser1, &WebBrowserControl::DocumentComplete);
        browser->Form_Load();
        frmBrowse::addToFrame(browser)->show();
        QCOMPARE(browser->txtAddress->text(), home.leftJustified(40));
        QVERIFY(done.wait(15000));
        QCOMPARE(browser->windowTitle(), QStringLiteral("Norvo - Saved Home"));
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
