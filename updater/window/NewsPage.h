#pragma once

#include <QUrl>
#include <QWebEnginePage>

#include <functional>

// Address of a page on the update site: the scheme, host and port of the
// site address with `path` in place of its own path. Empty when the address
// names no http or https host (no site configured, or garbage).
QUrl sitePageUrl(const QString& baseUrl, const QString& path);

// True for the schemes a page from the network may be shown in or link to.
bool isWebUrl(const QUrl& url);

// A page from the update site, kept inside its small view: it cannot open
// windows or leave the web for local files or other schemes, and a link the
// player clicks goes to `openExternal` (the system browser) instead.
class NewsPage : public QWebEnginePage
{
    Q_OBJECT
public:
    NewsPage(QWebEngineProfile* profile, std::function<void(const QUrl&)> openExternal,
             QObject* parent);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    std::function<void(const QUrl&)> m_openExternal;
};
