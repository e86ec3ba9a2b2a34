// The program in another language, seen from the outside: ZoVeva with the build's ZoVeva.lcf on a
// private X server. Texts drawn on the screen are read by what they show: the picture's text pixels
// against the candidate texts drawn here in the same font, the best match wins (anti-aliased text
// differs by a few values between machines, its shape does not).

#include "IcecastServer.h"
#include "ProgramFixture.h"
#include "ProgramHarness.h"
#include "XSession.h"
#include "tests/support/Wait.h"

#include <QFile>
#include <QFont>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

using zv::test::Process;
using zv::test::ReadAnsi;
using zv::test::XSession;

const QString kTitle = QStringLiteral("Varek R\u00e1dio Zoveva");
const QSize kMainSize(327, 318);
const QSize kSettingsSize(300, 414);
// The build lists pt_BR, en_US, es_ES: English is entry 1.
constexpr int kEnglish = 1;

using InkTest = std::function<bool(QRgb)>;

bool IsLime(QRgb c)
{
    return qGreen(c) > 200 && qRed(c) < 90 && qBlue(c) < 90;
}

// Text in lime, its anti-aliased edge included.
bool IsGreen(QRgb c)
{
    return qGreen(c) > 100 && qRed(c) < 100 && qBlue(c) < 100;
}

bool IsDark(QRgb c)
{
    return qGray(c) < 110;
}

// The pixels of a picture that `isInk` picks, cut to their bounding box.
struct Ink {
    int width = 0;
    int height = 0;
    std::vector<char> on;
    bool At(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height && on[std::size_t(y * width + x)];
    }
};

Ink InkOf(const QImage& image, const InkTest& isInk)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isInk(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    Ink ink;
    ink.width = box.width();
    ink.height = box.height();
    ink.on.resize(std::size_t(ink.width * ink.height));
    for (int y = 0; y < ink.height; ++y)
        for (int x = 0; x < ink.width; ++x)
            ink.on[std::size_t(y * ink.width + x)] = isInk(image.pixel(box.x() + x, box.y() + y));
    return ink;
}

// Intersection over union of two inks laid on each other, the best of shifts by a pixel either way.
double Overlap(const Ink& a, const Ink& b)
{
    double best = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            int both = 0;
            int either = 0;
            const int w = std::max(a.width, b.width + dx) + 1;
            const int h = std::max(a.height, b.height + dy) + 1;
            for (int y = -1; y < h; ++y)
                for (int x = -1; x < w; ++x) {
                    const bool inA = a.At(x, y);
                    const bool inB = b.At(x - dx, y - dy);
                    both += inA && inB;
                    either += inA || inB;
                }
            if (either > 0)
                best = std::max(best, double(both) / either);
        }
    return best;
}

// Which of `candidates` the picture shows: the index of the one whose drawing overlaps the picture's
// ink most. `scores` tells them all, for the failure message.
int ShownText(const QImage& shot, const InkTest& isInk, const QStringList& candidates, const QFont& font,
    QRgb ink, QRgb ground, QString* scores, QSize area = QSize(600, 60))
{
    const Ink shown = InkOf(shot, isInk);
    int best = -1;
    double bestScore = -1;
    for (int i = 0; i < candidates.size(); ++i) {
        QImage drawn(area, QImage::Format_RGB32);
        drawn.fill(ground);
        {
            QPainter painter(&drawn);
            painter.setFont(font);
            painter.setPen(QColor::fromRgb(ink));
            painter.drawText(drawn.rect(), Qt::AlignCenter, candidates[i]);
        }
        const double score = Overlap(shown, InkOf(drawn, isInk));
        *scores += QStringLiteral("\"%1\" %2; ").arg(candidates[i]).arg(score, 0, 'f', 2);
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    *scores += QStringLiteral("ink %1 x %2").arg(shown.width).arg(shown.height);
    return best;
}

// The first line of text in a picture: the rows from the first one with ink to the next one without.
QImage FirstTextLine(const QImage& picture, const InkTest& isInk)
{
    int top = -1;
    int bottom = picture.height();
    for (int y = 0; y < picture.height(); ++y) {
        bool any = false;
        for (int x = 0; x < picture.width() && !any; ++x)
            any = isInk(picture.pixel(x, y));
        if (any && top < 0)
            top = y;
        if (!any && top >= 0) {
            bottom = y;
            break;
        }
    }
    return top < 0 ? QImage() : picture.copy(0, top, picture.width(), bottom - top);
}

// The font Qt gives windows without a desktop (message boxes, tooltips): 9 points at 96 dots per inch.
QFont SystemFont()
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(12);
    return font;
}

