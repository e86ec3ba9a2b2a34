#include "platform/Clock.h"
#include "platform/ProgramFolder.h"
#include "station/EncoderProcess.h"
#include "station/SingleInstance.h"
#include "station/StationStrings.h"
#include "station/StationVersion.h"
#include "station/U_ZoVeva.h"
#include "station/ZoVevaApplication.h"

#include <QLoggingCategory>
#include <cstdio>
#include <exception>

namespace {

// What the sound libraries say about themselves is for whoever looks into them, not for the
// operator's terminal: ZOVEVA_DEBUG_LIBS=1 shows it. QT_LOGGING_RULES still has the last word. (The
// account page's helper, zoveva-account, sorts the browser engine's messages the same way.)
void RouteLibraryMessages()
{
    const QByteArray wanted = qgetenv("ZOVEVA_DEBUG_LIBS");
    if (!wanted.isEmpty() && wanted != "0") {
        QLoggingCategory::setFilterRules(QStringLiteral("zoveva.alsa.debug=true"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Its texts before anything can report: a language file's check lists every id.
    zv::RegisterStationStrings();
    RouteLibraryMessages();
    TZoVevaApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle());
    // The desktop entry the package installs: docks and task switchers take its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("br.net.varekradio.ZoVeva"));
    // The program ends by its close step, not when its last window hides.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start on the same folder shows the running program's window instead.
    const auto folder = zv::ProgramFolder();
    zv::TSingleInstance instance(folder);
    if (instance.Claim() == zv::TSingleInstance::TClaim::Running) {
        if (instance.AskRunningToShow()) {
            return 0;
        }
        // The other program may have been on its way out, and be gone now.
        if (instance.Claim() == zv::TSingleInstance::TClaim::Running) {
            std::fprintf(stderr, "ZoVeva: already running from %s, but it does not answer\n", folder.c_str());
            return 1;
        }
    }

    zv::QtClock clock;
    zv::TEncoderProcessFactory encoders;
    int code = 0;
    try {
        TFrm_ZoVeva window(folder, clock, encoders);
        QObject::connect(
            &instance, &zv::TSingleInstance::ShowRequested, &window, &TFrm_ZoVeva::RestoreWindow);
        window.show();
        code = QApplication::exec();
    } catch (const std::exception& error) {
        // Only a program without its compiled-in pictures gets here: nothing can be shown.
        std::fprintf(stderr, "ZoVeva: %s\n", error.what());
        return 1;
    }
    // The window has released the last encoder: its end and exit status reach the log before we go.
    zv::WaitForReleasedEncoders(zv::DefaultEncoderProcessOptions().releaseTimeout + std::chrono::seconds(1));
    return code;
}
