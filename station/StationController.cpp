#include "station/StationController.h"

#include "encoder/EncoderStrings.h"
#include "platform/ResStrings.h"
#include "station/AccountPage.h"
#include "station/EncoderFolder.h"
#include "station/EncodingFile.h"
#include "station/StationStrings.h"
#include "station/StrToInt.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <cxxabi.h>
#include <typeinfo>
#include <vector>

namespace {

constexpr TRgb kYellow { 255, 255, 0 };
constexpr TRgb kLime { 0, 255, 0 };
constexpr TRgb kRed { 255, 0, 0 };

// The type name of an error that does not name itself.
QString TypeName(const std::exception& error)
{
    int status = 0;
    char* name = abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &status);
    QString text = QString::fromUtf8(status == 0 && name ? name : typeid(error).name());
    std::free(name);
    return text;
}

bool FileExists(const QString& path)
{
    return QFileInfo(path).isFile();
}

// The texts the encoder process builds its stop reasons from. It runs without the chosen language, so
// they come in the built-in wording.
constexpr zv::EncoderStringId kEncoderReasons[] = { zv::SSourceWrongPassword, zv::SSourceMountInUse,
    zv::SSourceRefusedSaying, zv::SServerCertificateRefused, zv::SNoTlsConnection,
    zv::STlsHandshakeUnanswered, zv::SSoundServerNotAnswering };

// A reason in the built-in wording of one of those texts, in the chosen language's wording with the same
// arguments; any other reason as it came.
QString TranslatedReason(const QString& reason)
{
    static const QRegularExpression placeholder(QStringLiteral("%([1-9])"));
    for (const zv::EncoderStringId id : kEncoderReasons) {
        const QString builtIn = zv::BuiltInResString(id).simplified(); // as the reason is
        QString pattern;
        std::vector<int> groupOf(10, 0); // placeholder number -> its first capture group
        int groups = 0;
        qsizetype from = 0;
        for (auto it = placeholder.globalMatch(builtIn); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            pattern += QRegularExpression::escape(builtIn.mid(from, m.capturedStart() - from));
            const int n = m.captured(1).toInt();
            if (groupOf[n] == 0) {
                groupOf[n] = ++groups;
                pattern += QStringLiteral("(.*)");
            } else {
                pattern += QStringLiteral("\\%1").arg(groupOf[n]);
            }
            from = m.capturedEnd();
        }
        pattern += QRegularExpression::escape(builtIn.mid(from));
        const QRegularExpressionMatch whole
            = QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(reason);
        if (!whole.hasMatch()) {
            continue;
        }
        // One pass over the translation, so a '%' inside an argument stays as it is.
        const QString translated = zv::LoadResString(id);
        QString text;
        from = 0;
        for (auto it = placeholder.globalMatch(translated); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const int n = m.captured(1).toInt();
            text += translated.mid(from, m.capturedStart() - from);
            text += groupOf[n] ? whole.captured(groupOf[n]) : m.captured();
            from = m.capturedEnd();
        }
        return text + translated.mid(from);
    }
    return reason;
}

} // namespace

TStationController::TStationController(std::filesystem::path programFolder, zv::IClock& clock,
    CoEncoderApp& coEncoderApp, IMessageBoxes& boxes, IStationWindow& window)
    : programFolder_(std::move(programFolder))
    , clock_(clock)
    , coEncoderApp_(coEncoderApp)
    , boxes_(boxes)
    , window_(window)
    , config_(programFolder_)
    , log_(programFolder_)
{
    TimerInicio = MakeTimer(100, true, &TStationController::OnTimerInicio);
    TimerStatus = MakeTimer(1000, false, &TStationController::OnTimerStatus);
    TimerVerifica = MakeTimer(10000, true, &TStationController::OnTimerVerifica);
    TimerVerificaServidor = MakeTimer(60000, true, &TStationController::OnTimerVerificaServidor);
    TimerSilencio = MakeTimer(1000, true, &TStationController::OnTimerSilencio);
}

TStationController::~TStationController() = default;

std::unique_ptr<zv::ITimer> TStationController::MakeTimer(
    int interval, bool enabled, void (TStationController::*handler)())
{
    auto timer = clock_.CreateTimer();
    timer->SetInterval(interval);
    SetTimerHandler(*timer, [this, handler] { (this->*handler)(); });
    timer->SetEnabled(enabled);
    return timer;
}

void TStationController::SetTimerHandler(zv::ITimer& timer, std::function<void()> handler)
{
    timer.SetOnTimer([this, handler = std::move(handler)] { Guard(handler); });
}

void TStationController::Create()
{
    // What a new cfg.ini holds, until the file is read: where it can be neither read nor made (a
    // read-only folder), the program runs on these, not on empty values that the first show, closing
    // the settings window and the fail-over would each refuse as not a number.
    settings_ = DefaultSettings();
    currentServer_ = settings_.ServerDefault + QLatin1Char('.') + settings_.Servidor;
    Guard([this] { LoadSettings(); });
}

