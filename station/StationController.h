#pragma once

// The station controller: the state kept for the whole run, the configuration, the encoding file, the
// encoder's start, supervision and fail-over between mirrors, the event log and the application-wide
// error handler. It needs no window: the main window owns one and supplies the small interfaces of
// station/StationInterfaces.h; tests drive it on a virtual clock.
//
// Threads: everything here runs on the user-interface thread (timers, handlers, encoder calls).

#include "platform/Clock.h"
#include "station/ConfigStore.h"
#include "station/DeadAir.h"
#include "station/EncoderContract.h"
#include "station/EventLog.h"
#include "station/Recording.h"
#include "station/StationInterfaces.h"
#include "station/StreamDetails.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// Ends a step on purpose after the user was told why: the error handler lets it pass without a box or
// a log entry.
ZV_DECLARE_EXCEPTION(EAbandonStep, Exception);

class TStationController {
public:
    // programFolder holds cfg.ini, padrao.xml, the user's encoding file and the log. The controller keeps
    // references to the other arguments; they must outlive it.
    TStationController(std::filesystem::path programFolder, zv::IClock& clock, CoEncoderApp& coEncoderApp,
        IMessageBoxes& boxes, IStationWindow& window);
    ~TStationController();
    TStationController(const TStationController&) = delete;
    TStationController& operator=(const TStationController&) = delete;

    // Creation steps of the core: LoadSettings, under the error handler. The timers are created in the
    // constructor and TimerInicio, TimerVerifica and TimerVerificaServidor run from then on.
    void Create();

    // The settings window's fields; set once that window exists (the encoding file needs them).
    void SetSettingsFields(ISettingsFields* fields) { fields_ = fields; }

    // --- configuration (cfg.ini)
    void LoadSettings();
    void WriteDefaultSettings();
    // The settings dialog's save of the values, then LoadSettings: ends any fail-over switch.
    void SaveSettings(const TDialogSettings& values);
    // Refuses what the save could not keep, naming the field, before the save changes anything: text
    // cfg.ini cannot hold (ESettingsFieldError), a user name that cannot name the encoding file
    // (EEncodingFileError). Only the radio name, user name and password are looked at.
    static void CheckDialogSettings(const TDialogSettings& values);
    TConfigStore& Config() { return config_; }

    // --- encoding file
    // Rebuilds the user's encoding file from itself or from the template. Without either, shows the
    // message, asks for termination and abandons the calling step silently.
    void RebuildEncodingFile();
    QString UserEncodingFile() const;
    QString TemplateFile() const;

    // --- encoder
    void StartEncoder();
    // Get encoder and stop; raises on failure. No call at all when no encoder was created.
    void StopEncoder();

    // The save's encoder steps, after the settings were written and read again: the publishing
    // encoder is stopped, the encoding file rebuilt and the encoder started; once more when the user
    // name differs from `previousUsuario`, the one before the save.
    void RestartEncoderAfterSave(const QString& previousUsuario);

    // --- recording of what goes on the air
    const TRecordingSettings& Recording() const { return recording_; }
    // The tray item: saves Gravar, rewrites the encoding file and has the running encoder take it
    // without a break in the stream (an encoder that cannot takes it at its next start). Raises.
    void SetRecording(bool on);

    // --- account page
    // After every completed load of the account page: `limit` is the value of its element
    // "limitekbps" (nothing when there is no such element). A limit that changes the bitrate is
    // written to cfg.ini and the encoder restarted on it. Every error ends it silently.
    void AccountPageLoaded(const std::optional<QString>& limit) noexcept;

    // --- timer handlers (public for the windows and tests; the timers call them guarded)
    void OnTimerInicio(); // first start
    void OnTimerStatus(); // status poll
    void OnTimerVerifica(); // restart
    void OnTimerVerificaServidor(); // fail-over
    void OnTimerSilencio(); // dead-air alarm

    // --- log and errors
    int WriteLog(const QString& description, const QString& action, const QString& process);
    // The application-wide error handler: one error box with the message, then one log entry with the
    // error's type name as action. Never raises.
    void AppException(const std::exception& error) noexcept;
    // Runs a step of an event or timer handler: an error ends the step and goes to AppException.
    void Guard(const std::function<void()>& step) noexcept;
    // Wires a timer to a handler through Guard, for the windows' own timers.
    void SetTimerHandler(zv::ITimer& timer, std::function<void()> handler);

