// The first start that meets an error before it asks for the settings: the program on a private X
// server, answered from the outside as an operator would. Every box it shows must take its answer, the
// settings window must come after the last box, modal, and take keys and clicks, and the program must
// still quit from its own button.

#include "ProgramHarness.h"
#include "XSession.h"
#include "tests/support/Wait.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace {

using zv::test::Process;
using zv::test::ReadAnsi;
using zv::test::XSession;

const QString kTitle = QStringLiteral("Varek R\u00e1dio Zoveva");
const QString kSettingsTitle = QStringLiteral("Configura\u00e7\u00f5es");
const QSize kMainSize(327, 318);
const QSize kSettingsSize(300, 414);

bool WaitFor(double seconds, const std::function<bool()>& done)
{
    return zv::test::WaitUntil(
        done, std::chrono::milliseconds(qint64(seconds * 1000)), std::chrono::milliseconds(50));
}

class FirstStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        ASSERT_TRUE(Runtime.isValid());
        QString error;
        ASSERT_TRUE(X.Start(&error)) << error.toStdString();
        ASSERT_TRUE(X.StartTray(QPoint(40, 300), 32));
        ASSERT_TRUE(zv::test::MakeProgramFolder(Folder.path(), 0, QString(), &error)) << error.toStdString();
    }

    void TearDown() override
    {
        // A folder made read-only by its mode gets it back, so that it can be removed.
        QFile::setPermissions(Folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void WriteCfg(const QByteArray& usuario)
    {
        QFile cfg(Folder.filePath(QStringLiteral("cfg.ini")));
        ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
        cfg.write("[Geral]\r\nControle=0\r\nUsuario=" + usuario
            + "\r\nSenha=\r\nPlaca=abc\r\nRadio=Teste\r\nKbps=32000\r\nServidor=0.0.1\r\n"
              "ServerDefault=127\r\niIdioma=-1\r\n");
    }

    // The program; in a read-only folder when asked: for root, whom a folder's mode does not stop, a
    // read-only bind mount of it in a mount namespace of the program's own.
    std::unique_ptr<Process> StartProgram(bool readOnly)
    {
        const auto environment = zv::test::ProgramEnvironment(X.DisplayName(), Runtime.path());
        const QString program = Folder.filePath(QStringLiteral("ZoVeva"));
        QStringList command { program };
        if (readOnly && geteuid() == 0) {
            // A container may refuse root its mounts: then there is no read-only folder to try.
            const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
            if (unshare.isEmpty()
                || QProcess::execute(unshare,
                       { QStringLiteral("--mount"), QStringLiteral("--propagation"),
                           QStringLiteral("private"), QStringLiteral("mount"), QStringLiteral("--bind"),
                           Folder.path(), Folder.path() })
                    != 0) {
                return nullptr;
            }
            command = QStringList { unshare, QStringLiteral("--mount"), QStringLiteral("--propagation"),
                QStringLiteral("private"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                QStringLiteral(
                    R"(mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" "$0" && exec "$0/ZoVeva")"),
                Folder.path() };
        } else if (readOnly) {
            QFile::setPermissions(Folder.path(), QFile::ReadOwner | QFile::ExeOwner);
        }
        return std::make_unique<Process>(command, environment, Output());
    }

    QString Output() const { return Runtime.filePath(QStringLiteral("output.txt")); }
    QString Log() const { return ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log"))); }
    std::string Diagnostics() const
    {
        return QStringLiteral("\n--- program output\n%1\n--- ZoVeva.log\n%2")
            .arg(ReadAnsi(Output()), Log())
            .toStdString();
    }

    std::string OnScreen()
    {
        QString text = QStringLiteral("\n--- on the screen, bottom to top");
        for (const auto& w : X.Windows()) {
            text += QStringLiteral("\n\"%1\" %2 x %3")
                        .arg(w.title)
                        .arg(w.geometry.width())
                        .arg(w.geometry.height());
        }
        return text.toStdString();
    }

    std::vector<XSession::Window> Boxes()
    {
        std::vector<XSession::Window> boxes;
        for (const auto& w : X.Windows()) {
            if (w.title == kTitle && w.geometry.size() != kMainSize) {
                boxes.push_back(w);
            }
        }
        return boxes;
    }

    bool Shown(unsigned long id)
    {
        const auto windows = X.Windows();
        return std::any_of(windows.begin(), windows.end(), [&](const auto& w) { return w.id == id; });
    }

    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    XSession X;
};

// Placa is not a number, so the first show ends in an error box; the first start, which needs the
// settings (no encoding file), comes while that box is open. In a read-only folder the error comes at
// the creation (cfg.ini cannot be made); the program goes on with the values a new file would hold.
TEST_F(FirstStart, AfterAnErrorEveryBoxAnswersAndTheSettingsWindowComesLastModalAndUsable)
{
    enum class Then { Save, Escape, CloseButton };
    const struct {
        const char* name;
        const char* usuario; // null: no cfg.ini
        bool readOnly;
        int boxes; // at least
        Then then;
    } cases[] = {
        { "no user", "", false, 2, Then::Save },
        { "a user without an encoding file", "maria", false, 2, Then::Escape },
        { "a read-only program folder", nullptr, true, 2, Then::CloseButton },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Folder.filePath(QStringLiteral("cfg.ini")));
        QFile::remove(Folder.filePath(QStringLiteral("ZoVeva.log")));
        if (c.usuario) {
            WriteCfg(c.usuario);
        }
        auto program = StartProgram(c.readOnly);
        if (!program && c.readOnly) {
            std::cerr << "[ SKIPPED  ] " << c.name << ": this machine makes no read-only mount for root\n";
            continue;
        }
        ASSERT_TRUE(program && program->Running());

        // Answers the top box, then the next, until the settings window shows. (A box of the first show
        // comes before the main window is on the screen.)
        int answered = 0;
        XSession::Window settings;
        std::vector<XSession::Window> boxesWithSettings;
        const bool asked = WaitFor(60, [&] {
            if (X.WaitForWindow(kSettingsTitle, kSettingsSize, 0, &settings)) {
                boxesWithSettings = Boxes();
                return true;
            }
            // The last is the top one, read once the boxes hold still for a moment, as a person would;
            // one that another comes over meanwhile is answered after it.
            const auto boxes = Boxes();
            QThread::msleep(400);
            const auto now = Boxes();
            if (boxes.empty() || now.empty() || now.back().id != boxes.back().id) {
                return false;
            }
            const unsigned long top = boxes.back().id;
            X.PressReturn(boxes.back());
            EXPECT_TRUE(WaitFor(10,
                [&] {
                    const auto left = Boxes();
                    return !Shown(top) || (!left.empty() && left.back().id != top);
                }))
                << "box " << answered + 1 << " takes its answer" << OnScreen() << Diagnostics();
            answered += !Shown(top);
            return false;
        });
        ASSERT_TRUE(asked) << answered << " boxes answered" << Diagnostics();
        EXPECT_TRUE(boxesWithSettings.empty()) << "the settings window came before the last box was answered";
        EXPECT_GE(answered, c.boxes);
        EXPECT_TRUE(X.States(settings).contains(QStringLiteral("_NET_WM_STATE_MODAL")))
            << X.States(settings).join(u' ').toStdString();

        const QPoint panel = settings.geometry.topLeft() + QPoint(34, 31);
        switch (c.then) {
        case Then::Save: {
            // The first card, from the list's pop-up (Placa selected nothing).
            std::vector<unsigned long> before;
            for (const auto& w : X.Windows()) {
                before.push_back(w.id);
            }
            X.Click(panel + QPoint(78 + 70, 124 + 10));
            XSession::Window list;
            ASSERT_TRUE(WaitFor(10, [&] {
                for (const auto& w : X.Windows()) {
                    if (std::find(before.begin(), before.end(), w.id) == before.end()) {
                        list = w;
                        return true;
                    }
                }
                return false;
            })) << "the card list opens";
            QThread::msleep(300); // its items laid out before the click
            X.Click(list.geometry.topLeft() + QPoint(list.geometry.width() / 2, 8));
            EXPECT_TRUE(WaitFor(10, [&] { return !Shown(list.id); }));
            X.TypeInto(settings, panel + QPoint(78 + 70, 68 + 10), QStringLiteral("nova"));
            X.TypeInto(settings, panel + QPoint(78 + 70, 96 + 10), QStringLiteral("segredo"));
            X.Click(panel + QPoint(30 + 37, 312 + 13));
            EXPECT_TRUE(WaitFor(20, [&] {
                QFile cfg(Folder.filePath(QStringLiteral("cfg.ini")));
                return cfg.open(QIODevice::ReadOnly) && cfg.readAll().contains("Usuario=nova\r\n");
            })) << Diagnostics();
            break;
        }
        case Then::Escape:
            QThread::msleep(300); // the window takes keys once it has settled, as a person would wait
            X.PressEscape(settings);
            break;
        case Then::CloseButton:
            QThread::msleep(300); // the same for clicks
            X.Click(panel + QPoint(128 + 37, 312 + 13));
            break;
        }
        EXPECT_TRUE(WaitFor(20, [&] { return !Shown(settings.id); }))
            << "the settings window closes" << OnScreen() << Diagnostics();

        if (!c.readOnly) {
            // Each box's entry, written once it was answered.
            const QString log = Log();
            EXPECT_TRUE(log.contains(QStringLiteral("'abc' n\u00e3o \u00e9 um valor inteiro v\u00e1lido")))
                << Diagnostics();
            EXPECT_TRUE(log.contains(QStringLiteral("EConvertError"))) << Diagnostics();
            EXPECT_TRUE(
                log.contains(QStringLiteral("N\u00e3o foi encontrado o arquivo de codifica\u00e7\u00e3o")))
                << Diagnostics();
        }

        // The main window takes its clicks too: its power button ends the program.
        XSession::Window main;
        ASSERT_TRUE(X.WaitForWindow(kTitle, kMainSize, 10, &main)) << Diagnostics();
        QThread::msleep(300); // the same for clicks
        X.Click(main.geometry.topLeft() + QPoint(295 + 12, 116 + 11));
        ASSERT_TRUE(program->WaitForExit(30)) << Diagnostics();
        EXPECT_EQ(program->ExitCode(), 0) << Diagnostics();
        program.reset();
        QFile::setPermissions(Folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

} // namespace
