#include "station/AccountBrowser.h"

#include <QPointer>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <unistd.h>

namespace {

class TWebAccountBrowser final : public TAccountBrowser {
public:
    explicit TWebAccountBrowser(QWidget* parent)
        : FProfile(new QWebEngineProfile(this))
    {
        FView = new QWebEngineView(parent);
        FView->setObjectName(QStringLiteral("WebBrowser1"));
        FView->setPage(new QWebEnginePage(FProfile, FView));
        // loadFinished comes once per load of the top document, after its frames have loaded. Its
        // `ok` is false also for a page that did load: one sent with an HTTP error status, whose body
        // the browser shows (a 403 or 404 page). The browser's own error page (server unreachable)
        // comes here too; it has no limit, so nothing changes.
        connect(FView->page(), &QWebEnginePage::loadFinished, this, [this](bool) { ReadLimit(); });
    }

    ~TWebAccountBrowser() override
    {
        // The page goes before its profile.
        delete FView.data();
    }

    QWidget* View() const override { return FView; }

    void Post(const TAccountRequest& request) override
    {
        QWebEngineHttpRequest post(request.Url, QWebEngineHttpRequest::Post);
        post.setPostData(request.Body);
        for (const auto& [name, value] : request.Headers) {
            post.setHeader(name, value);
        }
        FView->load(post);
        FStarted = true;
    }

    void Prepare() override
    {
        if (!FStarted) {
            FStarted = true;
            FView->setUrl(QUrl(QStringLiteral("about:blank")));
        }
    }

    // The view hands its focus to the drawing surface once it has one.
    bool Ready() const override { return FView && FView->focusProxy() != nullptr; }

private:
    void ReadLimit()
    {
        // Asynchronous: the answer comes through the event loop, however large the page. The
        // application's own script world: the page's scripts cannot replace what this one calls.
        QPointer<TWebAccountBrowser> self(this);
        FView->page()->runJavaScript(
            zv::LimitScript(), QWebEngineScript::ApplicationWorld, [self](const QVariant& value) {
                if (!self) {
                    return;
                }
                if (value.typeId() == QMetaType::QString) {
                    emit self->PageLoaded(value.toString());
                } else {
                    emit self->PageLoaded(std::nullopt);
                }
            });
    }

    QWebEngineProfile* FProfile;
    QPointer<QWebEngineView> FView;
    bool FStarted = false; // the page was loaded once
};

} // namespace

QString zv::LimitScript()
{
    return QStringLiteral("(function () {"
                          "  try {"
                          "    var e = document.getElementById('limitekbps');"
                          "    if (!e) return null;"
                          "    var v = e.value;"
                          "    return (v === undefined || v === null) ? null : String(v);"
                          "  } catch (x) { return null; }"
                          "})()");
}

std::unique_ptr<TAccountBrowser> zv::MakeWebAccountBrowser(QWidget* parent)
{
    // Chromium refuses to run its sandbox as root; read when the web engine starts, the first time.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    return std::make_unique<TWebAccountBrowser>(parent);
}
