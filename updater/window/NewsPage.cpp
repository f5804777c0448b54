#include "NewsPage.h"

#include <QWebEngineNewWindowRequest>
#include <QWebEngineSettings>

using namespace Qt::StringLiterals;

QUrl sitePageUrl(const QString& baseUrl, const QString& path)
{
    const QUrl site(baseUrl.trimmed(), QUrl::StrictMode);
    if (!site.isValid() || !isWebUrl(site) || site.host().isEmpty())
        return {};
    QUrl page;
    page.setScheme(site.scheme());
    page.setHost(site.host());
    page.setPort(site.port());
    page.setPath(path);
    return page;
}

bool isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http"_s || scheme == u"https"_s;
}

NewsPage::NewsPage(QWebEngineProfile* profile, std::function<void(const QUrl&)> openExternal,
                   QObject* parent)
    : QWebEnginePage(profile, parent), m_openExternal(std::move(openExternal))
{
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);

    // target="_blank" links and window.open(): never a new window. What the
    // player asked for by clicking goes to the system browser; pop-ups die.
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) {
                if (request.isUserInitiated() && isWebUrl(request.requestedUrl()))
                    m_openExternal(request.requestedUrl());
            });
}

bool NewsPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (type == NavigationTypeLinkClicked) {
        if (isWebUrl(url) && !url.matches(this->url(), QUrl::RemoveFragment))
            m_openExternal(url);
        // Jumps within the page itself stay in the view.
        return isWebUrl(url) && url.matches(this->url(), QUrl::RemoveFragment);
    }
    if (isWebUrl(url))
        return true;
    // Frames may start out blank; nothing else leaves the web.
    return !isMainFrame &&
           (url.toString() == u"about:blank"_s || url.toString() == u"about:srcdoc"_s);
}

void NewsPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                        const QString&)
{
    // The site's script chatter is not the player's business.
}
