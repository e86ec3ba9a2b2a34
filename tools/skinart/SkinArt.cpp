// The program's pictures, drawn from code so that anyone can change the look and rebuild them.
// Every picture is deterministic: no fonts, no clock, no random source other than a fixed hash.
#include "tools/skinart/SkinArt.h"

#include "skin/SkFaceTable.h"
#include "skin/SkWindowData.h"
#include "skin/skcont.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace zv::art {

namespace {

// The see-through colour of every skin and face.
constexpr QRgb kNavy = qRgb(0, 0, 128);
// Partly covered edge pixels of faces are flattened onto this colour: the faces sit on sockets and
// panels of about this shade, so their edges blend in instead of turning bluish.
constexpr QRgb kSocket = qRgb(12, 13, 15);

// Palette of the dark studio look.
const QColor kBodyTop(50, 54, 61);
const QColor kBodyBottom(24, 26, 30);
const QColor kRimLight(112, 119, 130);
const QColor kRimDark(6, 7, 8);
const QColor kSymbol(214, 219, 227);
const QColor kSymbolLit(255, 180, 64);
const QColor kQuit(240, 84, 70);
const QColor kQuitLit(255, 128, 104);
const QColor kOnAir(255, 59, 48);

// The main window places its skin 2 pixels in from its corner; its controls' places are given in
// window coordinates.
constexpr QPointF kSkinOffset(2, 2);

QImage Canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

quint32 Hash(quint32 x, quint32 y)
{
    quint32 h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

QRgb NotNavy(QRgb c)
{
    // A kept pixel of exactly the key colour would turn see-through.
    return SameColor(c, kNavy) ? qRgb(0, 0, 127) : c;
}

// Pixels with coverage above `threshold` (0-255) are flattened onto `under`; the rest become navy.
QImage Flatten(const QImage& art, QRgb under, int threshold)
{
    QImage out(art.size(), QImage::Format_RGB32);
    for (int y = 0; y < art.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(art.constScanLine(y));
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < art.width(); ++x) {
            const QRgb p = in[x]; // premultiplied
            const int a = qAlpha(p);
            if (a <= threshold) {
                o[x] = kNavy;
                continue;
            }
            auto mix = [&](int pm, int u) { return (pm * 255 + u * (255 - a) + 127) / 255; };
            o[x] = NotNavy(
                qRgb(mix(qRed(p), qRed(under)), mix(qGreen(p), qGreen(under)), mix(qBlue(p), qBlue(under))));
        }
    }
    return out;
}

// The art where the (aliased) silhouette covers it, navy elsewhere: the skin's shape has hard edges.
QImage KeyBySilhouette(const QImage& art, const QPainterPath& silhouette)
{
    QImage mask(art.size(), QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillPath(silhouette, Qt::white);
    }
    QImage out(art.size(), QImage::Format_RGB32);
    for (int y = 0; y < art.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(art.constScanLine(y));
        const auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < art.width(); ++x) {
            o[x] = qAlpha(m[x]) ? NotNavy(in[x] | 0xFF000000u) : kNavy;
        }
    }
    // The shape's key is pixel (0, 0): it must be navy whatever the silhouette does.
    out.setPixel(0, 0, kNavy);
    return out;
}

// Fine horizontal grain, like brushed metal, on opaque pixels.
void Brush(QImage& art, const QPainterPath& area, int strength)
{
    QImage mask = Canvas(art.width(), art.height());
    {
        QPainter p(&mask);
        p.fillPath(area, Qt::white);
    }
    for (int y = 0; y < art.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(art.scanLine(y));
        const auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        const int line = int(Hash(7, quint32(y)) % quint32(2 * strength + 1)) - strength;
        for (int x = 0; x < art.width(); ++x) {
            if (qAlpha(m[x]) < 255 || qAlpha(row[x]) < 255) {
                continue;
            }
            const int d = line + int(Hash(quint32(x), quint32(y)) % 3) - 1;
            auto c = [&](int v) { return std::clamp(v + d, 0, 255); };
            row[x] = qRgb(c(qRed(row[x])), c(qGreen(row[x])), c(qBlue(row[x])));
        }
    }
}

QPen Pen(const QColor& c, qreal w, Qt::PenCapStyle cap = Qt::RoundCap)
{
    return QPen(c, w, Qt::SolidLine, cap, Qt::RoundJoin);
}

// A recessed round socket that a button's face sits in.
void DrawSocket(QPainter& p, QPointF c, qreal r)
{
    QRadialGradient g(c + QPointF(-r * 0.3, -r * 0.35), r * 1.3);
    g.setColorAt(0, QColor(22, 24, 28));
    g.setColorAt(1, QColor(kSocket));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    QLinearGradient rim(c - QPointF(r, r), c + QPointF(r, r));
    rim.setColorAt(0, kRimDark);
    rim.setColorAt(1, kRimLight);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 1.5));
    p.drawEllipse(c, r + 0.5, r + 0.5);
}