// --- configuration

void TStationController::LoadSettings()
{
    settings_ = config_.LoadSettings();
    currentServer_ = settings_.ServerDefault + QLatin1Char('.') + settings_.Servidor;
    LoadDeadAirSettings();
    LoadRecordingSettings();
}

void TStationController::LoadRecordingSettings()
{
    QStringList problems;
    recording_ = ReadRecordingSettings(zv::ProfileFile::Read(config_.Path()), problems);
    for (const QString& problem : problems) {
        WriteLog(problem, QStringLiteral("Erro"), QStringLiteral("LoadSettings"));
    }
}

void TStationController::SetRecording(bool on)
{
    WriteRecordingSwitch(config_.Path(), on);
    recording_.Enabled = on;
    WriteLog(on ? zv::LoadResString(zv::SRecordingSwitchedOn).arg(recording_.Folder)
                : zv::LoadResString(zv::SRecordingSwitchedOff),
        QStringLiteral("Processo normal"), QStringLiteral("Gravar"));
    if (!FileExists(UserEncodingFile())) {
        return; // the first encoding file will carry it
    }
    RebuildEncodingFile();
    const std::shared_ptr<IEncoderApp> app = encoderApp_;
    if (app) {
        const HRESULT result = Encoder(*app)->ReloadRecording(UserEncodingFile());
        // An encoder that cannot, or that ended meanwhile: the next start reads the file.
        if (result != E_NOTIMPL && result != E_ENCODER_GONE) {
            CheckResult(result, "ReloadRecording");
        }
    }
}

void TStationController::WatchRecording(const TStreamDetails& details)
{
    if (details.Recording == TRecordingState::PausedLowSpace && recordingState_ != details.Recording) {
        const QString message = zv::LoadResString(zv::SRecordingPausedWarning).arg(details.RecordingFolder);
        WriteLog(message, QStringLiteral("Aviso"), QStringLiteral("TimerStatus"));
        window_.RecordingWarning(message);
    }
    recordingState_ = details.Recording;
}

void TStationController::LoadDeadAirSettings()
{
    QStringList problems;
    deadAir_.SetSettings(ReadDeadAirSettings(zv::ProfileFile::Read(config_.Path()), problems));
    for (const QString& problem : problems) {
        WriteLog(problem, QStringLiteral("Erro"), QStringLiteral("LoadSettings"));
    }
}

void TStationController::WriteDefaultSettings()
{
    config_.WriteDefaultSettings();
}

namespace {

// The user name becomes a file name in the program folder; a separator would lead elsewhere, and
// "padrao" would make the template itself the user's file, rewritten with this user's values.
void CheckUserFileName(const QString& usuario)
{
    if (usuario.contains(QLatin1Char('/')) || usuario.contains(QChar(0))
        || usuario == QLatin1String("padrao")) {
        throw EEncodingFileError(zv::LoadResString(zv::SUserNameNotAFile).arg(usuario));
    }
}

} // namespace

void TStationController::CheckDialogSettings(const TDialogSettings& values)
{
    CheckDialogFields(values);
    CheckUserFileName(values.Usuario);
}

void TStationController::SaveSettings(const TDialogSettings& values)
{
    // Refused before anything is written: saved, a user name that names no file would stop the encoder
    // and then fail to name the new encoding file, leaving the station off the air.
    CheckDialogSettings(values);
    config_.WriteDialogSettings(values);
    LoadSettings();
}

// --- encoding file

QString TStationController::UserEncodingFile() const
{
    CheckUserFileName(settings_.Usuario);
    return QString::fromStdString((programFolder_ / "").string()) + settings_.Usuario
        + QStringLiteral(".xml");
}

QString TStationController::TemplateFile() const
{
    return QString::fromStdString((programFolder_ / "padrao.xml").string());
}

void TStationController::RebuildEncodingFile()
{
    const QString target = UserEncodingFile();
    QString source = target;
    if (!FileExists(target)) {
        if (!FileExists(TemplateFile())) {
            boxes_.ShowMessage(window_.Caption(QStringLiteral("lblArquivosConfiguracaoPadraoNaoExistente")));
            RequestTermination();
            throw EAbandonStep("template missing");
        }
        source = TemplateFile();
    }
    if (!fields_) {
        throw EEncodingFileError(zv::LoadResString(zv::SNoSettingsWindow));
    }
    const TEncodingValues values { fields_->RadioName(), fields_->SelectedSoundCard(), currentServer_,
        fields_->UserName(), recording_ };
    RebuildEncodingFileFrom(source, target, values, settings_.Kbps);
}