    // Close step: stops the encoder when one exists. True when the application may end; false when the
    // stop failed (the error went to AppException and the window stays open).
    bool CloseStep();

    // --- state (user-interface thread only); changed only by this class
    // The configuration values as cfg.ini last gave them, with the changes below.
    const TSettings& Settings() const { return settings_; }
    // Changes in memory only, until a save writes them: the language's entry in the language list, and
    // Placa, the sound card's place in the device list.
    void SetLanguage(int iIdioma) { settings_.iIdioma = iIdioma; }
    void SetSoundCard(int placa) { settings_.Placa = QString::number(placa); }
    // The mirror the encoder publishes to: ServerDefault.Servidor after a load, switched by the fail-over.
    const QString& CurrentServer() const { return currentServer_; }
    // The encoder of the last start, or none before the first; replaced whole on every start.
    const std::shared_ptr<IEncoderApp>& EncoderApp() const { return encoderApp_; }
    // The encoder's state as the last start or poll read it (EncoderRunState).
    std::uint8_t RunState() const { return runState_; }
    // The last poll found the stream on the air.
    bool Connected() const { return connected_; }

    std::unique_ptr<zv::ITimer> TimerInicio; // 100 ms, one shot
    std::unique_ptr<zv::ITimer> TimerStatus; // 1000 ms, from the first start
    std::unique_ptr<zv::ITimer> TimerVerifica; // 10000 ms
    std::unique_ptr<zv::ITimer> TimerVerificaServidor; // 60000 ms
    std::unique_ptr<zv::ITimer> TimerSilencio; // 1000 ms, the dead-air alarm

    // The capture's blocks go here (any thread; 16-bit stereo at 44100 Hz, as the main window captures).
    TDeadAirDetector& DeadAirDetector() { return deadAirDetector_; }
    const TDeadAirAlarm& DeadAir() const { return deadAir_; }
    // The capture's input device was lost, or works again (see TDeadAirAlarm::SetInputLost).
    void SetInputLost(bool lost) { deadAir_.SetInputLost(lost); }
    // What the last status poll learnt of the stream.
    const TStreamDetails& StreamDetails() const { return details_.Last(); }

    // True once a step asked the application to end; the timers are stopped then.
    bool TerminationRequested() const { return terminationRequested_; }

private:
    std::shared_ptr<IEncoder> Encoder(IEncoderApp& app);
    // Writes why the encoder stopped by itself to the log, once per reason and server until the stream
    // is on the air again: the restarts every 10 s would otherwise repeat it all day.
    void LogStopReason(IEncoderApp& app);
    // The dead-air keys of cfg.ini; what is wrong with them goes to the log.
    void LoadDeadAirSettings();
    // The recording keys of cfg.ini; what is wrong with them goes to the log.
    void LoadRecordingSettings();
    // Tells the operator, once each time, that the recording paused for lack of free space.
    void WatchRecording(const TStreamDetails& details);
    std::unique_ptr<zv::ITimer> MakeTimer(int interval, bool enabled, void (TStationController::*handler)());
    void RequestTermination();

    TSettings settings_;
    QString currentServer_;
    std::shared_ptr<IEncoderApp> encoderApp_;
    std::uint8_t runState_ = 0;
    bool connected_ = false;
    std::filesystem::path programFolder_;
    zv::IClock& clock_;
    CoEncoderApp& coEncoderApp_;
    IMessageBoxes& boxes_;
    IStationWindow& window_;
    ISettingsFields* fields_ = nullptr;
    TConfigStore config_;
    TEventLog log_;
    bool terminationRequested_ = false;
    QString encoderServer_; // the server the current encoder was started on
    std::map<QString, QString> loggedStopReasons_; // last reason logged, by server; cleared on air
    TStreamDetailsWatch details_;
    TDeadAirDetector deadAirDetector_ { 2, 44100 };
    TDeadAirAlarm deadAir_ { deadAirDetector_ };
    TRecordingSettings recording_;
    TRecordingState recordingState_ = TRecordingState::Off; // as the last poll saw it
};
