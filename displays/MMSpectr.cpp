#include "displays/MMSpectr.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace {

constexpr int AmpStrip = 32; // width of each amplitude scale
constexpr int FreqStrip = 40; // height of the frequency scale

QColor ToQColor(TColor color)
{
    return zv::ColorToQColor(color);
}

} // namespace

TMMSpectrum::TMMSpectrum(QWidget* parent)
    : TMMDIBGraphicControl(parent)
    , m_infoBox(QStringLiteral("TMMSpectrum"))
{
    DIB().SetOwnerClassName(QStringLiteral("TMMSpectrum"));
    TMMGraphicControl::SetColor(clBlack);
    setCursor(::Qt::CrossCursor);
    m_core.NeedData = [this] {
        if (OnNeedData)
            OnNeedData(this);
    };
    m_core.GainOverflow = [this] {
        if (OnGainOverflow)
            OnGainOverflow(this);
    };
    m_core.PcmOverflow = [this] {
        if (OnPcmOverflow)
            OnPcmOverflow(this);
    };
    resize(194, 89);
    Layout();
}

TMMSpectrum::~TMMSpectrum() = default;

// ---- properties ----------------------------------------------------------------------------

void TMMSpectrum::SetKind(TMMSpectrumKind kind)
{
    Repaint(m_core.SetKind(kind));
}

void TMMSpectrum::SetEnabled(bool enabled)
{
    if (enabled == m_core.Enabled())
        return;
    if (!enabled)
        EndInfoMode();
    m_core.SetEnabled(enabled);
    update();
}

void TMMSpectrum::SetColor(TColor color)
{
    TMMGraphicControl::SetColor(color);
    Repaint(m_core.SetBackColor(color));
}

void TMMSpectrum::SetDisplayPeak(bool value)
{
    if (value == m_displayPeak)
        return;
    m_displayPeak = value;
    update();
}

void TMMSpectrum::SetDrawFreqScale(bool value)
{
    if (value == m_drawFreqScale)
        return;
    m_drawFreqScale = value;
    UpdateMinimumSize();
    Layout();
    update();
}

void TMMSpectrum::SetDrawAmpScale(bool value)
{
    if (value == m_drawAmpScale)
        return;
    m_drawAmpScale = value;
    UpdateMinimumSize();
    Layout();
    update();
}

void TMMSpectrum::SetBitsPerPixel(int bits)
{
    DIB().SetBitsPerPixel(bits);
    m_core.InactiveImage().SetBitsPerPixel(bits);
    m_infoBox.SetBitsPerPixel(bits);
    m_core.RebuildInactive();
    update();
}

void TMMSpectrum::SetOnDrawBar(TMMSpectrumDrawBar handler)
{
    if (handler) {
        m_core.SetDrawBar([this, handler](TMMDIBCanvas& dib, const QRect& rect, int spots, int peak) {
            handler(this, dib, rect, spots, peak);
        });
    } else {
        m_core.SetDrawBar(nullptr);
    }
    update();
}

void TMMSpectrum::SetOnClearBackground(TMMSpectrumClear handler)
{
    if (handler)
        m_core.ClearBackground
            = [this, handler](TMMDIBCanvas& dib, const QRect& rect) { handler(this, dib, rect); };
    else
        m_core.ClearBackground = nullptr;
    update();
}

void TMMSpectrum::SetOnGetXScale(TMMSpectrumGetXScale handler)
{
    if (handler)
        m_core.SetGetXScale([this, handler](int* first, int* end) { handler(this, first, end); });
    else
        m_core.SetGetXScale(nullptr);
    m_core.DataReset();
    update();
}

// ---- size and layout -----------------------------------------------------------------------

void TMMSpectrum::UpdateMinimumSize()
{
    const int e = Bevel().BevelExtent();
    setMinimumSize(2 * e + (m_drawAmpScale ? 69 : 5), 2 * e + (m_drawFreqScale ? 45 : 5));
}

void TMMSpectrum::SetBounds(int left, int top, int width, int height)
{
    UpdateMinimumSize();
    setGeometry(left, top, std::max(width, minimumWidth()), std::max(height, minimumHeight()));
    Layout();
}

void TMMSpectrum::BoundsChanged()
{
    Layout();
}

void TMMSpectrum::LayoutChanged()
{
    UpdateMinimumSize();
    Layout();
    TMMDIBGraphicControl::LayoutChanged();
}

