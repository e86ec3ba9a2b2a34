#pragma once

// What the display widget tests feed in: a stereo sine as the capture delivers it, and mouse clicks
// and drags sent straight to a widget.

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <cmath>
#include <cstdint>
#include <vector>

namespace zv::test {

// `frames` 16-bit stereo frames at 44100 Hz, left and right alike.
inline std::vector<std::int16_t> StereoSine(double hz, double amplitude, int frames)
{
    std::vector<std::int16_t> data(std::size_t(frames) * 2);
    for (int i = 0; i < frames; ++i)
        data[std::size_t(2 * i)] = data[std::size_t(2 * i + 1)]
            = std::int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * i / 44100.0)));
    return data;
}

// A press, move or release at `p`; a move changes no button, it only holds one.
inline void Mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held
        = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    const Qt::MouseButton changed = type == QEvent::MouseMove ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(p), w->mapToGlobal(QPointF(p)), changed, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace zv::test
