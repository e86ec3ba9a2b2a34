#include "displays/MMSpectr.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

TMMSpectrum::TMMSpectrum(QWidget* parent)
    : TMMSignalDisplay(parent, QStringLiteral("TMMSpectrum"), 5)
{
    m_core.NeedData = [this] {
        if (OnNeedData) {
            OnNeedData(this);
        }
    };
    m_core.GainOverflow = [this] {
        if (OnGainOverflow) {
            OnGainOverflow(this);
        }
    };
    m_core.PcmOverflow = [this] {
        if (OnPcmOverflow) {
            OnPcmOverflow(this);
        }
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
    if (enabled == m_core.Enabled()) {
        return;
    }
    if (!enabled) {
        EndInfoMode();
    }
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
    if (value == m_displayPeak) {
        return;
    }
    m_displayPeak = value;
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
        m_core.SetDrawBar([this, handler = std::move(handler)](TMMDIBCanvas& dib, const QRect& rect,
                              int spots, int peak) { handler(this, dib, rect, spots, peak); });
    } else {
        m_core.SetDrawBar(nullptr);
    }
    update();
}

void TMMSpectrum::SetOnClearBackground(TMMSpectrumClear handler)
{
    if (handler) {
        m_core.ClearBackground = [this, handler = std::move(handler)](
                                     TMMDIBCanvas& dib, const QRect& rect) { handler(this, dib, rect); };
    } else {
        m_core.ClearBackground = nullptr;
    }
    update();
}

void TMMSpectrum::SetOnGetXScale(TMMSpectrumGetXScale handler)
{
    if (handler) {
        m_core.SetGetXScale(
            [this, handler = std::move(handler)](int* first, int* end) { handler(this, first, end); });
    } else {
        m_core.SetGetXScale(nullptr);
    }
    m_core.DataReset();
    update();
}

// ---- size and layout -----------------------------------------------------------------------

void TMMSpectrum::SetPicture(qreal ratio, int width, int height)
{
    m_core.SetPixelRatio(ratio);
    m_core.SetArea(width, height);
}

// ---- data ----------------------------------------------------------------------------------

void TMMSpectrum::ProcessData(const void* data)
{
    if (!WantsData()) {
        return;
    }
    m_core.Analyse(data);
    // Blocks come hundreds of times a second and the screen shows one frame per refresh: the
    // bars and peaks move per block, the pixels only for the frame that is copied. A scrolling
    // picture takes a line per block, so it is drawn per block.
    if (m_core.Kind() == skScroll) {
        PaintDirect([this] { DrawFrame(false); });
    } else if (PaintDirectDeferred()) {
        m_core.AdvanceFrame();
    }
}

// ---- drawing -------------------------------------------------------------------------------

void TMMSpectrum::DrawFrame(bool full)
{
    TMMDIBDrawScope scope(DIB());
    m_core.DrawFrame(DIB(), full);
}

bool TMMSpectrum::RenderFrame(bool shown)
{
    if (shown && m_core.SameAsPainted()) {
        return false; // the window shows this picture already
    }
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
    if (m_displayPeak) {
        DrawPeakText(device);
    }
}

QString TMMSpectrum::PeakText() const
{
    const zv::SpectrumPeakInfo& peak = m_core.PeakInfo();
    if (peak.Value <= 5) {
        return {};
    }
    const double step = double(m_core.SampleRate()) / m_core.FFTLength();
    double hz;
    if (!m_core.LogFreq()) {
        hz = (peak.Bin + 0.5) * step;
    } else {
        hz = peak.Bin > 1 ? peak.Bin * step : (peak.Bin + 0.25) * step;
    }
    return QString::asprintf("%7.1f Hz", hz).trimmed();
}

void TMMSpectrum::DrawPeakText(QPainter& device)
{
    const QString text = PeakText();
    if (text.isEmpty()) {
        return;
    }
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

QList<TMMSignalDisplay::ScaleMark> TMMSpectrum::AmpMarks() const
{
    const int H = LogicalH();
    const QRect dr = m_drawRect;
    const bool logAmp = m_core.LogAmp();
    const double vs = m_core.VS();
    int n = logAmp ? 6 : 10;
    while (H / n < 10 && n > 1) {
        --n;
    }
    QList<ScaleMark> marks;
    for (int d = 0; d <= n; ++d) {
        if (logAmp) {
            const int db = -60 * d / n;
            marks.append({ dr.top() + int(double(d) * (H - 1) / n), QString::asprintf("%d", db),
                QString::asprintf("%2.d", db) });
        } else {
            const QString v = QString::asprintf(vs <= 0.095 ? "%5.3f" : "%4.2f", vs * d / n);
            marks.append({ dr.top() + H - int(d * vs * 32760.0 / n / (vs * 32768.0 / H)) - 1, v, v });
        }
    }
    return marks;
}

QList<TMMSignalDisplay::ScaleMark> TMMSpectrum::BottomMarks(int divisions) const
{
    const double SR = m_core.SampleRate();
    const double N = m_core.FFTLength();
    const double FS = m_core.FrequencyScale();
    const double low = m_core.LowFreq();
    const int W = LogicalW();
    QList<ScaleMark> marks;
    for (int k = 0; k <= divisions; ++k) {
        const int x = m_drawRect.left() + int(std::nearbyint(double(W - 1) * k / divisions));
        double hz = m_core.LogFreq() ? low * std::exp(k * std::log(N / 2.0) / (divisions * FS))
                                     : low + k * (SR / 2.0 - low) / divisions / FS;
        hz = std::max(hz, 0.0);
        marks.append({ x, QString::asprintf("%.0f", hz), {} });
    }
    return marks;
}

// ---- info mode -----------------------------------------------------------------------------

double TMMSpectrum::FrequencyAt(int x) const
{
    if (x < m_drawRect.left() || x > m_drawRect.right()) {
        return 0.0;
    }
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
    if (y < m_drawRect.top() || y > m_drawRect.bottom()) {
        return 0.0;
    }
    const double a = y - m_drawRect.top();
    const double H = LogicalH();
    if (m_core.LogAmp()) {
        return -60.0 * a / (H - 1);
    }
    return (H - 1 - a) / (H - 1) * double(m_core.VS());
}

QString TMMSpectrum::InfoText(QPoint p) const
{
    if (!m_drawRect.contains(p)) {
        return {};
    }
    QString text = QString::asprintf("%2.3f KHz", FrequencyAt(p.x()) / 1000.0);
    if (m_core.Kind() == skScroll) {
        return text;
    }
    if (m_core.LogAmp()) {
        return text + QString::asprintf(" %2.1f dB", ValueAt(p.y()));
    }
    return text + QString::asprintf(m_core.VerticalScale() < 10 ? " %5.3f V" : " %4.2f V", ValueAt(p.y()));
}