void TMMSpectrum::Layout()
{
    QRect r(0, 0, width(), height());
    if (m_drawAmpScale)
        r.adjust(AmpStrip, 0, -AmpStrip, 0);
    if (m_drawFreqScale)
        r.adjust(0, 0, 0, -FreqStrip);
    const int e = Bevel().BevelExtent();
    r.adjust(e, e, -e, -e);
    m_drawRect = r;
    EndInfoMode();
    m_ratio = devicePixelRatioF();
    DIB().SetDevicePixelRatio(m_ratio);
    m_core.SetPixelRatio(m_ratio);
    m_core.SetArea(zv::DevicePixels(r.width(), m_ratio), zv::DevicePixels(r.height(), m_ratio));
    DIB().SetSize(m_core.W(), m_core.H());
    m_infoBox.SetSize(m_core.W(), m_core.H());
}

// ---- data ----------------------------------------------------------------------------------

void TMMSpectrum::ProcessData(const void* data)
{
    if (!m_core.Enabled() || !isVisible() || m_info)
        return;
    m_core.Analyse(data);
    // Blocks come hundreds of times a second and the screen shows one frame per refresh: the
    // bars and peaks move per block, the pixels only for the frame that is copied. A scrolling
    // picture takes a line per block, so it is drawn per block.
    if (m_core.Kind() == skScroll)
        PaintDirect([this] { DrawFrame(false); });
    else if (PaintDirectDeferred())
        m_core.AdvanceFrame();
}

void TMMSpectrum::ResetData()
{
    EndInfoMode();
    m_core.DataReset();
    if (!PaintDirect([this] { DrawFrame(true); }, TDirectCopy::Now))
        update();
}

// ---- drawing -------------------------------------------------------------------------------

void TMMSpectrum::DrawFrame(bool full)
{
    TMMDIBDrawScope scope(DIB());
    m_core.DrawFrame(DIB(), full);
}

bool TMMSpectrum::RenderFrame(bool shown)
{
    if (shown && m_core.SameAsPainted())
        return false; // the window shows this picture already
    TMMDIBDrawScope scope(DIB());
    // A kind changed to scrolling meanwhile starts its picture afresh.
    m_core.PaintFrame(DIB(), m_core.Kind() == skScroll);
    return true;
}

void TMMSpectrum::CopyFrame(QPainter& device)
{
    {
        TMMDIBDrawScope scope(DIB());
        DIB().CopyToDevice(device, m_drawRect, 0, 0);
    }
    if (m_displayPeak)
        DrawPeakText(device);
}

void TMMSpectrum::Paint(QPainter& canvas)
{
    // Moved to a screen of another scale: lay the picture out in its device pixels.
    if (devicePixelRatioF() != m_ratio)
        Layout();
    if (m_drawFreqScale || m_drawAmpScale)
        DrawScales(canvas);
    Bevel().PaintBevel(canvas, rect(), true);
    if (m_info) {
        // The frozen picture stays; only the box is put back on top of it.
        CopyFrame(canvas);
        return;
    }
    DrawFrame(true);
    CopyFrame(canvas);
}

QString TMMSpectrum::PeakText() const
{
    const zv::SpectrumPeakInfo& peak = m_core.PeakInfo();
    if (peak.Value <= 5)
        return {};
    const double step = double(m_core.SampleRate()) / m_core.FFTLength();
    double hz;
    if (!m_core.LogFreq())
        hz = (peak.Bin + 0.5) * step;
    else
        hz = peak.Bin > 1 ? peak.Bin * step : (peak.Bin + 0.25) * step;
    return QString::asprintf("%7.1f Hz", hz).trimmed();
}

void TMMSpectrum::DrawPeakText(QPainter& device)
{
    const QString text = PeakText();
    if (text.isEmpty())
        return;
    const QFont font = zv::MakeFont(QStringLiteral("MS Sans Serif"), 8, true);
    const QFontMetrics metrics(font);
    const int W = LogicalW(), H = LogicalH();
    const int base = m_core.Kind() == skScroll ? H - H / 3 : 1;
    const int textWidth = metrics.horizontalAdvance(text);
    const zv::SpectrumPeakInfo& peak = m_core.PeakInfo();
    const int peakColumn = m_ratio == 1.0 ? peak.Column : qRound(peak.Column / m_ratio);
    const int peakValue = m_ratio == 1.0 ? peak.Value : qRound(peak.Value / m_ratio);
    const int column = std::max(std::min(peakColumn, W - 1 - textWidth), 0);
    const int x = m_drawRect.left() + column;
    const int y = m_drawRect.top() + std::max(H - peakValue - base - metrics.height(), 0);
    device.save();
    device.setClipRect(m_drawRect);
    device.setFont(font);
    device.setPen(::Qt::white);
    device.drawText(x, y + metrics.ascent(), text);
    device.restore();
}

