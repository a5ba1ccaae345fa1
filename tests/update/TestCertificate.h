#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

class QSslConfiguration;

// A throw-away self-signed server certificate made with the openssl command,
// valid for the given subjectAltName (for example "IP:127.0.0.1").
class TestCertificate
{
public:
    explicit TestCertificate(const QString& subjectAltName);

    bool isValid() const;
    // Why making the certificate failed, for the test's failure message.
    QString problem() const;
    QSslCertificate certificate() const;
    // The server side of a TLS connection that presents this certificate.
    QSslConfiguration serverConfiguration() const;

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_problem;
};
