#include "tools/skinart/SkinArt.h"

#include "skin/SkFaceTable.h"
#include "skin/SkRegion.h"
#include "skin/SkWindowData.h"
#include "skin/skcont.h"

#include <QFile>
#include <QPainter>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

constexpr QRgb kNavy = qRgb(0, 0, 128);

QString SourceFile(const QString& relative)
{
    return QStringLiteral(ZOVEVA_SOURCE_ROOT "/resources/") + relative;
}

QByteArray Rendered(const QString& path)
{
    static const std::vector<zv::art::ArtFile> files = zv::art::RenderArtwork();
    for (const zv::art::ArtFile& f : files)
        if (f.Path == path)
            return f.Bytes;
    ADD_FAILURE() << "no picture " << path.toStdString();
    return {};
}

QImage Picture(const QString& path)
{
    return QImage::fromData(Rendered(path)).convertToFormat(QImage::Format_ARGB32);
}

// Anti-aliased drawing takes processor-specific paths in Qt's raster engine (blending, gradients),
// so the same code draws edge pixels a few values apart on another machine. What the check is for
// is that the committed pictures are what the generator draws now: a moved, resized or recoloured
// drawing differs by far more than this.
constexpr int kChannelTolerance = 8;

// Premultiplied, so that a nearly see-through pixel's colour weighs as little as it shows.
QRgb Premultiplied(const QImage& img, int x, int y)
{
    return reinterpret_cast<const QRgb*>(img.constScanLine(y))[x];
}

// Why `drawn` is not `committed` up to drawing noise; empty when it is. Opaque pictures (skins and
// faces) are see-through where they are navy: that shape must agree, except that a few pixels on its
// edge may flip (faces key their anti-aliased edges by coverage).
std::string PictureDifference(const QImage& committedImage, const QImage& drawnImage)
{
    if (committedImage.size() != drawnImage.size())
        return "size differs";
    if (committedImage.hasAlphaChannel() != drawnImage.hasAlphaChannel())
        return "alpha channel differs";
    const bool keyed = !committedImage.hasAlphaChannel();
    const QImage committed = committedImage.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage drawn = drawnImage.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = committed.width(), h = committed.height();
    const auto isKey = [&](const QImage& img, int x, int y) {
        return keyed && zv::SameColor(Premultiplied(img, x, y), kNavy);
    };
    int edge = 0, flips = 0, worst = 0;
    QPoint worstAt;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool key = isKey(committed, x, y);
            bool onEdge = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    onEdge |= nx >= 0 && ny >= 0 && nx < w && ny < h && isKey(committed, nx, ny) != key;
                }
            edge += onEdge;
            if (key != isKey(drawn, x, y)) {
                if (!onEdge)
                    return QStringLiteral("see-through at %1,%2 differs inside the shape")
                        .arg(x)
                        .arg(y)
                        .toStdString();
                ++flips;
                continue;
            }
            if (key)
                continue;
            const QRgb a = Premultiplied(committed, x, y), b = Premultiplied(drawn, x, y);
            const int d = std::max({ std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b)) });
            if (d > worst) {
                worst = d;
                worstAt = QPoint(x, y);
            }
        }
    }
    if (worst > kChannelTolerance)
        return QStringLiteral("pixel %1,%2 differs by %3")
            .arg(worstAt.x())
            .arg(worstAt.y())
            .arg(worst)
            .toStdString();
    if (flips > std::max(2, edge / 20))
        return QStringLiteral("%1 of %2 edge pixels changed see-through").arg(flips).arg(edge).toStdString();
    return {};
}

