#include "station/AccountBrowser.h"

#include "account/AccountHelperProtocol.h"
#include "platform/ProgramFolder.h"
#include "station/StationVersion.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

// One run of the helper: its process, the lines it prints and its bounds. Asked to stop, it closes
// the helper's input, which ends the helper; one that does not end in time is killed.
class THelperRun final : public QObject {
public:
    std::function<void(const zv::account::Report&)> OnReport;
    std::function<void()> OnEnded; // the process ended, failed to start or was killed

    THelperRun(const QString& program, const QStringList& arguments, const QByteArray& request,
        const zv::AccountHelperOptions& options, bool bounded, QObject* parent)
        : QObject(parent)
        , FEndTimeout(options.EndTimeout)
    {
        FProcess.setProgram(program);
        FProcess.setArguments(arguments);
        // What the engine says goes to the program's own standard error; the helper sorts it.
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        connect(&FProcess, &QProcess::readyReadStandardOutput, this, [this] { ReadLines(); });
        connect(&FProcess, &QProcess::finished, this, [this] { Ended(); });
        connect(&FProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                Ended();
            }
        });
        FProcess.start();
        FProcess.write(request);
        if (bounded) {
            QTimer::singleShot(options.ReadTimeout, this, [this] { FProcess.kill(); });
        }
    }

    ~THelperRun() override
    {
        // The program's end: the helper is asked to end, so its engine takes its processes along,
        // and killed when it does not.
        FProcess.disconnect(this);
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.closeWriteChannel();
            if (!FProcess.waitForFinished(int(FEndTimeout.count()))) {
                FProcess.kill();
                FProcess.waitForFinished(1000);
            }
        }
    }

    // Ends the run without a word more to its owner; the run deletes itself once the process is gone.
    void Stop()
    {
        OnReport = nullptr;
        OnEnded = nullptr;
        if (FProcess.state() == QProcess::NotRunning) {
            deleteLater();
            return;
        }
        FStopping = true;
        FProcess.closeWriteChannel();
        QTimer::singleShot(FEndTimeout, this, [this] { FProcess.kill(); });
    }

private:
    void ReadLines()
    {
        while (FProcess.canReadLine()) {
            const zv::account::Report report = zv::account::ParseReport(FProcess.readLine());
            if (OnReport) {
                OnReport(report);
            }
        }
        // A line is a few dozen bytes: a helper that says this much without one is not ours.
        if (FProcess.bytesAvailable() > 64 * 1024) {
            FProcess.kill();
        }
    }

    void Ended()
    {
        if (FEnded) {
            return;
        }
        FEnded = true;
        if (FStopping) {
            deleteLater();
            return;
        }
        ReadLines();
        if (const auto ended = OnEnded) {
            ended();
        }
    }

    QProcess FProcess;
    std::chrono::milliseconds FEndTimeout;
    bool FStopping = false;
    bool FEnded = false;
};

class THelperAccountBrowser final : public TAccountBrowser {
public:
    THelperAccountBrowser(QWidget* parent, const zv::AccountHelperOptions& options)
        : FOptions(options)
        , FView(new QWidget(parent))
    {
        FView->setObjectName(QStringLiteral("WebBrowser1"));
        if (FOptions.Executable.isEmpty()) {
            FOptions.Executable = DefaultExecutable();
        }
    }

    ~THelperAccountBrowser() override { SetShown(false); }

    QWidget* View() const override { return FView; }

    void Post(const TAccountRequest& request) override
    {
        FRequest = zv::account::EncodeRequest({ request.Url, request.Body, request.Headers });
        if (FRead) {
            FRead->Stop();
        }
        auto* run = new THelperRun(
            FOptions.Executable, { QStringLiteral("--read") }, FRequest, FOptions, true, this);
        FRead = run;
        auto reported = std::make_shared<bool>(false);
        run->OnReport = [this, reported](const zv::account::Report& report) {
            if (report.What == zv::account::Report::Kind::Limit && !*reported) {
                *reported = true;
                emit PageLoaded(report.Limit);
            }
        };
        run->OnEnded = [this, run, reported] {
            FRead = nullptr;
            run->deleteLater();
            // A helper that failed, crashed, said nothing we know or ran out of time: no limit.
            if (!*reported) {
                emit PageLoaded(std::nullopt);
            }
        };
    }

    void SetShown(bool shown) override
    {
        if (!shown) {
            delete FContainer.data();
            if (FShow) {
                FShow->Stop();
                FShow = nullptr;
            }
            return;
        }
        if (FShow || FRequest.isEmpty()) {
            return; // shown already, or nothing posted yet: the panel stays empty
        }
        QStringList arguments { QStringLiteral("--show"),
            QStringLiteral("%1x%2").arg(FView->width()).arg(FView->height()) };
        const bool embed = QGuiApplication::platformName() == QLatin1String("xcb");
        if (!embed) {
            // Only X11 lets one program's window go into another's.
            arguments << QStringLiteral("--top-level") << ApplicationTitle();
        }
        auto* run = new THelperRun(FOptions.Executable, arguments, FRequest, FOptions, false, this);
        FShow = run;
        run->OnReport = [this, embed](const zv::account::Report& report) {
            if (report.What == zv::account::Report::Kind::Limit) {
                emit PageLoaded(report.Limit);
            } else if (report.What == zv::account::Report::Kind::Window && embed && !FContainer) {
                Embed(report.Window);
            }
        };
        run->OnEnded = [this, run] {
            delete FContainer.data();
            FShow = nullptr;
            run->deleteLater();
        };
    }

private:
    static QString DefaultExecutable()
    {
        // The program folder holds the program or a link to it (the package's launcher links the
        // installed program there); the helper lies beside the program file itself.
        const QString name = QString::fromLatin1(zv::account::HelperExecutableName);
        QString inFolder = QString::fromStdString((zv::ProgramFolder() / name.toStdString()).string());
        if (QFileInfo(inFolder).isExecutable()) {
            return inFolder;
        }
        return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    }

    void Embed(quint64 id)
    {
        QWindow* window = QWindow::fromWinId(WId(id));
        if (!window) {
            return;
        }
        FContainer = QWidget::createWindowContainer(window, FView);
        FContainer->setGeometry(FView->rect());
        FContainer->show();
    }

    zv::AccountHelperOptions FOptions;
    QPointer<QWidget> FView;
    QPointer<QWidget> FContainer; // holds the helper's window while shown
    QByteArray FRequest; // the last posted request, as the helper reads it
    THelperRun* FRead = nullptr; // the read under way
    THelperRun* FShow = nullptr; // the helper showing the page
};

} // namespace

QString zv::LimitScript()
{
    return zv::account::LimitScript();
}

std::unique_ptr<TAccountBrowser> zv::MakeWebAccountBrowser(
    QWidget* parent, const AccountHelperOptions& options)
{
    return std::make_unique<THelperAccountBrowser>(parent, options);
}
