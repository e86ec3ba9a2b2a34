#include "displays/MMControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPainter>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A display whose frame is a green fill; it counts the copies of its frame to the window.
struct Probe : TMMGraphicControl {
    using TMMGraphicControl::TMMGraphicControl;
    int copies = 0;

protected:
    void CopyFrame(QPainter& device) override
    {
        device.fillRect(GetInnerRect(), Qt::green);
        ++copies;
    }
};

// Notes, for every update request a window gets, how many of the given displays were copied by then.
struct UpdateRequests : QObject {
    std::vector<const Probe*> probes;
    std::vector<int> copiedAtRequest;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::UpdateRequest) {
            int copied = 0;
            for (const Probe* p : probes)
                copied += p->copies;
            copiedAtRequest.push_back(copied);
        }
        return false;
    }
};

void PumpWhile(const std::function<bool()>& busy)
{
    QElapsedTimer clock;
    clock.start();
    while (busy() && clock.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Each paint pass of a window waits for the window system to finish the last one: the displays of
// one window that have a frame waiting share one pass per refresh, a display of another window
// gets its own, and each shows its frame once.
TEST(DirectCopies, DisplaysOfOneWindowShareItsPaintPass)
{
    QWidget window;
    window.resize(100, 40);
    auto* a = new Probe(&window);
    a->setGeometry(0, 0, 50, 40);
    auto* b = new Probe(&window);
    b->setGeometry(50, 0, 50, 40);
    QWidget other;
    other.resize(50, 40);
    auto* c = new Probe(&other);
    c->setGeometry(0, 0, 50, 40);
    window.show();
    other.show();
    QApplication::processEvents();
    UpdateRequests requests;
    requests.probes = { a, b };
    window.installEventFilter(&requests);

    for (Probe* p : { a, b, c })
        ASSERT_TRUE(p->PaintDirectDeferred());
    PumpWhile([&] { return a->DirectCopyPending() || b->DirectCopyPending() || c->DirectCopyPending(); });
    QApplication::processEvents();

    EXPECT_EQ(a->copies, 1);
    EXPECT_EQ(b->copies, 1);
    EXPECT_EQ(c->copies, 1);
    for (const int copied : requests.copiedAtRequest)
        EXPECT_NE(copied, 1) << "a pass between the two copies";
    window.removeEventFilter(&requests);
}

// A display destroyed while it waits leaves the others' copies to go out.
TEST(DirectCopies, ADisplayGoneMeanwhileIsLeftOut)
{
    QWidget window;
    window.resize(100, 40);
    auto* a = new Probe(&window);
    a->setGeometry(0, 0, 50, 40);
    auto* b = new Probe(&window);
    b->setGeometry(50, 0, 50, 40);
    window.show();
    QApplication::processEvents();
    a->PaintDirectDeferred();
    b->PaintDirectDeferred();
    delete a;
    PumpWhile([&] { return b->DirectCopyPending(); });
    EXPECT_EQ(b->copies, 1);
}

} // namespace
