#include "RecordingView.h"

using namespace Qt::StringLiterals;

namespace testsupport {

namespace {

QString prefixOf(StatusField field)
{
    switch (field) {
    case StatusField::Status:
        return u"L2="_s;
    case StatusField::Detail:
        return u"L3="_s;
    case StatusField::Version:
        return u"L4="_s;
    case StatusField::Progress:
        return u"Label4="_s;
    }
    return {};
}

} // namespace

QStringList RecordingView::values(StatusField field) const
{
    const QString prefix = prefixOf(field);
    QStringList result;
    for (const QString& entry : m_log) {
        if (entry.startsWith(prefix))
            result.append(entry.mid(prefix.size()));
    }
    return result;
}

QString RecordingView::current(StatusField field) const
{
    const QStringList all = values(field);
    return all.isEmpty() ? QString() : all.last();
}

bool RecordingView::continueEnabled() const
{
    for (auto it = m_log.crbegin(); it != m_log.crend(); ++it) {
        if (it->startsWith(u"continue="_s))
            return *it == u"continue=on"_s;
    }
    return false;
}

QByteArray manifestText(const QString& version, const QList<ManifestEntry>& entries,
                        const QString& max, const QString& gameFileName)
{
    QString text = "[VERSION]\r\nVersion="_L1 + version + "\r\nGameFileName="_L1 + gameFileName +
                   "\r\nMax="_L1 + (max.isEmpty() ? QString::number(entries.size()) : max) +
                   "\r\n[FILES]\r\n"_L1;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString n = QString::number(i + 1);
        const ManifestEntry& e = entries.at(i);
        text += "FileName"_L1 + n + u'=' + e.FileName + "\r\nFileVersion"_L1 + n + u'=' +
                e.FileVersion + "\r\nFilePath"_L1 + n + u'=' + e.FilePath + "\r\n"_L1;
    }
    return text.toUtf8();
}

} // namespace testsupport