// The same for window data: the same components, classes and values in the same order, every value
// byte for byte except the bitmap list items' pictures, which are compared as pictures.
std::string WindowDataDifference(const zv::SkStoredObject& committed, const zv::SkStoredObject& drawn)
{
    const std::string where = committed.ClassName.toStdString() + " '" + committed.Name.toStdString() + "'";
    if (committed.Name != drawn.Name || committed.ClassName != drawn.ClassName)
        return where + " became " + drawn.ClassName.toStdString() + " '" + drawn.Name.toStdString() + "'";
    if (committed.Values.size() != drawn.Values.size() || committed.Children.size() != drawn.Children.size())
        return where + ": another number of values or components";
    for (std::size_t i = 0; i < committed.Values.size(); ++i) {
        const zv::SkStoredValue &a = committed.Values[i], &b = drawn.Values[i];
        if (a.Name != b.Name)
            return where + ": value " + a.Name.toStdString() + " became " + b.Name.toStdString();
        if (a.Data == b.Data)
            continue;
        if (committed.ClassName != "TSkBitmapListItem" || a.Name != "Internal")
            return where + ": value " + a.Name.toStdString() + " differs";
        const TSkBitmapListItem x = zv::ReadBitmapListItem(a.Data), y = zv::ReadBitmapListItem(b.Data);
        if (x.Ident != y.Ident || x.Description != y.Description || x.Compressed != y.Compressed
            || x.PixelFormat != y.PixelFormat || x.TransparentColor != y.TransparentColor)
            return where + " " + x.Description.toStdString() + ": its stored fields differ";
        if (const std::string d = PictureDifference(x.Bitmap, y.Bitmap); !d.empty())
            return where + " " + x.Description.toStdString() + ": " + d;
    }
    for (std::size_t i = 0; i < committed.Children.size(); ++i)
        if (const std::string d = WindowDataDifference(committed.Children[i], drawn.Children[i]); !d.empty())
            return d;
    return {};
}

} // namespace

TEST(SkinArt, RedrawingGivesTheCommittedFiles)
{
    const std::vector<zv::art::ArtFile> again = zv::art::RenderArtwork();
    for (const zv::art::ArtFile& f : again) {
        EXPECT_EQ(f.Bytes, Rendered(f.Path)) << f.Path.toStdString() << " differs between two runs";
        QFile committed(SourceFile(f.Path));
        ASSERT_TRUE(committed.open(QIODevice::ReadOnly)) << f.Path.toStdString() << " is not committed";
        const QByteArray bytes = committed.readAll();
        // PNG bytes depend on the zlib at hand, pixels on the processor: compare what they show.
        const std::string difference = f.Path.endsWith(".png")
            ? PictureDifference(QImage::fromData(bytes), QImage::fromData(f.Bytes))
            : WindowDataDifference(zv::ReadWindowData(bytes), zv::ReadWindowData(f.Bytes));
        EXPECT_EQ(difference, "") << f.Path.toStdString() << ": run the artwork target and commit";
    }
}

