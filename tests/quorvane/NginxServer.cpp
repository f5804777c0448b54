#include "NginxServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

using namespace Qt::StringLiterals;

NginxServer::~NginxServer()
{
    stop();
}

QString NginxServer::program()
{
    QString found = QStandardPaths::findExecutable(u"nginx"_s);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(u"nginx"_s, {u"/usr/sbin"_s, u"/usr/local/sbin"_s});
    return found;
}

namespace {

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool answers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

bool NginxServer::start(const QString& root)
{
    QFile templ(QStringLiteral(QV_NGINX_TEMPLATE));
    if (!m_run.isValid() || !templ.open(QIODevice::ReadOnly)) {
        m_error = u"no run folder or no nginx template"_s;
        return false;
    }
    const QString config = QString::fromUtf8(templ.readAll());
    const QString confPath = m_run.filePath(u"nginx.conf"_s);

    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = freePort();
        QString text = config;
        text.replace(u"@ROOT@"_s, root)
            .replace(u"@PORT@"_s, QString::number(port))
            .replace(u"@RUNDIR@"_s, m_run.path())
            .replace(u"@ACCESS_LOG@"_s, m_run.filePath(u"access.log"_s));
        if (!m_certificate.isEmpty()) {
            text.replace(u"listen 127.0.0.1:%1;"_s.arg(port),
                         u"listen 127.0.0.1:%1 ssl http2; ssl_certificate %2; "
                         "ssl_certificate_key %3;"_s.arg(port)
                             .arg(m_certificate, m_key))
                .replace(u"access_log "_s, u"log_format conn '$connection \"$request\"'; "
                                           "access_log "_s)
                .replace(u"access.log;"_s, u"access.log conn;"_s);
        }
        QFile conf(confPath);
        if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            conf.write(text.toUtf8()) < 0) {
            m_error = u"cannot write the nginx configuration"_s;
            return false;
        }
        conf.close();

        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program(), {u"-p"_s, m_run.path() + u'/', u"-e"_s,
                                    m_run.filePath(u"error.log"_s), u"-c"_s, confPath});
        if (!m_process.waitForStarted(5000)) {
            m_error = m_process.errorString();
            return false;
        }
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            if (answers(port)) {
                m_port = port;
                return true;
            }
            QThread::msleep(20);
        }
        m_process.kill();
        m_process.waitForFinished(2000);
        QFile log(m_run.filePath(u"error.log"_s));
        m_error = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll())
                                                : u"nginx did not start"_s;
    }
    return false;
}

void NginxServer::useTls(const QString& certificate, const QString& key)
{
    m_certificate = certificate;
    m_key = key;
}

void NginxServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

QString NginxServer::url(const QString& path) const
{
    return (m_certificate.isEmpty() ? u"http"_s : u"https"_s) + u"://127.0.0.1:"_s +
           QString::number(m_port) + path;
}

QStringList NginxServer::requests() const
{
    QStringList lines;
    QFile log(m_run.filePath(u"access.log"_s));
    if (!log.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const qsizetype open = line.indexOf('"');
        const qsizetype close = line.indexOf('"', open + 1);
        if (open >= 0 && close > open)
            lines.append(QString::fromUtf8(line.mid(open + 1, close - open - 1)));
    }
    return lines;
}

QList<int> NginxServer::connections() const
{
    QList<int> numbers;
    QFile log(m_run.filePath(u"access.log"_s));
    if (!log.open(QIODevice::ReadOnly))
        return numbers;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (!line.isEmpty())
            numbers.append(line.left(line.indexOf(' ')).toInt());
    }
    return numbers;
}