void DrawScrew(QPainter& p, QPointF c)
{
    QRadialGradient g(c + QPointF(-1, -1), 4.5);
    g.setColorAt(0, QColor(150, 156, 166));
    g.setColorAt(1, QColor(52, 56, 63));
    p.setPen(Pen(kRimDark, 1));
    p.setBrush(g);
    p.drawEllipse(c, 3.6, 3.6);
    p.setPen(Pen(QColor(30, 32, 36), 1.2));
    p.drawLine(c + QPointF(-2.2, 1.2), c + QPointF(2.2, -1.2));
}

// A sunken frame around a window of the skin (display, status line, panels).
void DrawBezel(QPainter& p, const QRectF& outer, qreal radius, const QRectF& inner, qreal innerRadius)
{
    QLinearGradient g(outer.topLeft(), outer.bottomRight());
    g.setColorAt(0, QColor(14, 15, 17));
    g.setColorAt(1, QColor(70, 75, 84));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(outer, radius, radius);
    p.setBrush(QColor(8, 9, 10));
    p.drawRoundedRect(outer.adjusted(2, 2, -2, -2), radius - 2, radius - 2);
    p.setBrush(Qt::black);
    p.drawRoundedRect(inner, innerRadius, innerRadius);
}

// Vent slots: rows of rounded grooves.
void DrawSlots(QPainter& p, const QRectF& area, int rows)
{
    const qreal step = area.height() / rows;
    for (int i = 0; i < rows; ++i) {
        const QRectF slot(area.left(), area.top() + i * step, area.width(), 3.4);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 96, 106, 120));
        p.drawRoundedRect(slot.translated(0, 1), 1.7, 1.7);
        p.setBrush(QColor(6, 7, 8));
        p.drawRoundedRect(slot, 1.7, 1.7);
    }
}

// ------------------------------------------------------------------------------------------------
// Symbols of the buttons, drawn around a centre, in about a 12-pixel box.

void SymbolMinimise(QPainter& p, QPointF c, const QColor& col)
{
    p.setPen(Pen(col, 2.4));
    p.drawLine(c + QPointF(-4.5, 3.5), c + QPointF(4.5, 3.5));
}

void SymbolHide(QPainter& p, QPointF c, const QColor& col)
{
    // Down into the tray: a chevron over a tray line.
    p.setPen(Pen(col, 2.0));
    p.drawPolyline(QPolygonF({ c + QPointF(-4, -4), c + QPointF(0, 0), c + QPointF(4, -4) }));
    p.drawPolyline(
        QPolygonF({ c + QPointF(-5, 1.5), c + QPointF(-5, 4.5), c + QPointF(5, 4.5), c + QPointF(5, 1.5) }));
}

void SymbolQuit(QPainter& p, QPointF c, const QColor& col)
{
    // The power sign.
    p.setPen(Pen(col, 2.2));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - 5, c.y() - 4.5, 10, 10);
    p.drawArc(ring, 120 * 16, 300 * 16);
    p.drawLine(c + QPointF(0, -6), c + QPointF(0, 0));
}

void SymbolSettings(QPainter& p, QPointF c, const QColor& col)
{
    // A gear: eight teeth around a ring.
    QPainterPath gear;
    constexpr int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a0 = (i - 0.5) * M_PI / teeth, a1 = (i + 0.5) * M_PI / teeth;
        const qreal r = (i % 2 == 0) ? 6.2 : 4.6;
        const QPointF q0 = c + QPointF(r * std::cos(a0), r * std::sin(a0));
        const QPointF q1 = c + QPointF(r * std::cos(a1), r * std::sin(a1));
        if (i == 0) {
            gear.moveTo(q0);
        } else {
            gear.lineTo(q0);
        }
        gear.lineTo(q1);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, 2.0, 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    p.drawPath(gear.subtracted(hole));
}

void SymbolDisplay(QPainter& p, QPointF c, const QColor& col)
{
    // Level bars of a spectrum.
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    const qreal heights[] = { 5, 9, 7, 11 };
    for (int i = 0; i < 4; ++i) {
        const qreal x = c.x() - 5.5 + i * 3;
        p.drawRect(QRectF(x, c.y() + 5.5 - heights[i], 2, heights[i]));
    }
}

void SymbolInfo(QPainter& p, QPointF c, const QColor& col)
{
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    p.drawEllipse(c + QPointF(0, -4.6), 1.5, 1.5);
    p.drawRect(QRectF(c.x() - 1.1, c.y() - 1.6, 2.2, 7));
    p.drawRect(QRectF(c.x() - 2.8, c.y() - 1.6, 2.2, 1.5));
    p.drawRect(QRectF(c.x() - 2.8, c.y() + 4.1, 5.6, 1.5));
}