void TStationController::RequestTermination()
{
    terminationRequested_ = true;
    for (auto* timer : { TimerInicio.get(), TimerStatus.get(), TimerVerifica.get(),
             TimerVerificaServidor.get(), TimerSilencio.get() }) {
        timer->SetEnabled(false);
    }
    window_.RequestTermination();
}

// --- encoder

std::shared_ptr<IEncoder> TStationController::Encoder(IEncoderApp& app)
{
    std::shared_ptr<IEncoder> encoder;
    CheckResult(app.GetEncoder(encoder), "GetEncoder");
    if (!encoder) {
        CheckResult(E_POINTER, "GetEncoder");
    }
    return encoder;
}

void TStationController::StartEncoder()
{
    const QString path = UserEncodingFile();
    std::shared_ptr<IEncoderApp> app;
    CheckResult(coEncoderApp_.Create(app), "CoEncoderApp");
    if (!app) {
        CheckResult(E_POINTER, "CoEncoderApp");
    }
    // The previous object is released, not stopped.
    encoderApp_ = app;
    encoderServer_ = currentServer_;
    CheckResult(Encoder(*app)->Load(path), "Load");
    CheckResult(Encoder(*app)->Start(), "Start");
    std::int32_t state = 0;
    CheckResult(Encoder(*app)->GetRunState(state), "GetRunState");
    runState_ = static_cast<std::uint8_t>(state & 0xFF);
    TimerStatus->SetEnabled(true);
}

void TStationController::StopEncoder()
{
    // A local reference: the object stays alive for the call even if a nested handler replaces it.
    const std::shared_ptr<IEncoderApp> app = encoderApp_;
    if (app) {
        CheckResult(Encoder(*app)->Stop(), "Stop");
    }
}

void TStationController::RestartEncoderAfterSave(const QString& previousUsuario)
{
    if (runState_ == EncoderRunState::Running) {
        StopEncoder();
    }
    RebuildEncodingFile();
    StartEncoder();
    if (settings_.Usuario != previousUsuario) {
        StartEncoder();
    }
}

// --- account page

void TStationController::AccountPageLoaded(const std::optional<QString>& limit) noexcept
{
    const QString remembered = settings_.Kbps;
    try {
        if (!limit || limit->isEmpty()) {
            return;
        }
        settings_.Kbps = KbpsForLimit(StrToInt(*limit));
        if (settings_.Kbps == remembered) {
            return;
        }
        config_.WriteKbps(settings_.Kbps);
        if (runState_ == EncoderRunState::Running) {
            StopEncoder();
        }
        RebuildEncodingFile();
        StartEncoder();
    } catch (...) {
        // The page is the network's, not the operator's: what goes wrong here is shown nowhere. What
        // was done stays done, the new Kbps included.
    }
}

// --- timer handlers

void TStationController::OnTimerInicio()
{
    TimerInicio->SetEnabled(false);
    if (FileExists(UserEncodingFile())) {
        RebuildEncodingFile();
    }
    if (FileExists(UserEncodingFile())) {
        if (zv::EncoderExecutableExists(programFolder_)) {
            StartEncoder();
            WriteLog(window_.Caption(QStringLiteral("lblFoiExecutadoEncoder")),
                QStringLiteral("Processo normal"), QStringLiteral("VerificaEncoder"));
        } else {
            boxes_.ShowMessage(window_.Caption(QStringLiteral("lblCodificadorNaoEncontrado")));
            WriteLog(window_.Caption(QStringLiteral("lblNaoFoiEncontradoCodificador")),
                QStringLiteral("Erro"), QStringLiteral("FormCreate"));
        }
    } else {
        boxes_.ShowMessage(window_.Caption(QStringLiteral("lblArquivoCodificacaoNaoEncontrado")));
        WriteLog(window_.Caption(QStringLiteral("lblNaoFoiEncontradoArquivoCodificacao")),
            QStringLiteral("Erro"), QStringLiteral("FormCreate"));
        window_.ShowSettingsModal();
    }
}

