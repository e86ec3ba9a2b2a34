#pragma once

// The account page's browser in the settings window: it posts the account and, after every completed
// load, reads the bitrate limit the page carries. The program's browser engine runs in a helper
// process of its own (zoveva-account) only while a page is read or shown; tests of the windows may
// put in another browser.
//
// Threads: user-interface thread only. The helper loads and renders in its own processes; nothing
// here waits for it.

#include "station/AccountPage.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

class TAccountBrowser : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The page's panel, which the settings window places.
    virtual QWidget* View() const = 0;
    // Loads the request's address with its body and headers, an HTTP POST, to read its limit. A load
    // still under way is abandoned.
    virtual void Post(const TAccountRequest& request) = 0;
    // The page is shown in View() (information mode) or not (settings mode, window hidden). A real
    // browser holds the page only while it is shown, loading the last posted request anew.
    virtual void SetShown(bool /*shown*/) { }

signals:
    // After every completed load, whatever its outcome: the text of the "value" of the element
    // "limitekbps" in the current document, or nothing when there is no such element or value, or
    // when the page could not be read at all (the helper failed, ended or ran out of time).
    void PageLoaded(const std::optional<QString>& limit);
};

// Makes the browser whose view goes into `parent`.
using TAccountBrowserFactory = std::function<std::unique_ptr<TAccountBrowser>(QWidget* parent)>;

namespace zv {

// The script that reads the limit: the element's value as text, null when there is none.
QString LimitScript();

// How the real browser runs its helper.
struct AccountHelperOptions {
    QString Executable; // empty: zoveva-account in the program folder, else beside the program file
    // A read that has not answered by then is killed and reads as no limit.
    std::chrono::milliseconds ReadTimeout { 60000 };
    // A helper asked to end (its input closed) that has not is killed.
    std::chrono::milliseconds EndTimeout { 5000 };
};

// The real browser: a panel named "WebBrowser1" in `parent`. Each Post runs the helper headless to
// read the page's limit; while shown, the helper shows the page in a window embedded in the panel
// (X11), or in a window of its own where nothing can be embedded. Its engine keeps everything in
// memory only (no cache, cookies or history on disk).
std::unique_ptr<TAccountBrowser> MakeWebAccountBrowser(
    QWidget* parent, const AccountHelperOptions& options = {});

} // namespace zv