void SymbolSave(QPainter& p, QPointF c, const QColor&)
{
    p.setPen(Pen(QColor(98, 214, 110), 2.6));
    p.drawPolyline(QPolygonF({ c + QPointF(-5.5, 0), c + QPointF(-1.5, 4), c + QPointF(6, -4.5) }));
}

void SymbolClose(QPainter& p, QPointF c, const QColor& col)
{
    p.setPen(Pen(col, 2.4));
    p.drawLine(c + QPointF(-4.5, -4.5), c + QPointF(4.5, 4.5));
    p.drawLine(c + QPointF(4.5, -4.5), c + QPointF(-4.5, 4.5));
}

void SymbolMixer(QPainter& p, QPointF c, const QColor& col)
{
    // A microphone beside three faders: the recording mixer.
    p.setPen(Pen(col, 1.8));
    p.setBrush(Qt::NoBrush);
    const QPointF m = c + QPointF(-16, 0);
    p.drawRoundedRect(QRectF(m.x() - 2.8, m.y() - 7, 5.6, 9), 2.8, 2.8);
    p.drawArc(QRectF(m.x() - 5, m.y() - 4, 10, 9), 200 * 16, 140 * 16);
    p.drawLine(m + QPointF(0, 5), m + QPointF(0, 7.5));
    p.drawLine(m + QPointF(-3, 7.5), m + QPointF(3, 7.5));
    const qreal knobs[] = { 2, -3, 1 };
    for (int i = 0; i < 3; ++i) {
        const qreal x = c.x() + i * 7;
        p.setPen(Pen(col, 1.4));
        p.drawLine(QPointF(x, c.y() - 7), QPointF(x, c.y() + 7));
        p.setPen(Qt::NoPen);
        p.setBrush(col);
        p.drawRoundedRect(QRectF(x - 2.5, c.y() + knobs[i] - 1.5, 5, 3), 1, 1);
    }
}

using Symbol = void (*)(QPainter&, QPointF, const QColor&);

// A round button: 25 x 24 when up, 25 x 26 when pressed (the knob one and a half pixels lower, darker,
// its symbol lit).
QImage RoundFace(Symbol symbol, bool pressed, bool quit)
{
    const int h = pressed ? 26 : 24;
    QImage art = Canvas(25, h);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(12.5, pressed ? 13.0 : 11.5);
    const qreal r = 11;
    if (!pressed) {
        // Shadow on the socket below the raised knob.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 150));
        p.drawEllipse(c + QPointF(0, 1.2), r, r);
    }
    QLinearGradient body(c - QPointF(r, r), c + QPointF(r * 0.6, r));
    body.setColorAt(0, pressed ? QColor(30, 33, 38) : QColor(92, 98, 109));
    body.setColorAt(1, pressed ? QColor(46, 50, 57) : QColor(28, 31, 36));
    p.setPen(Pen(kRimDark, 1));
    p.setBrush(body);
    p.drawEllipse(c, r - 0.5, r - 0.5);
    // The cap of the knob.
    QRadialGradient cap(c + QPointF(-2.5, -3), r);
    cap.setColorAt(0, pressed ? QColor(44, 48, 55) : QColor(72, 77, 86));
    cap.setColorAt(1, pressed ? QColor(26, 28, 32) : QColor(38, 41, 47));
    p.setPen(Qt::NoPen);
    p.setBrush(cap);
    p.drawEllipse(c, r - 2.6, r - 2.6);
    const QColor col = quit ? (pressed ? kQuitLit : kQuit) : (pressed ? kSymbolLit : kSymbol);
    symbol(p, c, col);
    p.end();
    return Flatten(art, kSocket, 40);
}

// A wide button of the settings window: a rounded bar, w x 24 up and w x 26 pressed.
QImage WideFace(int w, Symbol symbol, const QColor& symbolColor, bool pressed)
{
    const int h = pressed ? 26 : 24;
    QImage art = Canvas(w, h);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal top = pressed ? 2.0 : 0.5;
    const QRectF bar(0.5, top, w - 1.0, 22.0);
    if (!pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 150));
        p.drawRoundedRect(bar.translated(0, 1.2), 11, 11);
    }
    QLinearGradient body(bar.topLeft(), bar.bottomLeft());
    body.setColorAt(0, pressed ? QColor(30, 33, 38) : QColor(86, 92, 103));
    body.setColorAt(1, pressed ? QColor(46, 50, 57) : QColor(30, 33, 38));
    p.setPen(Pen(kRimDark, 1));
    p.setBrush(body);
    p.drawRoundedRect(bar, 11, 11);
    p.setPen(Qt::NoPen);
    p.setBrush(pressed ? QColor(34, 37, 43) : QColor(52, 56, 64));
    p.drawRoundedRect(bar.adjusted(2.5, 2.5, -2.5, -2.5), 8.5, 8.5);
    symbol(p, bar.center(), pressed ? symbolColor.lighter(125) : symbolColor);
    p.end();
    return Flatten(art, kSocket, 40);
}