void TMMSpectrum::DrawScales(QPainter& p)
{
    const QColor back = parentWidget() ? parentWidget()->palette().color(QPalette::Window)
                                       : palette().color(QPalette::Window);
    const int cw = width(), ch = height();
    const int W = LogicalW(), H = LogicalH();
    const QRect dr = m_drawRect;
    const QColor text = ToQColor(ScaleTextColor()), line = ToQColor(ScaleLineColor());
    QFont font = zv::MakePixelFont(QStringLiteral("ARIAL"), 10);
    // The substitute faces run wider than the original; the narrow cut keeps signed labels whole.
    font.setStretch(QFont::Condensed);
    const QFontMetrics metrics(font);
    p.save();
    p.setFont(font);
    const int ampBottom = m_drawFreqScale ? ch - FreqStrip : ch;
    if (m_drawAmpScale) {
        p.fillRect(0, 0, AmpStrip, ch, back);
        p.fillRect(cw - AmpStrip, 0, AmpStrip, ch, back);
    }
    if (m_drawFreqScale)
        p.fillRect(0, ch - FreqStrip, cw, FreqStrip, back);

    if (m_drawAmpScale) {
        const bool logAmp = m_core.LogAmp();
        const double vs = m_core.VS();
        int n = logAmp ? 6 : 10;
        while (H / n < 10 && n > 1)
            --n;
        const int leftLine = AmpStrip - 4, rightLine = cw - AmpStrip + 3;
        p.setPen(line);
        p.drawLine(leftLine, dr.top(), leftLine, std::min(dr.bottom(), ampBottom - 1));
        p.drawLine(rightLine, dr.top(), rightLine, std::min(dr.bottom(), ampBottom - 1));
        for (int d = 0; d <= n; ++d) {
            int y;
            QString left, right;
            if (logAmp) {
                y = dr.top() + int(double(d) * (H - 1) / n);
                const int db = -60 * d / n;
                left = QString::asprintf("%d", db);
                right = QString::asprintf("%2.d", db);
            } else {
                y = dr.top() + H - int(d * vs * 32760.0 / n / (vs * 32768.0 / H)) - 1;
                const double v = vs * d / n;
                left = right = QString::asprintf(vs <= 0.095 ? "%5.3f" : "%4.2f", v);
            }
            p.setPen(line);
            p.drawLine(leftLine - 3, y, leftLine, y);
            p.drawLine(rightLine, y, rightLine + 3, y);
            p.setPen(text);
            const int ty = std::clamp(y - metrics.height() / 2, 0, std::max(ampBottom - metrics.height(), 0));
            p.drawText(
                QRect(0, ty, leftLine - 4, metrics.height()), ::Qt::AlignRight | ::Qt::AlignVCenter, left);
            p.drawText(QRect(rightLine + 5, ty, cw - rightLine - 5, metrics.height()),
                ::Qt::AlignLeft | ::Qt::AlignVCenter, right);
        }
    }

    if (m_drawFreqScale) {
        const double SR = m_core.SampleRate();
        const double N = m_core.FFTLength();
        const double FS = m_core.FrequencyScale();
        const double low = m_core.LowFreq();
        int d = 32;
        while (W / d < 10 && d > 1)
            d /= 2;
        const int y0 = ch - FreqStrip + 3;
        p.setPen(line);
        p.drawLine(dr.left(), y0, dr.left() + W - 1, y0);
        for (int k = 0; k <= d; ++k) {
            const int x = dr.left() + int(std::nearbyint(double(W - 1) * k / d));
            double hz = m_core.LogFreq() ? low * std::exp(k * std::log(N / 2.0) / (d * FS))
                                         : low + k * (SR / 2.0 - low) / d / FS;
            hz = std::max(hz, 0.0);
            const QString label = QString::asprintf("%.0f", hz);
            p.setPen(line);
            p.drawLine(x, y0, x, y0 + 3);
            p.setPen(text);
            p.save();
            // Turned by 90 degrees, reading upwards, ending just below the tick.
            p.translate(
                x + (metrics.ascent() - metrics.descent()) / 2, y0 + 5 + metrics.horizontalAdvance(label));
            p.rotate(-90);
            p.drawText(0, 0, label);
            p.restore();
        }
    }

    if (m_drawAmpScale && m_drawFreqScale) {
        p.setPen(text);
        const QString unit = m_core.LogAmp() ? QStringLiteral("db") : QStringLiteral("V");
        const int y = ch - 2 * metrics.height() - 2;
        p.drawText(QRect(0, y + metrics.height(), AmpStrip - 4, metrics.height()), ::Qt::AlignRight, unit);
        p.drawText(QRect(cw - AmpStrip + 4, y, AmpStrip - 4, metrics.height()), ::Qt::AlignLeft, unit);
        p.drawText(QRect(cw - AmpStrip + 4, y + metrics.height(), AmpStrip - 4, metrics.height()),
            ::Qt::AlignLeft, QStringLiteral("Hz"));
    }
    p.restore();
}

