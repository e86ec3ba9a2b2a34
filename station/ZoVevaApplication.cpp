#include "station/ZoVevaApplication.h"

#include "platform/Exception.h"
#include "platform/ResStrings.h"

#include <cstdio>

TZoVevaApplication::TZoVevaApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

void TZoVevaApplication::SetErrorHandler(std::function<void(const std::exception&)> handler)
{
    handler_ = std::move(handler);
}

bool TZoVevaApplication::notify(QObject* receiver, QEvent* event)
{
    const auto report = [this](const std::exception& error) {
        if (handler_) {
            handler_(error);
        } else {
            std::fprintf(stderr, "ZoVeva: unhandled error: %s\n", error.what());
        }
    };
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        report(error);
    } catch (...) {
        report(Exception(zv::LoadResString(zv::SUnknownError)));
    }
    return false;
}