// ------------------------------------------------------------------------------------------------
// Buttons and their faces.

struct RoundButton {
    const char* Name;
    QPointF Place; // window coordinates
    Symbol Draw;
    bool Quit;
};

const RoundButton kRoundButtons[] = {
    { "BMinimizar", { 277, 70 }, SymbolMinimise, false },
    { "BConfig", { 8, 215 }, SymbolSettings, false },
    { "BOcultar", { 288, 92 }, SymbolHide, false },
    { "BFechar", { 295, 116 }, SymbolQuit, true },
    { "BEqualizer", { 20, 236 }, SymbolDisplay, false },
    { "BInfo", { 36, 255 }, SymbolInfo, false },
};

// Where a round button's knob centre lies on the main skin.
QPointF KnobCentre(const RoundButton& b)
{
    return b.Place - kSkinOffset + QPointF(12.5, 11.5);
}

void FillFaceList(TSkBitmapList& list)
{
    const std::uint16_t idents[18] = { 0, 1, 2, 3, 4, 11, 6, 9, 8, 8, 10, 10, 12, 13, 14, 15, 16, 17 };
    const char* what[6] = { "minimise", "settings", "hide", "quit", "display", "information" };
    int n = 0;
    auto add = [&](QImage face, const QByteArray& description) {
        TSkBitmapListItem item;
        item.Bitmap = std::move(face);
        item.Ident = idents[n++];
        item.Description = description;
        list.Add(std::move(item));
    };
    for (int i = 0; i < 6; ++i) {
        const RoundButton& b = kRoundButtons[i];
        add(RoundFace(b.Draw, false, b.Quit), QByteArray(what[i]) + ", up");
        add(RoundFace(b.Draw, true, b.Quit), QByteArray(what[i]) + ", pressed");
    }
    add(WideFace(74, SymbolSave, kSymbol, false), "save, up");
    add(WideFace(74, SymbolSave, kSymbol, true), "save, pressed");
    add(WideFace(74, SymbolClose, kQuit, false), "close, up");
    add(WideFace(74, SymbolClose, kQuit, true), "close, pressed");
    add(WideFace(156, SymbolMixer, kSymbol, false), "sound settings, up");
    add(WideFace(156, SymbolMixer, kSymbolLit, true), "sound settings, pressed");
}

// A button's stored faces: `up` for states 0-3, `down` for 4-8, unless `downStates` says otherwise.
SkStoredObject StoredButton(
    const char* name, int up, int down, std::initializer_list<int> downStates = { 4, 5, 6, 7, 8 })
{
    TSkFaceTable table {};
    for (int s = 0; s < 9; ++s) {
        table[std::size_t(s)].ListIndex = up;
    }
    for (int s : downStates) {
        table[std::size_t(s)].ListIndex = down;
    }
    return { name, "TSkMMButton", WriteStoredFaces(table, kNavy), {} };
}

// ------------------------------------------------------------------------------------------------
// The main window's skin, 325 x 318.

QPainterPath MainSilhouette()
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(18, 9, 283, 298), 38, 38);
    // Two ears as wide as the button sockets: the right one carries minimise, hide and quit, the left
    // one settings, display and information.
    QPainterPathStroker ear;
    ear.setWidth(33);
    ear.setCapStyle(Qt::RoundCap);
    ear.setJoinStyle(Qt::RoundJoin);
    QPainterPath right;
    right.moveTo(264, 72);
    right.lineTo(KnobCentre(kRoundButtons[0]));
    right.quadTo(KnobCentre(kRoundButtons[2]) + QPointF(2, -4), KnobCentre(kRoundButtons[2]));
    right.quadTo(KnobCentre(kRoundButtons[3]) + QPointF(0, -8), KnobCentre(kRoundButtons[3]));
    right.lineTo(286, 146);
    QPainterPath left;
    left.moveTo(34, 204);
    left.lineTo(KnobCentre(kRoundButtons[1]));
    left.quadTo(KnobCentre(kRoundButtons[4]) + QPointF(-4, -4), KnobCentre(kRoundButtons[4]));
    left.quadTo(KnobCentre(kRoundButtons[5]) + QPointF(-6, -2), KnobCentre(kRoundButtons[5]));
    left.lineTo(70, 262);
    shape = shape.united(ear.createStroke(right)).united(ear.createStroke(left));
    return shape.simplified();
}

