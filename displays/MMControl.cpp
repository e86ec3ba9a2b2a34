#include "displays/MMControl.h"

#include "audio/MMConect.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

namespace {

std::atomic<TMMGraphicControl::Clock> gClock { nullptr };
constexpr std::int64_t kRefresh = std::int64_t { TMMGraphicControl::kDirectCopyInterval } * 1000; // us
// The connector's batch pump wakes at the start of each refresh, so the copies ride on its wake-up.
static_assert(kRefresh == TMMConnector::kBatchInterval);

} // namespace

// Brings coalesced data frames to their windows. One timer serves every control, so the controls
// that wait are copied together at the start of a display refresh. User-interface thread only;
// a child of the application, so it goes with it.
class TMMDirectCopies : public QObject {
public:
    static void Add(TMMGraphicControl* control)
    {
        if (!QCoreApplication::instance()) {
            return;
        }
        if (!instance) {
            instance = new TMMDirectCopies;
        }
        instance->m_pending.push_back(control);
        instance->Arm();
    }
    static void Remove(TMMGraphicControl* control)
    {
        if (!instance) {
            return;
        }
        auto& pending = instance->m_pending;
        pending.erase(std::remove(pending.begin(), pending.end(), control), pending.end());
        if (pending.empty()) {
            instance->m_timer.stop();
        }
        // A control that goes while its window's pass paints is left out of the rest of it.
        std::replace(instance->m_copies.begin(), instance->m_copies.end(), control,
            static_cast<TMMGraphicControl*>(nullptr));
    }

private:
    TMMDirectCopies()
        : QObject(QCoreApplication::instance())
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Fire(); });
    }

    // At once (after the current event) when a waiting control's last copy lies in an earlier
    // refresh, else at the start of the next refresh.
    void Arm()
    {
        if (m_pending.empty()) {
            m_timer.stop();
            return;
        }
        const std::int64_t now = TMMGraphicControl::Now();
        const std::int64_t refresh = now / kRefresh;
        const bool ready = std::any_of(m_pending.begin(), m_pending.end(),
            [refresh](const TMMGraphicControl* c) { return c->m_copyRefresh < refresh; });
        const std::int64_t wait = ready ? 0 : ((refresh + 1) * kRefresh - now + 999) / 1000;
        m_timer.start(
            static_cast<int>(std::clamp<std::int64_t>(wait, 0, TMMGraphicControl::kDirectCopyInterval)));
    }

    // Every copy is a paint pass of its window: a wait for the window system to finish the last
    // one, then the transfer. Controls of one window therefore share a pass: each but the last
    // marks its inner rectangle, and the last one's repaint paints them all.
    void Fire()
    {
        const std::int64_t refresh = TMMGraphicControl::Now() / kRefresh;
        m_due = m_pending;
        m_copies.clear();
        for (TMMGraphicControl* control : m_due) {
            if (control->m_copyRefresh < refresh && control->PrepareCopy()) { // leaves the list
                m_copies.push_back(control);
            }
        }
        for (std::size_t i = 0; i < m_copies.size(); ++i) {
            TMMGraphicControl* control = m_copies[i];
            if (!control) {
                continue;
            }
            control->m_copyRefresh = refresh;
            control->m_copying = true;
            const QWidget* window = control->window();
            const bool last = std::none_of(m_copies.begin() + std::ptrdiff_t(i) + 1, m_copies.end(),
                [window](const TMMGraphicControl* c) { return c && c->window() == window; });
            if (last) {
                control->repaint(control->GetInnerRect());
            } else {
                control->update(control->GetInnerRect());
            }
        }
        for (TMMGraphicControl* control : m_copies) {
            if (control) {
                control->m_copying = false;
            }
        }
        m_copies.clear();
        Arm();
    }

    static inline QPointer<TMMDirectCopies> instance;
    std::vector<TMMGraphicControl*> m_pending; // controls with a frame waiting, oldest first
    // Fire's lists, kept so a refresh allocates nothing.
    std::vector<TMMGraphicControl*> m_due;
    std::vector<TMMGraphicControl*> m_copies; // null: gone meanwhile
    QTimer m_timer;
};

TMMGraphicControl::TMMGraphicControl(QWidget* parent)
    : QWidget(parent)
{
    // The control paints its whole rectangle; nothing needs erasing behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_bevel.OnChange = [this](TMMObject*) { LayoutChanged(); };
}

TMMGraphicControl::~TMMGraphicControl()
{
    m_bevel.OnChange = nullptr;
    if (m_copyPending || m_copying) {
        TMMDirectCopies::Remove(this);
    }
}

void TMMGraphicControl::SetClock(Clock clock)
{
    gClock = clock;
}

