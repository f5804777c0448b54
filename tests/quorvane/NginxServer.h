#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real nginx serving one folder on 127.0.0.1, started and stopped by the
// test that owns it. Configured from the demo's template.
class NginxServer
{
public:
    NginxServer() = default;
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // The nginx program, or empty when it is not installed.
    static QString program();

    // Serves over TLS (HTTP/2 offered) with these PEM files; before start().
    void useTls(const QString& certificate, const QString& key);
    // Serves `root` on a free port. False (with error()) when it does not come up.
    bool start(const QString& root);
    void stop();

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by `path`.
    QString url(const QString& path = {}) const;
    // Request lines served so far ("GET /info.ini HTTP/1.1" and so on).
    QStringList requests() const;
    // With TLS: the connection number that served each request, in order.
    QList<int> connections() const;
    QString error() const { return m_error; }

private:
    QTemporaryDir m_run;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_certificate;
    QString m_key;
    QString m_error;
};