QImage MainSkin()
{
    const QPainterPath shape = MainSilhouette();
    QImage art(325, 318, QImage::Format_ARGB32_Premultiplied);
    art.fill(QColor(kBodyBottom));
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 9, 0, 307);
    body.setColorAt(0, kBodyTop);
    body.setColorAt(1, kBodyBottom);
    p.fillPath(shape, body);
    p.end();
    Brush(art, shape, 2);
    p.begin(&art);
    p.setRenderHint(QPainter::Antialiasing);

    // Rim: light from the top left, dark to the bottom right.
    QLinearGradient rim(0, 0, 325, 318);
    rim.setColorAt(0, kRimLight);
    rim.setColorAt(0.55, QColor(58, 62, 70));
    rim.setColorAt(1, kRimDark);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 4));
    p.drawPath(shape);
    p.setPen(QPen(QColor(0, 0, 0, 110), 1.2));
    p.drawPath(shape.translated(0, 0));

    const QPointF off = -kSkinOffset;
    // Grille over the status line.
    QPainterPath grilleArea;
    grilleArea.addRoundedRect(QRectF(70, 24, 180, 46), 12, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawPath(grilleArea);
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 21; ++col) {
            const QPointF h(80 + col * 8 + (row % 2) * 4, 31 + row * 8);
            if (!grilleArea.contains(h + QPointF(-4, 0)) || !grilleArea.contains(h + QPointF(4, 0))) {
                continue;
            }
            p.setBrush(QColor(110, 116, 126, 110));
            p.drawEllipse(h + QPointF(0, 0.8), 2.2, 2.2);
            p.setBrush(QColor(5, 6, 7));
            p.drawEllipse(h, 2.2, 2.2);
        }
    }

    // Status line window and display window.
    const QRectF status = QRectF(102, 88, 115, 13).translated(off);
    DrawBezel(p, status.adjusted(-5, -5, 5, 5), 6, status, 1);
    const QRectF display = QRectF(74, 131, 170, 56).translated(off);
    DrawBezel(p, display.adjusted(-8, -8, 8, 8), 10, display.adjusted(-1, -1, 1, 1), 2);
    for (QPointF s : { display.topLeft() + QPointF(-14, -2), display.topRight() + QPointF(14, -2),
             display.bottomLeft() + QPointF(-14, 2), display.bottomRight() + QPointF(14, 2) }) {
        DrawScrew(p, s);
    }

    // A soft shadow under the logo plate.
    const QRectF logo = QRectF(90, 203, 138, 39).translated(off);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawRoundedRect(logo.translated(1, 2), 6, 6);

    // Sockets of the six round buttons.
    for (const RoundButton& b : kRoundButtons) {
        DrawSocket(p, KnobCentre(b), 13.5);
    }

    // Vents at the bottom, screws at the corners.
    DrawSlots(p, QRectF(98, 254, 168, 40), 5);
    for (QPointF s : { QPointF(50, 30), QPointF(268, 30), QPointF(268, 288) }) {
        DrawScrew(p, s);
    }
    p.end();
    return KeyBySilhouette(art, shape);
}

// ------------------------------------------------------------------------------------------------
// The settings window's skin, 300 x 414, placed at its window's corner. Its black opening takes the
// panels at 33 ... 266, 31 ... 377.

QImage ConfigSkin()
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(1, 1, 298, 412), 22, 22);
    QImage art(300, 414, QImage::Format_ARGB32_Premultiplied);
    art.fill(QColor(kBodyBottom));
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 0, 0, 414);
    body.setColorAt(0, kBodyTop);
    body.setColorAt(1, kBodyBottom);
    p.fillPath(shape, body);
    p.end();
    Brush(art, shape, 2);
    p.begin(&art);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient rim(0, 0, 300, 414);
    rim.setColorAt(0, kRimLight);
    rim.setColorAt(0.55, QColor(58, 62, 70));
    rim.setColorAt(1, kRimDark);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 4));
    p.drawPath(shape);

    const QRectF opening(32, 30, 236, 349);
    DrawBezel(p, opening.adjusted(-6, -6, 6, 6), 10, opening, 2);
    // Header: the settings gear and a row of indicator lamps.
    SymbolSettings(p, QPointF(22, 16), QColor(150, 156, 166));
    for (int i = 0; i < 3; ++i) {
        p.setPen(Pen(kRimDark, 1));
        p.setBrush(i == 0 ? QColor(kOnAir) : QColor(70, 75, 84));
        p.drawEllipse(QPointF(250 + i * 12, 15), 3, 3);
    }
    DrawSlots(p, QRectF(70, 392, 160, 16), 3);
    for (QPointF s : { QPointF(16, 398), QPointF(284, 398) }) {
        DrawScrew(p, s);
    }
    p.end();
    return KeyBySilhouette(art, shape);
}

// ------------------------------------------------------------------------------------------------
// The logo: a name plate, 138 x 39, letters drawn as strokes.

