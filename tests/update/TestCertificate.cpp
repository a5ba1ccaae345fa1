#include "TestCertificate.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TestCertificate::TestCertificate(const QString& subjectAltName)
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        m_problem = QStringLiteral("no temporary folder");
        return;
    }
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    const QString certificatePath = dir.filePath(QStringLiteral("certificate.pem"));
    // An EC key is made in milliseconds, where RSA could take a noticeable while.
    const QStringList arguments{
        QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-nodes"),
        QStringLiteral("-newkey"), QStringLiteral("ec"),
        QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
        QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath,
        QStringLiteral("-days"), QStringLiteral("2"),
        QStringLiteral("-subj"), QStringLiteral("/CN=Quillmere test server"),
        QStringLiteral("-addext"), QStringLiteral("subjectAltName=") + subjectAltName};
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        m_problem = QStringLiteral("openssl failed: ") + openssl.errorString() + QLatin1Char(' ')
            + QString::fromLocal8Bit(openssl.readAll());
        return;
    }
    m_certificate = QSslCertificate(readAll(certificatePath), QSsl::Pem);
    m_key = QSslKey(readAll(keyPath), QSsl::Ec, QSsl::Pem);
    if (m_certificate.isNull() || m_key.isNull())
        m_problem = QStringLiteral("openssl wrote a certificate or key Qt cannot read");
}

bool TestCertificate::isValid() const
{
    return m_problem.isEmpty();
}

QString TestCertificate::problem() const
{
    return m_problem;
}

QSslCertificate TestCertificate::certificate() const
{
    return m_certificate;
}

QSslConfiguration TestCertificate::serverConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(m_certificate);
    configuration.setPrivateKey(m_key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}
