#include "tools/skinart/SkinArt.h"

#include "skin/SkFaceTable.h"
#include "skin/SkRegion.h"
#include "skin/SkWindowData.h"
#include "skin/skcont.h"

#include <QFile>
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

} // namespace

TEST(SkinArt, RedrawingGivesTheCommittedFiles)
{
    const std::vector<zv::art::ArtFile> again = zv::art::RenderArtwork();
    for (const zv::art::ArtFile& f : again) {
        EXPECT_EQ(f.Bytes, Rendered(f.Path)) << f.Path.toStdString() << " differs between two runs";
        QFile committed(SourceFile(f.Path));
        ASSERT_TRUE(committed.open(QIODevice::ReadOnly)) << f.Path.toStdString() << " is not committed";
        const QByteArray bytes = committed.readAll();
        if (f.Path.endsWith(".png")) {
            // PNG bytes depend on the zlib at hand; the pixels must not.
            EXPECT_EQ(QImage::fromData(bytes), QImage::fromData(f.Bytes))
                << f.Path.toStdString() << ": run the artwork target and commit";
        } else {
            EXPECT_EQ(bytes, f.Bytes) << f.Path.toStdString() << ": run the artwork target and commit";
        }
    }
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