QPainterPath Letters()
{
    QPainterPath t;
    const qreal base = 29, cap = 10, xh = 15;
    qreal x = 10;
    // Z
    t.moveTo(x, cap);
    t.lineTo(x + 12, cap);
    t.lineTo(x, base);
    t.lineTo(x + 12, base);
    x += 17;
    // o
    t.addEllipse(QRectF(x, xh, 11, base - xh));
    x += 15;
    // V
    t.moveTo(x, cap);
    t.lineTo(x + 7.5, base);
    t.lineTo(x + 15, cap);
    x += 19;
    // e
    t.moveTo(x + 0.5, (xh + base) / 2);
    t.lineTo(x + 10.5, (xh + base) / 2);
    t.arcTo(QRectF(x, xh, 11, base - xh), 0, 300);
    x += 15;
    // v
    t.moveTo(x, xh);
    t.lineTo(x + 5.5, base);
    t.lineTo(x + 11, xh);
    x += 15;
    // a
    t.addEllipse(QRectF(x, xh, 10, base - xh));
    t.moveTo(x + 10, xh);
    t.lineTo(x + 10, base);
    return t;
}

void DrawTower(QPainter& p, const QRectF& box, int waves, bool lit);

QImage Logo()
{
    QImage art = Canvas(138, 39);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plate(0.5, 0.5, 137, 38);
    QLinearGradient g(plate.topLeft(), plate.bottomLeft());
    g.setColorAt(0, QColor(66, 71, 80));
    g.setColorAt(1, QColor(28, 30, 35));
    p.setPen(Pen(kRimDark, 1));
    p.setBrush(g);
    p.drawRoundedRect(plate, 7, 7);
    p.setPen(QPen(QColor(130, 137, 148, 150), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(plate.adjusted(1.5, 1.5, -1.5, -1.5), 5.5, 5.5);
    const QPainterPath letters = Letters();
    // Engraved: a dark groove under a light stroke.
    p.setPen(Pen(QColor(0, 0, 0, 170), 3.6));
    p.drawPath(letters.translated(0.6, 1.0));
    QLinearGradient silver(0, 10, 0, 29);
    silver.setColorAt(0, QColor(236, 240, 246));
    silver.setColorAt(1, QColor(160, 168, 180));
    p.setPen(QPen(QBrush(silver), 2.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(letters);
    DrawTower(p, QRectF(108, 5, 28, 28), 2, true);
    p.end();
    return art.convertToFormat(QImage::Format_ARGB32);
}

// ------------------------------------------------------------------------------------------------
// Tray frames and icons: a transmitter mast whose lamp lights and whose waves spread, frame by frame.

void DrawTower(QPainter& p, const QRectF& box, int waves, bool lit)
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 32.0, box.height() / 32.0);
    const QPointF top(16, 11);
    // Mast: two legs and cross braces.
    for (const QColor& c : { QColor(10, 11, 13), QColor(196, 202, 212) }) {
        const qreal w = c.red() < 50 ? 3.6 : 1.8;
        p.setPen(Pen(c, w));
        p.drawLine(top, QPointF(10, 30));
        p.drawLine(top, QPointF(22, 30));
        p.drawLine(QPointF(12.5, 23.5), QPointF(19.5, 23.5));
        p.drawLine(QPointF(13.9, 19), QPointF(18.1, 19));
        p.drawLine(QPointF(12.5, 23.5), QPointF(18.1, 19));
    }
    // Waves, nearest first.
    for (int i = 0; i < waves; ++i) {
        const qreal r = 6.5 + i * 4.5;
        const QRectF ring(top.x() - r, top.y() - r, 2 * r, 2 * r);
        const QColor c = QColor(255, 170 - i * 40, 40 + i * 10);
        for (const QPen& pen : { Pen(QColor(10, 11, 13, 200), 3.4), Pen(c, 1.9) }) {
            p.setPen(pen);
            p.drawArc(ring, -40 * 16, 80 * 16);
            p.drawArc(ring, 140 * 16, 80 * 16);
        }
    }
    // The lamp at the top.
    if (lit) {
        QRadialGradient glow(top, 6);
        glow.setColorAt(0, QColor(255, 80, 60, 200));
        glow.setColorAt(1, QColor(255, 80, 60, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(top, 6, 6);
    }
    p.setPen(Pen(QColor(10, 11, 13), 1));
    p.setBrush(lit ? QColor(kOnAir) : QColor(110, 40, 36));
    p.drawEllipse(top, 3.2, 3.2);
    p.restore();
}

QImage TrayFrame(int frame)
{
    QImage art = Canvas(32, 32);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    DrawTower(p, QRectF(0, 0, 32, 32), frame - 1, frame > 1);
    p.end();
    return art.convertToFormat(QImage::Format_ARGB32);
}

// The program's icon, drawn on a 64-pixel grid and scaled: the window's at 64, the desktop's menus
// and launchers at the sizes their icon theme holds.
QImage MainIcon(int size = 64)
{
    QImage art = Canvas(size, size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, kBodyTop);
    g.setColorAt(1, kBodyBottom);
    p.setPen(Pen(kRimLight, 2));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3, 3, 58, 58), 12, 12);
    DrawTower(p, QRectF(8, 7, 48, 48), 3, true);
    p.end();
    return art.convertToFormat(QImage::Format_ARGB32);
}

// Menu images, 16 x 16: close, hide, restore.
QImage MenuImage(int which)
{
    QImage art = Canvas(16, 16);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor outline(20, 22, 26, 220), blue(58, 140, 230);
    auto twice = [&](const QColor& c, qreal w, auto&& draw) {
        p.setPen(Pen(outline, w + 1.6));
        draw();
        p.setPen(Pen(c, w));
        draw();
    };
    p.setBrush(Qt::NoBrush);
    if (which == 0) {
        twice(kQuit, 2.2, [&] {
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
        });
    } else if (which == 1) {
        twice(blue, 2.0, [&] {
            p.drawLine(QPointF(8, 2.5), QPointF(8, 9));
            p.drawPolyline(QPolygonF({ QPointF(4.5, 6), QPointF(8, 9.5), QPointF(11.5, 6) }));
            p.drawLine(QPointF(3, 13), QPointF(13, 13));
        });
    } else {
        twice(blue, 1.6, [&] { p.drawRect(QRectF(2.5, 3.5, 11, 9.5)); });
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawRect(QRectF(2.5, 3.5, 11, 3));
    }
    p.end();
    return art.convertToFormat(QImage::Format_ARGB32);
}

// ------------------------------------------------------------------------------------------------
// Knobs: a ribbed metal disc with a coloured collar, on navy (see-through, the bottom-left pixel). The
// handle is drawn by the knob itself, so the disc carries no pointer. `size` square; `collar` the
// ring's colour.
QImage Knob(int size, const QColor& collar)
{
    QImage art = Canvas(size, size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(size / 2.0, size / 2.0);
    const qreal r = size / 2.0 - 0.5;
    // Collar, then the body with its grip ribs, then the cap.
    p.setPen(Pen(kRimDark, 1));
    p.setBrush(collar.darker(160));
    p.drawEllipse(c, r, r);
    p.setPen(Qt::NoPen);
    p.setBrush(collar);
    p.drawEllipse(c, r - 1.0, r - 1.0);
    // A thin collar: the handle runs over the body, where it shows.
    const qreal body = r - 2.4;
    QLinearGradient g(c - QPointF(body, body), c + QPointF(body * 0.6, body));
    g.setColorAt(0, QColor(120, 127, 138));
    g.setColorAt(1, QColor(30, 33, 38));
    p.setPen(Pen(kRimDark, 1));
    p.setBrush(g);
    p.drawEllipse(c, body, body);
    const int ribs = size >= 40 ? 24 : 16;
    for (int i = 0; i < ribs; ++i) {
        const double a = 2 * M_PI * i / ribs;
        const QPointF dir(std::cos(a), std::sin(a));
        p.setPen(Pen(i % 2 ? QColor(20, 22, 26, 170) : QColor(160, 168, 180, 110), 0.8));
        p.drawLine(c + dir * (body * 0.72), c + dir * (body - 0.6));
    }
    QRadialGradient cap(c + QPointF(-body * 0.25, -body * 0.3), body * 0.75);
    cap.setColorAt(0, QColor(96, 102, 113));
    cap.setColorAt(1, QColor(40, 43, 49));
    p.setPen(Pen(QColor(18, 20, 23), 0.8));
    p.setBrush(cap);
    p.drawEllipse(c, body * 0.66, body * 0.66);
    p.end();
    return Flatten(art, kSocket, 60);
}

QByteArray Png(const QImage& img)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes;
}

} // namespace

std::vector<ArtFile> RenderArtwork()
{
    std::vector<ArtFile> files;
    files.push_back({ "skins/main.png", Png(MainSkin()) });
    files.push_back({ "skins/config.png", Png(ConfigSkin()) });
    files.push_back({ "images/logo.png", Png(Logo()) });
    files.push_back({ "images/mainicon.png", Png(MainIcon()) });
    // The desktop's icon theme, under the desktop entry's name.
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        files.push_back({ QStringLiteral("icons/hicolor/%1x%1/apps/br.net.varekradio.ZoVeva.png").arg(size),
            Png(MainIcon(size)) });
    }
    for (int f = 1; f <= 4; ++f) {
        files.push_back({ QStringLiteral("images/tray%1.png").arg(f), Png(TrayFrame(f)) });
    }
    files.push_back({ "images/menu_close.png", Png(MenuImage(0)) });
    files.push_back({ "images/menu_hide.png", Png(MenuImage(1)) });
    files.push_back({ "images/menu_restore.png", Png(MenuImage(2)) });
    // The knob's built-in picture, and the settings window's two knobs (recording and return) on
    // their 52 x 52 controls: 32 x 32 inside the scale's ring.
    files.push_back({ "knobs/wheel.png", Png(Knob(48, QColor(70, 120, 190))) });
    files.push_back({ "knobs/recording.png", Png(Knob(32, QColor(200, 64, 52))) });
    files.push_back({ "knobs/return.png", Png(Knob(32, QColor(64, 160, 96))) });

    TSkBitmapList faces;
    FillFaceList(faces);
    SkStoredObject main { "Frm_ZoVeva", "TFrm_ZoVeva", {}, {} };
    main.Children.push_back(faces.StoreAs("SkBitmapList2"));
    for (int i = 0; i < 6; ++i) {
        const RoundButton& b = kRoundButtons[i];
        main.Children.push_back(StoredButton(b.Name, 2 * i, 2 * i + 1));
    }
    files.push_back({ "forms/Frm_ZoVeva.dat", WriteWindowData(main) });

    SkStoredObject config { "Frm_Config", "TFrm_Config", {}, {} };
    config.Children.push_back(StoredButton("SkMMButton1", 12, 13));
    config.Children.push_back(StoredButton("SkMMButton2", 14, 15));
    config.Children.push_back(StoredButton("SkMMButton3", 16, 17, { 4, 5, 7 }));
    config.Children.push_back(StoredButton("BFechar", 14, 15));
    files.push_back({ "forms/Frm_Config.dat", WriteWindowData(config) });
    return files;
}