// The comparison lets through what another processor's drawing changes and nothing that a change
// of the artwork would.
TEST(SkinArt, ComparisonToleratesDrawingNoiseButNotAChangedPicture)
{
    TSkBitmapList faces;
    faces.LoadFrom(zv::ReadWindowData(Rendered("forms/Frm_ZoVeva.dat")).RequireChild("SkBitmapList2"));
    const QImage face = faces.Item(2).Bitmap; // settings, up
    const QImage tray = Picture("images/tray3.png");
    ASSERT_EQ(PictureDifference(face, face), "");

    // An edge pixel of the face's shape and one well inside it.
    QPoint edge;
    for (int x = 0; x < face.width() && edge.isNull(); ++x)
        if (!zv::SameColor(face.pixel(x, 12), kNavy))
            edge = QPoint(x, 12);
    const QPoint inside(face.width() / 2, 12);

    const auto noisy = [](QImage img, int amount) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                if (zv::SameColor(p, kNavy) || (img.hasAlphaChannel() && qAlpha(p) == 0))
                    continue;
                const int d = (x * 7 + y * 3) % (2 * amount + 1) - amount;
                const auto c = [&](int v) { return std::clamp(v + d, 0, 255); };
                img.setPixel(x, y, qRgba(c(qRed(p)), c(qGreen(p)), c(qBlue(p)), qAlpha(p)));
            }
        return img;
    };
    const auto withPixel = [](QImage img, QPoint at, QRgb c) {
        img.setPixel(at, c);
        return img;
    };
    const auto shifted = [](const QImage& img) {
        QImage out = img.copy();
        out.fill(img.hasAlphaChannel() ? QColor(Qt::transparent) : QColor(kNavy));
        QPainter(&out).drawImage(1, 0, img);
        return out;
    };
    const auto recoloured = [](QImage img, QRect area) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (!zv::SameColor(img.pixel(x, y), kNavy) && qAlpha(img.pixel(x, y)) == 255)
                    img.setPixel(x, y, qRgb(255, 0, 0));
        return img;
    };
    const struct {
        const char* what;
        QImage committed, drawn;
        bool same;
    } cases[] = {
        { "face, colours a few values off", face, noisy(face, 4), true },
        { "tray frame, colours a few values off", tray, noisy(tray, 4), true },
        { "face, one edge pixel see-through", face, withPixel(face, edge, kNavy), true },
        { "face, a hole inside", face, withPixel(face, inside, kNavy), false },
        { "face, moved by a pixel", face, shifted(face), false },
        { "tray frame, moved by a pixel", tray, shifted(tray), false },
        { "face, symbol recoloured", face, recoloured(face, QRect(10, 9, 5, 5)), false },
        { "tray frame, a colour well off", tray, noisy(tray, 20), false },
        { "another size", face, face.copy(0, 0, 24, 24), false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(PictureDifference(c.committed, c.drawn).empty(), c.same) << c.what;
}

TEST(SkinArt, MainSkinShapeHoldsTheControlsOfTheMainWindow)
{
    const QImage skin = Picture("skins/main.png");
    ASSERT_EQ(skin.size(), QSize(325, 318));
    EXPECT_EQ(skin.pixel(0, 0), kNavy);
    // The skin lies at (2, 2) of the window; the places below are window coordinates.
    const QRegion shape = zv::SkShapeRegion(zv::SkShapeRuns(skin), QPoint(2, 2));
    const QRect areas[] = { { 102, 88, 115, 13 }, { 74, 131, 170, 56 }, { 90, 203, 138, 39 } };
    for (const QRect& r : areas)
        EXPECT_TRUE(QRegion(r).subtracted(shape).isEmpty()) << r.x() << "," << r.y();
    for (int y = 131; y < 131 + 56; ++y)
        for (int x = 74; x < 74 + 170; ++x)
            ASSERT_EQ(skin.pixel(x - 2, y - 2), qRgb(0, 0, 0)) << "display opening at " << x << "," << y;

    // Every visible pixel of every face, up and pressed, lies inside the shape.
    TSkBitmapList faces;
    faces.LoadFrom(zv::ReadWindowData(Rendered("forms/Frm_ZoVeva.dat")).RequireChild("SkBitmapList2"));
    const QPoint places[6] = { { 277, 70 }, { 8, 215 }, { 288, 92 }, { 295, 116 }, { 20, 236 }, { 36, 255 } };
    for (int b = 0; b < 6; ++b)
        for (int item : { 2 * b, 2 * b + 1 }) {
            const QImage& face = faces.Item(item).Bitmap;
            for (int y = 0; y < std::min(face.height(), 25); ++y)
                for (int x = 0; x < face.width(); ++x)
                    if (face.pixel(x, y) != kNavy) {
                        ASSERT_TRUE(shape.contains(places[b] + QPoint(x, y)))
                            << "face " << item << " " << x << "," << y;
                    }
        }
}

TEST(SkinArt, FaceListHasTheEighteenFacesWithNavyCorners)
{
    const zv::SkStoredObject form = zv::ReadWindowData(Rendered("forms/Frm_ZoVeva.dat"));
    TSkBitmapList faces;
    faces.LoadFrom(form.RequireChild("SkBitmapList2"));
    ASSERT_EQ(faces.Count(), 18);
    const quint16 idents[18] = { 0, 1, 2, 3, 4, 11, 6, 9, 8, 8, 10, 10, 12, 13, 14, 15, 16, 17 };
    for (int i = 0; i < 18; ++i) {
        const QImage& f = faces.Item(i).Bitmap;
        const int w = i < 12 ? 25 : i < 16 ? 74 : 156;
        EXPECT_EQ(f.size(), QSize(w, i % 2 ? 26 : 24)) << "face " << i;
        EXPECT_EQ(faces.Item(i).Ident, idents[i]);
        for (QPoint c :
            { QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, f.height() - 1), QPoint(w - 1, f.height() - 1) })
            EXPECT_EQ(f.pixel(c), kNavy) << "face " << i;
        EXPECT_NE(f.pixel(w / 2, 12), kNavy) << "face " << i << " has a solid middle";
    }
}

