#pragma once
// Certificates made for one test run with the openssl command: a test CA and a server
// certificate it signed (for 127.0.0.1 and localhost), one it signed for another name, a
// self-signed one and a second self-signed one with a new key (a replaced certificate).
#include <QProcess>
#include <QTemporaryDir>

class TestCertificates {
public:
    TestCertificates()
    {
        const QString ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2";
        m_ok = openssl("req -x509 " + ec +
                           " -keyout {ca}.key -out {ca}.pem -subj /CN=Velmaric-Test-CA",
                       "ca") &&
               signed_("server", "IP:127.0.0.1,DNS:localhost") &&
               signed_("named", "DNS:elsewhere.invalid") && selfSigned("self") &&
               selfSigned("replaced");
    }
    bool made() const { return m_ok; }
    // NAME.pem and NAME.key for ca, server, named, self, replaced.
    QString pem(const QString &name) const { return m_dir.filePath(name + ".pem"); }
    QString key(const QString &name) const { return m_dir.filePath(name + ".key"); }
    // As "openssl x509 -noout -fingerprint -sha256" prints it: "AA:BB:…".
    QString fingerprint(const QString &name) const
    {
        QProcess p;
        p.start("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in", pem(name)});
        p.waitForFinished(30000);
        return QString::fromLatin1(p.readAllStandardOutput()).trimmed().section('=', 1);
    }

    // The public key's pin in libcurl's form, "sha256//" and base64.
    QString pin(const QString &name) const
    {
        QProcess p;
        p.start("sh", {"-c",
                       "openssl x509 -pubkey -noout -in \"$0\" | openssl pkey -pubin "
                       "-outform der | openssl dgst -sha256 -binary | base64",
                       pem(name)});
        p.waitForFinished(30000);
        return "sha256//" + QString::fromLatin1(p.readAllStandardOutput()).trimmed();
    }

private:
    bool openssl(QString args, const QString &name)
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start("openssl", args.replace("{ca}", "ca").replace("{n}", name).split(' '));
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }
    bool selfSigned(const QString &name)
    {
        return openssl("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                       "-keyout {n}.key -out {n}.pem -subj /CN=localhost "
                       "-addext subjectAltName=IP:127.0.0.1,DNS:localhost",
                       name);
    }
    bool signed_(const QString &name, const QString &san)
    {
        return openssl("req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                       "-keyout {n}.key -out {n}.csr -subj /CN=" +
                           name + " -addext subjectAltName=" + san,
                       name) &&
               openssl("x509 -req -in {n}.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
                       "-copy_extensions copy -out {n}.pem",
                       name);
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
};