QImage Preview()
{
    const std::vector<ArtFile> files = RenderArtwork();
    auto load = [&](const QString& path) {
        for (const ArtFile& f : files) {
            if (f.Path == path) {
                return QImage::fromData(f.Bytes);
            }
        }
        return QImage();
    };
    auto keyed = [](QImage img) {
        img = img.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = img.pixel(0, img.height() - 1);
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                if (SameColor(img.pixel(x, y), key)) {
                    img.setPixel(x, y, 0);
                }
            }
        }
        return img;
    };
    TSkBitmapList faces;
    FillFaceList(faces);
    QImage sheet(760, 520, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(120, 124, 130));
    QPainter p(&sheet);
    // The main window as it will look: skin, up faces, one pressed face, logo, black display.
    p.drawImage(QPointF(10, 10) + kSkinOffset, keyed(load("skins/main.png")));
    p.fillRect(QRectF(10 + 74, 10 + 131, 170, 56), Qt::black);
    p.fillRect(QRectF(10 + 102, 10 + 88, 115, 13), Qt::black);
    p.drawImage(QPointF(10 + 90, 10 + 203), load("images/logo.png"));
    for (int i = 0; i < 6; ++i) {
        p.drawImage(QPointF(10, 10) + kRoundButtons[i].Place, keyed(faces.Item(2 * i + (i == 5)).Bitmap));
    }
    // The settings window's skin and its buttons on its panel.
    p.drawImage(QPointF(350, 10), keyed(load("skins/config.png")));
    p.drawImage(QPointF(350 + 50, 10 + 300), keyed(faces.Item(12).Bitmap));
    p.drawImage(QPointF(350 + 150, 10 + 300), keyed(faces.Item(15).Bitmap));
    p.drawImage(QPointF(350 + 70, 10 + 250), keyed(faces.Item(16).Bitmap));
    // Every face, tray frame, menu image and the program's icon.
    qreal x = 10;
    for (int i = 0; i < faces.Count(); ++i) {
        p.drawImage(QPointF(x, 340 + (i >= 12 ? 34 * ((i - 12) / 2 + 1) : 0)), keyed(faces.Item(i).Bitmap));
        x = i >= 12 ? (i % 2 ? 10 : 170) : x + 27;
        if (i == 11) {
            x = 10;
        }
    }
    for (int f = 1; f <= 4; ++f) {
        p.drawImage(QPointF(350 + 40 * (f - 1), 440), load(QStringLiteral("images/tray%1.png").arg(f)));
    }
    const char* menu[] = { "images/menu_close.png", "images/menu_hide.png", "images/menu_restore.png" };
    for (int i = 0; i < 3; ++i) {
        p.drawImage(QPointF(520 + 24 * i, 448), load(menu[i]));
    }
    p.drawImage(QPointF(600, 424), load("images/mainicon.png"));
    p.drawImage(QPointF(672, 420), keyed(load("knobs/wheel.png")));
    p.drawImage(QPointF(672, 474), keyed(load("knobs/recording.png")));
    p.drawImage(QPointF(712, 474), keyed(load("knobs/return.png")));
    p.end();
    return sheet.scaled(sheet.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

bool WriteArtwork(const QString& dir, QString* error)
{
    for (const ArtFile& f : RenderArtwork()) {
        const QString path = QDir(dir).filePath(f.Path);
        if (!QDir().mkpath(QFileInfo(path).path())) {
            *error = QStringLiteral("cannot create the folder of %1").arg(path);
            return false;
        }
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(f.Bytes) != f.Bytes.size()) {
            *error = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
            return false;
        }
    }
    return true;
}

} // namespace zv::art
