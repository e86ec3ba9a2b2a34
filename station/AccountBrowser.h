#pragma once

// The account page's browser in the settings window: it posts the account and, after every completed
// load, reads the bitrate limit the page carries. The program uses a real browser (Qt WebEngine);
// tests of the windows may put in another.
//
// Threads: user-interface thread only. The web engine renders and loads in processes and threads of
// its own; nothing here waits for it.

#include "station/AccountPage.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

class TAccountBrowser : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The page's view, which the settings window places.
    virtual QWidget* View() const = 0;
    // Navigates to the request's address with its body and headers: an HTTP POST. A load still
    // under way is abandoned.
    virtual void Post(const TAccountRequest& request) = 0;
    // Starts the page, empty, when nothing was posted yet: a real browser's view makes its drawing
    // surface a moment after its page starts, and the window around it is then made anew in the
    // window system, which costs a window shown modally its modal state. Optional.
    virtual void Prepare() { }
    // The view has its drawing surface: showing the window now keeps it the window system's window.
    virtual bool Ready() const { return true; }

signals:
    // After every completed load, whatever its outcome: the text of the "value" of the element
    // "limitekbps" in the current document, or nothing when there is no such element or value.
    void PageLoaded(const std::optional<QString>& limit);
};

// Makes the browser whose view goes into `parent`.
using TAccountBrowserFactory = std::function<std::unique_ptr<TAccountBrowser>(QWidget* parent)>;

namespace zv {

// The script that reads the limit: the element's value as text, null when there is none.
QString LimitScript();

// The real browser: a Qt WebEngine view named "WebBrowser1" in `parent`, on a profile of its own kept
// in memory only (no cache, cookies or history on disk). As root, where Chromium's sandbox cannot
// run, the sandbox is switched off first (QTWEBENGINE_DISABLE_SANDBOX=1) unless the environment
// already says otherwise.
std::unique_ptr<TAccountBrowser> MakeWebAccountBrowser(QWidget* parent);

} // namespace zv
