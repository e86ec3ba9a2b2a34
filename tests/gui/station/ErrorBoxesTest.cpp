// The main window's own message boxes (no test double in their place) on the offscreen platform: an
// error that comes again while its box is still open, as every encoder restart's does while the sound
// server is away, is logged every time but shown in one box.

#include "platform/Ansi.h"
#include "platform/Clock.h"
#include "station/EncoderContract.h"
#include "station/U_ZoVeva.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Never asked: the window is not shown and its virtual clock does not run.
struct NoEncoders final : CoEncoderApp {
    HRESULT Create(std::shared_ptr<IEncoderApp>&) override { return E_NOTIMPL; }
};

// The visible boxes by text.
QMap<QString, int> OpenBoxes()
{
    QMap<QString, int> open;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (const auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            ++open[box->text()];
        }
    }
    return open;
}

} // namespace

TEST(ErrorBoxes, TheSameErrorAgainWhileItsBoxIsOpenIsLoggedButNotShownTwice)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    zv::VirtualClock clock;
    NoEncoders encoders;
    TFrm_ZoVeva window(folder.path().toStdString(), clock, encoders);
    const QString away
        = QStringLiteral("Load: The input device \"Default device\" is missing: the sound server is "
                         "not answering; the station will go back on the air when it returns");
    const auto raise
        = [&](const QString& text) { window.Controller().AppException(EEncoderError(text, E_FAIL)); };

    // Each of these raises an error while the boxes of the earlier ones are open, as the restart timers
    // do; the watcher counts the boxes and, once all were raised, closes them.
    const QStringList script { away, away, QStringLiteral("Start: another error"), away };
    int raised = 0;
    for (int i = 0; i < script.size(); ++i) {
        QTimer::singleShot(50 + 100 * i, [&, text = script[i]] {
            ++raised;
            raise(text);
        });
    }
    QMap<QString, int> seen;
    int most = 0;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QMap<QString, int> open = OpenBoxes();
        for (auto it = open.begin(); it != open.end(); ++it) {
            most = std::max(most, it.value());
            seen[it.key()] = std::max(seen[it.key()], it.value());
        }
        if (raised == script.size()) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    box->reject();
                }
            }
        }
    });
    watcher.start();
    zv::test::PumpUntil([&] { return raised >= script.size() && OpenBoxes().isEmpty(); }, 20s);
    watcher.stop();
    EXPECT_EQ(raised, script.size());
    EXPECT_TRUE(OpenBoxes().isEmpty());
    EXPECT_EQ(most, 1) << "never two boxes with one text";
    EXPECT_EQ(seen.value(away), 1);
    EXPECT_EQ(seen.value(QStringLiteral("Start: another error")), 1) << "another text has a box of its own";

    // The log keeps every occurrence, with the result code the boxes leave out.
    QFile log(folder.filePath(QStringLiteral("ZoVeva.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = zv::FromAnsi(log.readAll());
    EXPECT_EQ(text.count(away + QStringLiteral(" (0x80004005)")), 3) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("Start: another error (0x80004005)")), 1);

    // Closed, the same text shows a box again; the step that raised it is not held until it is closed
    // (a restart timer goes on while the operator is away).
    raise(away);
    QApplication::processEvents();
    EXPECT_EQ(OpenBoxes().value(away), 1);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            box->reject();
        }
    }
}