class Language : public zv::test::ProgramFixture {
protected:
    // A program folder whose user chose `iIdioma`; without `encodingFile` it is the user's first start.
    void Prepare(quint16 port, const QString& password, int iIdioma, bool encodingFile)
    {
        QString error;
        ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), port, password, &error))
            << error.toStdString();
        ASSERT_TRUE(zv::test::WriteUserSettings(Folder.path(), QStringLiteral("e2e"), 0, &error, iIdioma))
            << error.toStdString();
        if (!encodingFile) {
            ASSERT_TRUE(QFile::remove(Folder.filePath(QStringLiteral("e2e.xml"))));
        }
    }

    // A window titled like the program that is not its main window: the first start's message box.
    bool WaitForMessageBox(XSession::Window* box)
    {
        return zv::test::WaitUntil(
            [&] {
                for (const auto& w : X.Windows()) {
                    if (w.title == kTitle && w.geometry.size() != kMainSize) {
                        *box = w;
                        return true;
                    }
                }
                return false;
            },
            std::chrono::seconds(10), std::chrono::milliseconds(50));
    }

    // Which of the texts the message box says.
    int MessageBoxText(const XSession::Window& box, const QStringList& candidates, QString* scores)
    {
        QThread::msleep(300); // drawn
        const QImage line = FirstTextLine(X.Grab(box.geometry), IsDark);
        if (line.isNull()) {
            *scores = QStringLiteral("no text in the box");
            return -1;
        }
        return ShownText(line, IsDark, candidates, SystemFont(), qRgb(0, 0, 0), qRgb(255, 255, 255), scores);
    }
};