std::int64_t TMMGraphicControl::Now()
{
    if (const Clock clock = gClock.load()) {
        return clock();
    }
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TMMGraphicControl::SetColor(TColor color)
{
    if (color == m_color) {
        return;
    }
    m_color = color;
    ColorChanged();
}

QRect TMMGraphicControl::GetInnerRect() const
{
    const int e = m_bevel.BevelExtent();
    return QRect(QPoint(e, e), QPoint(width() - 1 - e, height() - 1 - e));
}

void TMMGraphicControl::LayoutChanged()
{
    update();
}

void TMMGraphicControl::Paint(QPainter& canvas)
{
    const QRect inner = m_bevel.PaintBevel(canvas, rect(), true);
    if (inner.width() > 0 && inner.height() > 0) {
        canvas.fillRect(inner, zv::ColorToQColor(m_color));
    }
}

bool TMMGraphicControl::CanPaintDirect() const
{
    if (!isVisible() || !window()->windowHandle() || m_copying) {
        return false;
    }
    const QRect inner = GetInnerRect();
    return inner.width() > 0 && inner.height() > 0 && !visibleRegion().intersected(inner).isEmpty();
}

bool TMMGraphicControl::PaintDirect(const TDrawRoutine& draw, TDirectCopy copy)
{
    if (!CanPaintDirect()) {
        return false;
    }
    if (draw) {
        draw();
        m_frameStale = false; // drew the latest state
        m_lastFrameShown = false;
    }
    RequestCopy(copy);
    return true;
}

bool TMMGraphicControl::PaintDirectDeferred(TDirectCopy copy)
{
    // While a copy waits the control was seen a moment ago, and the copy looks again; the
    // visible region is too dear to work out for every block.
    if (!(m_copyPending && copy == TDirectCopy::Coalesced) && !CanPaintDirect()) {
        return false;
    }
    m_frameStale = true;
    if (copy == TDirectCopy::Now) {
        m_lastFrameShown = false; // a clearing copy goes out whatever the control answers
    }
    RequestCopy(copy);
    return true;
}

void TMMGraphicControl::RequestCopy(TDirectCopy copy)
{
    if (copy == TDirectCopy::Now) {
        m_copyPending = true;
        FlushDirect();
    } else if (!m_copyPending) {
        m_copyPending = true;
        TMMDirectCopies::Add(this);
    }
}

bool TMMGraphicControl::PrepareCopy()
{
    if (!m_copyPending) {
        return false;
    }
    m_copyPending = false;
    TMMDirectCopies::Remove(this);
    // A control hidden meanwhile is painted whole when it shows again.
    if (!CanPaintDirect()) {
        return false;
    }
    if (m_frameStale) {
        m_frameStale = false;
        if (!RenderFrame(m_lastFrameShown)) {
            return false;
        }
        m_lastFrameShown = false;
    }
    return true;
}

void TMMGraphicControl::FlushDirect()
{
    if (!PrepareCopy()) {
        return;
    }
    m_copyRefresh = Now() / kRefresh;
    m_copying = true;
    struct Copied {
        bool& copying;
        ~Copied() { copying = false; }
    } copied { m_copying };
    repaint(GetInnerRect());
}

void TMMGraphicControl::RenderStaleFrame()
{
    if (!m_frameStale) {
        return;
    }
    m_frameStale = false;
    if (RenderFrame(m_lastFrameShown)) {
        m_lastFrameShown = false;
    }
}

void TMMGraphicControl::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect inner = GetInnerRect();
    if (m_copying && inner.contains(event->rect())) {
        CopyFrame(painter);
        m_lastFrameShown = event->rect() == inner;
        return;
    }
    Paint(painter);
    m_frameStale = false; // a repaint draws the frame from the current state
    m_lastFrameShown = event->rect().contains(inner);
    if (m_copyPending && event->rect().contains(inner)) {
        // The repaint drew the latest frame already.
        m_copyPending = false;
        TMMDirectCopies::Remove(this);
    }
}

void TMMGraphicControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    BoundsChanged();
}

TMMCustomControl::TMMCustomControl(QWidget* parent)
    : TMMGraphicControl(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

TMMDIBGraphicControl::TMMDIBGraphicControl(QWidget* parent)
    : TMMGraphicControl(parent)
    , m_dib(QStringLiteral("TMMDIBGraphicControl"))
{
}

void TMMDIBGraphicControl::BoundsChanged()
{
    m_dib.SetSize(width(), height());
}

void TMMDIBGraphicControl::SetUseBackGroundDIB(bool use)
{
    use = use && !m_backGroundDIB.isNull();
    if (use == m_useBackGroundDIB) {
        return;
    }
    m_useBackGroundDIB = use;
    m_dib.SetPaletteRealize(use);
    m_dib.SetBackGroundBitmap(use ? m_backGroundDIB : QImage());
    update();
}

void TMMDIBGraphicControl::SetBackGroundDIB(const QImage& bitmap)
{
    m_backGroundDIB = bitmap;
    if (bitmap.isNull() && m_useBackGroundDIB) {
        SetUseBackGroundDIB(false);
        return;
    }
    m_dib.SetBackGroundBitmap(m_useBackGroundDIB ? bitmap : QImage());
    update();
}

void TMMDIBGraphicControl::DrawBackground()
{
    if (m_dib.HasBackground()) {
        m_dib.CopyBackground(0, 0, m_dib.Width(), m_dib.Height(), 0, 0);
    } else {
        m_dib.SetDrawColor(Color());
        m_dib.Clear();
    }
}