void TStationController::OnTimerStatus()
{
    const std::shared_ptr<IEncoderApp> app = encoderApp_;
    if (!app) {
        return;
    }
    std::int32_t state = 0;
    CheckResult(Encoder(*app)->GetRunState(state), "GetRunState");
    runState_ = static_cast<std::uint8_t>(state & 0xFF);
    if (runState_ == EncoderRunState::Stopped) {
        CheckResult(Encoder(*app)->AcknowledgeStopped(), "AcknowledgeStopped");
        TimerStatus->SetEnabled(false);
        LogStopReason(*app);
    }
    QString statusText;
    switch (runState_) {
    case EncoderRunState::Starting:
        statusText = window_.Caption(QStringLiteral("lblConectando"));
        window_.SetStatus(statusText, kYellow);
        connected_ = false;
        // Only when off: a running fail-over period must not restart with every poll.
        if (!TimerVerificaServidor->Enabled()) {
            TimerVerificaServidor->SetEnabled(true);
        }
        break;
    case EncoderRunState::Running:
        statusText = window_.Caption(QStringLiteral("lblConectado"));
        window_.SetStatus(statusText, kLime);
        connected_ = true;
        loggedStopReasons_.clear();
        window_.SetStopReason(QString());
        TimerVerificaServidor->SetEnabled(false);
        break;
    case EncoderRunState::Stopping:
        statusText = window_.Caption(QStringLiteral("lblDesconectando"));
        window_.SetStatus(statusText, kYellow);
        connected_ = false;
        break;
    case EncoderRunState::Stopped:
        statusText = window_.Caption(QStringLiteral("lblDesconectado"));
        window_.SetStatus(statusText, kRed);
        connected_ = false;
        if (!TimerVerificaServidor->Enabled()) {
            TimerVerificaServidor->SetEnabled(true);
        }
        break;
    default:
        break;
    }
    if (!statusText.isEmpty()) {
        window_.SetStatusDetails(details_.Poll(app.get(), statusText, [this](const QString& line) {
            WriteLog(line, QStringLiteral("Processo normal"), QStringLiteral("TimerStatus"));
        }));
        WatchRecording(details_.Last());
    }
    window_.ProcessPendingEvents();
}

void TStationController::OnTimerSilencio()
{
    const std::optional<TDeadAirChange> change = deadAir_.Tick();
    if (!change) {
        return;
    }
    if (change->Message.isEmpty()) {
        // Cleared by new settings: nothing to log.
        window_.DeadAirChanged(change->Silent, change->Message, change->SilentSeconds);
        return;
    }
    WriteLog(change->Message, change->Silent ? QStringLiteral("Aviso") : QStringLiteral("Processo normal"),
        QStringLiteral("TimerSilencio"));
    window_.DeadAirChanged(change->Silent, change->Message, change->SilentSeconds);
}

void TStationController::LogStopReason(IEncoderApp& app)
{
    // For the log and the status hint only: an encoder that cannot say costs the entry and the hint,
    // never the poll.
    std::shared_ptr<IEncoder> encoder;
    QString reason;
    if (Failed(app.GetEncoder(encoder)) || !encoder || Failed(encoder->GetStopReason(reason))) {
        window_.SetStopReason(QString());
        return;
    }
    reason = reason.simplified();
    const QString text
        = reason.isEmpty() ? QString() : zv::LoadResString(zv::SEncoderStopped).arg(TranslatedReason(reason));
    window_.SetStopReason(text);
    QString& logged = loggedStopReasons_[encoderServer_];
    if (reason.isEmpty() || reason == logged) {
        return;
    }
    logged = reason;
    WriteLog(text, QStringLiteral("Erro"), QStringLiteral("TimerStatus"));
}

void TStationController::OnTimerVerifica()
{
    if (runState_ == EncoderRunState::Stopped) {
        StartEncoder();
    }
}

void TStationController::OnTimerVerificaServidor()
{
    if (runState_ == EncoderRunState::Running) {
        return;
    }
    const QString ns1 = QStringLiteral("ns1.") + settings_.Servidor;
    currentServer_ = (currentServer_ == ns1) ? QStringLiteral("ns2.") + settings_.Servidor : ns1;
    RebuildEncodingFile();
    StartEncoder();
}

// --- log and errors

int TStationController::WriteLog(const QString& description, const QString& action, const QString& process)
{
    return log_.WriteLog(description, action, process);
}

void TStationController::AppException(const std::exception& error) noexcept
{
    try {
        if (dynamic_cast<const EAbandonStep*>(&error)) {
            return;
        }
        const auto* own = dynamic_cast<const Exception*>(&error);
        const QString message = own ? own->Message() : QString::fromUtf8(error.what());
        const QString type = own ? QString::fromUtf8(own->ClassName()) : TypeName(error);
        try {
            boxes_.ShowError(message);
        } catch (...) {
            // The box failing must not cost the log entry.
        }
        // The encoder's result code is for whoever reads the log, not for the operator's box.
        const auto* encoder = dynamic_cast<const EEncoderError*>(&error);
        WriteLog(encoder ? encoder->MessageWithCode() : message, type, QString());
    } catch (...) {
    }
}

void TStationController::Guard(const std::function<void()>& step) noexcept
{
    try {
        step();
    } catch (const std::exception& error) {
        AppException(error);
    } catch (...) {
        AppException(Exception(zv::LoadResString(zv::SUnknownError)));
    }
}

bool TStationController::CloseStep()
{
    bool stopped = false;
    Guard([&] {
        StopEncoder();
        stopped = true;
    });
    return stopped;
}
