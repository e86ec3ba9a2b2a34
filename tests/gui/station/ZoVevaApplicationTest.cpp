#include "station/ZoVevaApplication.h"

#include "platform/Exception.h"
#include "tests/support/Wait.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

ZV_DECLARE_EXCEPTION(ESampleError, Exception);

class Throwing : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) {
            throw ESampleError("from an event");
        }
        return QObject::event(e);
    }
};

} // namespace

TEST(ZoVevaApplication, ErrorsOfEventsAndTimersReachTheHandlerAndTheLoopGoesOn)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "zoveva-gui-station";
    char* argv[] = { name, nullptr };
    TZoVevaApplication app(argc, argv);
    std::vector<std::string> caught;
    app.SetErrorHandler([&](const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        caught.push_back(std::string(own ? own->ClassName() : "?") + ": " + e.what());
    });

    Throwing target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(caught, std::vector<std::string> { "ESampleError: from an event" });

    // A timer whose handler fails every time keeps firing.
    QTimer timer;
    int fired = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++fired;
        throw ESampleError("from a timer");
    });
    timer.start(1);
    zv::test::PumpUntil([&] { return fired >= 3; });
    timer.stop();
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(caught.size(), 4u);
    EXPECT_EQ(caught.back(), "ESampleError: from a timer");
}