TEST_F(Language, EnglishChosenShowsEnglishHintsAndStatusOnTheAir)
{
    zv::test::IcecastServer icecast;
    QString error;
    ASSERT_TRUE(icecast.Start(&error)) << error.toStdString();
    Prepare(icecast.Port(), icecast.Password(), kEnglish, true);
    auto program = StartProgram();
    ASSERT_TRUE(program->Running());
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();

    // On the air: the status line in lime, read when the state changed.
    const QRect status = QRect(102, 88, 115, 13).translated(window.geometry.topLeft());
    const bool connected = zv::test::WaitUntil(
        [&] {
            const Ink lime = InkOf(X.Grab(status), IsLime);
            return std::count(lime.on.begin(), lime.on.end(), 1) > 30;
        },
        std::chrono::seconds(30), std::chrono::milliseconds(100));
    ASSERT_TRUE(connected) << Diagnostics();
    QThread::msleep(300); // the whole text drawn, not only its first strokes
    QFont statusFont(QStringLiteral("Verdana"));
    statusFont.setPixelSize(11);
    statusFont.setBold(true);
    QString scores;
    // Drawn as the label draws it: centred in its 115 x 13 pixels.
    EXPECT_EQ(ShownText(X.Grab(status), IsGreen, { QStringLiteral("Connected"), QStringLiteral("Conectado") },
                  statusFont, qRgb(0, 255, 0), qRgb(0, 0, 0), &scores, status.size()),
        0)
        << scores.toStdString();

    // The settings button's hint, in a tooltip window of its own. Qt shows hints in the active window.
    X.Focus(window);
    std::vector<unsigned long> before;
    for (const auto& w : X.Windows()) {
        before.push_back(w.id);
    }
    XSession::Window tip;
    bool shown = false;
    for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
        X.MoveTo(window.geometry.topLeft() + QPoint(8 + 12, 215 + 12));
        shown = zv::test::WaitUntil(
            [&] {
                bool found = false;
                for (const auto& w : X.Windows()) {
                    if (std::find(before.begin(), before.end(), w.id) == before.end()
                        && w.geometry.height() < 60) {
                        tip = w;
                        found = true;
                    }
                }
                return found;
            },
            std::chrono::seconds(3), std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(shown) << "no tooltip over the settings button" << Diagnostics();
    QThread::msleep(300); // the tip drawn
    // Inside its frame.
    const QImage hint = X.Grab(tip.geometry.adjusted(3, 3, -3, -3));
    scores.clear();
    EXPECT_EQ(
        ShownText(hint, IsDark, { QStringLiteral("Settings"), QStringLiteral("Configura\u00e7\u00f5es") },
            SystemFont(), qRgb(0, 0, 0), qRgb(255, 255, 220), &scores),
        0)
        << scores.toStdString();
}

TEST_F(Language, EnglishChosenShowsTheFirstStartMessageInEnglish)
{
    Prepare(0, QString(), kEnglish, false);
    auto program = StartProgram();
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();
    XSession::Window box;
    ASSERT_TRUE(WaitForMessageBox(&box)) << Diagnostics();
    QString scores;
    EXPECT_EQ(MessageBoxText(box,
                  { QStringLiteral("Encoding file not found!"),
                      QStringLiteral("Arquivo de codifica\u00e7\u00e3o n\u00e3o encontrado!") },
                  &scores),
        0)
        << scores.toStdString();

    // Read, it gives way to the settings window, in English too; the log says the same in English.
    X.PressReturn(box);
    XSession::Window settings;
    EXPECT_TRUE(X.WaitForWindow(QStringLiteral("Settings"), kSettingsSize, 10, &settings)) << Diagnostics();
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("The encoding file was not found"))) << log.toStdString();
}

TEST_F(Language, DamagedLanguageFileStartsInPortuguese)
{
    Prepare(0, QString(), kEnglish, false);
    // The folder's language file is a link to the build's: replace it, never write through it.
    const QString lcf = Folder.filePath(QStringLiteral("ZoVeva.lcf"));
    QFile good(lcf);
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    good.close();
    ASSERT_TRUE(QFile::remove(lcf));
    QFile damaged(lcf);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    ASSERT_EQ(damaged.write(bytes.left(bytes.size() / 2)), bytes.size() / 2);
    damaged.close();

    auto program = StartProgram();
    XSession::Window window;
    ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 20, &window)) << Diagnostics();
    XSession::Window box;
    ASSERT_TRUE(WaitForMessageBox(&box)) << Diagnostics();
    QString scores;
    EXPECT_EQ(MessageBoxText(box,
                  { QStringLiteral("Encoding file not found!"),
                      QStringLiteral("Arquivo de codifica\u00e7\u00e3o n\u00e3o encontrado!") },
                  &scores),
        1)
        << scores.toStdString();
    X.PressReturn(box);
    XSession::Window settings;
    EXPECT_TRUE(X.WaitForWindow(QStringLiteral("Configura\u00e7\u00f5es"), kSettingsSize, 10, &settings))
        << Diagnostics();
    // The damaged file cost the language, nothing else: no error box, no error in the log.
    int boxes = 0;
    for (const auto& w : X.Windows()) {
        boxes += w.title == kTitle && w.geometry.size() != kMainSize;
    }
    EXPECT_EQ(boxes, 0);
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("N\u00e3o foi encontrado o arquivo de codifica\u00e7\u00e3o")))
        << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Descri\u00e7\u00e3o")), 1) << log.toStdString();
    EXPECT_FALSE(program->WaitForExit(0.5)) << "the program ended";
}

} // namespace