// ---- info mode -----------------------------------------------------------------------------

double TMMSpectrum::FrequencyAt(int x) const
{
    if (x < m_drawRect.left() || x > m_drawRect.right())
        return 0.0;
    const double b = x - m_drawRect.left();
    const double W = LogicalW();
    const double N = m_core.FFTLength();
    const double SR = m_core.SampleRate();
    const double FS = m_core.FrequencyScale();
    const double low = m_core.LowFreq();
    double hz = m_core.LogFreq() ? low * std::exp(b * std::log(N / 2.0) / ((W - 1) * FS))
                                 : low + b * (SR / 2.0 - low) / (W - 1) / FS;
    return std::max(hz, 0.0);
}

double TMMSpectrum::ValueAt(int y) const
{
    if (y < m_drawRect.top() || y > m_drawRect.bottom())
        return 0.0;
    const double a = y - m_drawRect.top();
    const double H = LogicalH();
    if (m_core.LogAmp())
        return -60.0 * a / (H - 1);
    return (H - 1 - a) / (H - 1) * double(m_core.VS());
}

QString TMMSpectrum::InfoText(QPoint p) const
{
    if (!m_drawRect.contains(p))
        return {};
    QString text = QString::asprintf("%2.3f KHz", FrequencyAt(p.x()) / 1000.0);
    if (m_core.Kind() == skScroll)
        return text;
    if (m_core.LogAmp())
        return text + QString::asprintf(" %2.1f dB", ValueAt(p.y()));
    return text + QString::asprintf(m_core.VerticalScale() < 10 ? " %5.3f V" : " %4.2f V", ValueAt(p.y()));
}

void TMMSpectrum::DrawInfoBox(QPoint p)
{
    const int e = Bevel().BevelExtent();
    const QPoint at(p.x() - e - (m_drawAmpScale ? AmpStrip : 0), p.y() - e);
    m_infoBox.Show(DIB(), m_ratio == 1.0 ? at : (QPointF(at) * m_ratio).toPoint(), InfoText(p));
}

void TMMSpectrum::EndInfoMode()
{
    if (!m_info)
        return;
    if (m_core.Enabled()) {
        DrawInfoBox(QPoint(-1, -1));
        PaintDirect(nullptr);
    }
    m_infoBox.Forget();
    m_info = false;
    m_core.SetFrozen(false);
    m_showHint = m_savedShowHint;
}

void TMMSpectrum::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == ::Qt::LeftButton && m_showInfo && m_core.Enabled() && !m_info) {
        m_info = true;
        m_core.SetFrozen(true);
        QToolTip::hideText();
        m_savedShowHint = m_showHint;
        m_showHint = false;
        RenderStaleFrame(); // the box goes onto the last frame
        DrawInfoBox(event->position().toPoint());
        PaintDirect(nullptr);
    }
    TMMDIBGraphicControl::mousePressEvent(event);
}

void TMMSpectrum::mouseMoveEvent(QMouseEvent* event)
{
    if (m_info) {
        DrawInfoBox(event->position().toPoint());
        PaintDirect(nullptr);
    }
    TMMDIBGraphicControl::mouseMoveEvent(event);
}

void TMMSpectrum::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == ::Qt::LeftButton)
        EndInfoMode();
    TMMDIBGraphicControl::mouseReleaseEvent(event);
}

bool TMMSpectrum::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && !m_showHint) {
        event->ignore();
        return true;
    }
    return TMMDIBGraphicControl::event(event);
}