TEST(SkinArt, ButtonsOfBothWindowsTakeTheirFacesFromTheList)
{
    // Button, its up face, its pressed face, and the states that show the pressed face.
    struct Expect {
        const char* Window;
        const char* Name;
        int Up, Down;
        std::vector<int> DownStates;
    };
    const std::vector<int> usual = { 4, 5, 6, 7, 8 };
    const Expect buttons[] = {
        { "forms/Frm_ZoVeva.dat", "BMinimizar", 0, 1, usual },
        { "forms/Frm_ZoVeva.dat", "BConfig", 2, 3, usual },
        { "forms/Frm_ZoVeva.dat", "BOcultar", 4, 5, usual },
        { "forms/Frm_ZoVeva.dat", "BFechar", 6, 7, usual },
        { "forms/Frm_ZoVeva.dat", "BEqualizer", 8, 9, usual },
        { "forms/Frm_ZoVeva.dat", "BInfo", 10, 11, usual },
        { "forms/Frm_Config.dat", "SkMMButton1", 12, 13, usual },
        { "forms/Frm_Config.dat", "SkMMButton2", 14, 15, usual },
        { "forms/Frm_Config.dat", "BFechar", 14, 15, usual },
        { "forms/Frm_Config.dat", "SkMMButton3", 16, 17, { 4, 5, 7 } },
    };
    for (const Expect& b : buttons) {
        TSkFaceTable table {};
        QRgb hit = 0;
        zv::ReadStoredFaces(zv::ReadWindowData(Rendered(b.Window)).RequireChild(b.Name), table, hit);
        for (int s = 0; s < 9; ++s) {
            const bool down = std::find(b.DownStates.begin(), b.DownStates.end(), s) != b.DownStates.end();
            EXPECT_EQ(table[std::size_t(s)], (FaceEntry { down ? b.Down : b.Up, 0 }))
                << b.Name << " state " << s;
        }
        EXPECT_EQ(hit, kNavy) << b.Name;
    }
}

TEST(SkinArt, IconsAndSettingsSkinHaveTheirSizes)
{
    const std::pair<const char*, QSize> sizes[] = {
        { "images/logo.png", { 138, 39 } },
        { "images/tray1.png", { 32, 32 } },
        { "images/tray2.png", { 32, 32 } },
        { "images/tray3.png", { 32, 32 } },
        { "images/tray4.png", { 32, 32 } },
        { "images/menu_close.png", { 16, 16 } },
        { "images/menu_hide.png", { 16, 16 } },
        { "images/menu_restore.png", { 16, 16 } },
        { "skins/config.png", { 300, 414 } },
    };
    for (const auto& [path, size] : sizes)
        EXPECT_EQ(Picture(path).size(), size) << path;
    // Frames of the tray animation differ from each other.
    for (int f = 2; f <= 4; ++f)
        EXPECT_NE(Picture(QStringLiteral("images/tray%1.png").arg(f)),
            Picture(QStringLiteral("images/tray%1.png").arg(f - 1)));
    // The settings skin's opening is black where the panels go.
    const QImage config = Picture("skins/config.png");
    EXPECT_EQ(config.pixel(0, 0), kNavy);
    for (QPoint p : { QPoint(33, 31), QPoint(266, 31), QPoint(33, 377), QPoint(266, 377), QPoint(150, 200) })
        EXPECT_EQ(config.pixel(p), qRgb(0, 0, 0)) << p.x() << "," << p.y();
}
