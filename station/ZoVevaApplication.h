#pragma once

// The application object: every exception that escapes an event, timer or slot handler of the Qt event
// loop is caught at dispatch and handed to the error handler (the controller's AppException), so the
// step is abandoned and the program goes on.

#include <QApplication>
#include <exception>
#include <functional>

class TZoVevaApplication : public QApplication {
public:
    TZoVevaApplication(int& argc, char** argv);

    // Without a handler an escaped error is written to standard error.
    void SetErrorHandler(std::function<void(const std::exception&)> handler);

    bool notify(QObject* receiver, QEvent* event) override;

private:
    std::function<void(const std::exception&)> handler_;
};
