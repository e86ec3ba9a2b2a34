#pragma once

// Wave-in capture: records from an input device into a ring of buffers and hands every filled
// buffer down its chain. The owner's thread (the thread that created the component, running a Qt
// event loop) sets properties and calls Open/Start/Pause/Restart/Stop/Close; in cmThread mode the
// capture thread runs BufferDone and so DeliverBuffer. A Stop or Close asked for while a buffer is
// being handled is finished later on the owner's thread, through a posted event.
//
// Devices: DeviceCount, then set DeviceID to 0 ... DeviceCount-1 and read ProductName, or use
// DeviceNames() / DeviceIdOf(name). The binding (ALSA or synthetic) is zv::DefaultWaveIn() unless
// one is passed in. Naming a device does not open it: its formats are read when a format is
// checked (CanRecordFormat, at Open).

#include "audio/MMAlloc.h"
#include "audio/MMDSPObj.h"
#include "platform/Exception.h"
#include "platform/WaveIn.h"

#include <QStringList>
#include <array>
#include <atomic>
#include <climits>
#include <exception>
#include <memory>
#include <mutex>

ZV_DECLARE_EXCEPTION(EMMWaveInError, Exception);

enum TMMCallBackMode { cmWindow, cmCallback, cmThread };
enum TMMTimeFormat { tfMillisecond, tfByte, tfSample };
enum TMMThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// DeviceState is a set of these.
enum TMMDeviceStateFlag : unsigned { dsClosed = 0x1, dsOpened = 0x2, dsStarted = 0x4, dsPaused = 0x8 };

class QEvent;
class TMMWaveInThread;
class TMMWaveInWindow;

class TMMCustomWaveIn : public TMMCustomSoundComponent {
    Q_OBJECT
public:
    static constexpr int MaxNumBuffers = 500;

    TMMCustomWaveIn(zv::WaveInOps& Binding, QObject* AOwner = nullptr);
    ~TMMCustomWaveIn() override;

    // ---- properties; setters of the device-related ones refuse while the device is open ----
    int GetBufferSize() const override { return FBufferSize; }
    void SetBufferSize(int Value) override;
    virtual void SetNumBuffers(int Value);
    virtual int GetNumBuffers() const { return FNumBuffers; }
    int NumBuffers() const { return GetNumBuffers(); }
    virtual void SetDeviceID(TMMDeviceId Value);
    virtual TMMDeviceId GetDeviceID() const { return FDeviceID; }
    TMMDeviceId DeviceID() const { return GetDeviceID(); }
    virtual void SetProductName(const QString&) { }
    virtual QString GetProductName() const { return FProductName; }
    QString ProductName() const { return GetProductName(); }
    // The selected device's name whole (ProductName is cut to 31 bytes): what lists show and what
    // chooses the device again.
    QString FullProductName() const;
    virtual void SetCallBackMode(TMMCallBackMode Value);
    virtual TMMCallBackMode GetCallBackMode() const { return FCallBackMode; }
    TMMCallBackMode CallBackMode() const { return GetCallBackMode(); }
    void SetMode(TMMMode Value);
    TMMMode Mode() const { return FMode; }
    void SetBitLength(TMMBits Value);
    TMMBits BitLength() const { return FBitLength; }
    void SetSampleRate(int Value);
    int SampleRate() const { return FSampleRate; }
    void SetTimeFormat(TMMTimeFormat Value);
    TMMTimeFormat TimeFormat() const { return FTimeFormat; }
    void SetMaxRecordTime(int Value);
    int MaxRecordTime() const { return FMaxRecordTime; }
    void SetPriority(TMMThreadPriority Value) { FPriority = Value; }
    TMMThreadPriority Priority() const { return FPriority; }

    int DeviceCount() const { return FDeviceCount; }
    unsigned DeviceState() const { return FDeviceState; }
    std::uint32_t DriverVersion() const { return FDriverVersion; }
    // The text of the last error reported through OnError.
    QString ErrorMessage() const { return FErrorMessage; }

    // ---- operations ----
    virtual void Open();
    virtual void Close();
    virtual void Start();
    virtual void Pause();
    virtual void Restart();
    virtual void Stop();
    bool CanRecordFormat(TMMDeviceId Id, const TWaveFormatEx* Format);
    // Sample frames the device recorded since start.
    std::int64_t Position();
    // One buffer returned by the device.
    void BufferDone(PWaveHdr lpWaveHdr);

    void SetWaveFormat(const TWaveFormatEx* Value) override;
    void SetOutput(TMMDSPComponent* Value) override;
    void DeliverBuffer(PWaveHdr lpWaveHdr) override;

    // Product names of the binding's devices, in device-id order.
    static QStringList DeviceNames(zv::WaveInOps& Binding = zv::DefaultWaveIn());
    // The id of the device that name chooses (WaveInOps::DeviceIdOf: a whole name, or one cut to
    // 31 bytes), or InvalidId.
    static TMMDeviceId DeviceIdOf(const QString& ProductName, zv::WaveInOps& Binding = zv::DefaultWaveIn());
    // The devices' names whole (DeviceNames cuts them to 31 bytes), for lists and messages.
    static QStringList FullDeviceNames(zv::WaveInOps& Binding = zv::DefaultWaveIn());
    // Lists the binding's devices anew (DeviceCount follows) and selects the one that name chooses
    // (as DeviceIdOf); false, with no device selected, when there is none. The device must be closed.
    bool SelectDevice(const QString& ProductName);

    TNotifyEvent OnError;
    TNotifyEvent OnOpen;
    TNotifyEvent OnStart;
    TNotifyEvent OnPause;
    TNotifyEvent OnRestart;
    TNotifyEvent OnStop;
    TNotifyEvent OnClose;

protected:
    zv::WaveInOps& Binding() const { return FOps; }
    // Ends any capture for good, without firing handlers. The most derived destructor calls it
    // first: the capture thread makes virtual calls until it has ended.
    void Shutdown();
    // Fires OnError (on the owner's thread), then raises EMMWaveInError.
    [[noreturn]] virtual void Error(const QString& Message);

    void ChainOpen() override;
    void ChainClose() override;
    void ChainStart() override;
    void ChainPause() override;
    void ChainRestart() override;
    void ChainStop() override;

private:
    friend class TMMWaveInThread;
    friend class TMMWaveInWindow;

    static void DeviceCallback(zv::WaveInHandle Handle, zv::WaveInNotification Message, void* Instance,
        std::uintptr_t Param1, std::uintptr_t Param2);

    bool IsOpen() const { return (FDeviceState & dsOpened) != 0; }
    bool IsStarted() const { return (FDeviceState & dsStarted) != 0; }
    bool IsPaused() const { return (FDeviceState & dsPaused) != 0; }
    bool OnOwnerThread() const;
    void CheckClosed();
    void FireError();
    [[noreturn]] void PlatformError(const char* Prefix, int Code);
    QString PlatformText(int Code);
    void RebuildFormat();
    int ComputeByteLimit() const;
    void QueueHeader(PWaveHdr h);
    void UnprepareHeaders();
    void StartThread();
    void EndThread();
    // Bounded wait: up to 100 times 10 ms, handling our own posted buffers in cmWindow mode.
    template <typename Done> bool WaitFor(Done done);
    // A failure away from the owner's thread (device lost, error while handling a buffer):
    // handed to the owner, which closes the component and fires OnError.
    void Post(QEvent* Event); // to the private window, from any thread
    void PostFailure(const QString& Message);
    void HandleFailure(const QString& Message);
    void PostStop();
    // OnError for a failure that did not come through Error (which fired it already).
    void ReportForeign(const std::exception_ptr& Failure);
    // The end of one buffer handling: posts a pending stop once the last handling ends.
    void EndHandling();
    void FinishPendingStop();

    zv::WaveInOps& FOps;
    TMMWaveInWindow* FWindow = nullptr; // owner's thread; target of the posted events
    TMMThreadPriority FPriority = tpHigher;
    TMMDeviceId FDeviceID = 0;
    std::atomic<zv::WaveInHandle> FHandle { 0 }; // written by the owner; the capture thread compares
    std::atomic<unsigned> FDeviceState { dsClosed }; // written by the owner and the binding's notifications
    std::array<PWaveHdr, MaxNumBuffers> FHeaders {};
    std::atomic<int> FNextIndex { 0 }; // capture thread while started
    TMMCallBackMode FCallBackMode = cmWindow;
    std::atomic<int> FLastError { 0 };
    int FDeviceCount = 0;
    TWaveInCaps FCaps {}; // name and driver version of the chosen device; formats are read when checked
    QString FProductName;
    std::uint32_t FDriverVersion = 0;
    // Hand-over between a Stop/Close on the owner's thread and a buffer handled on the capture
    // thread: changed under FLock where the order matters, read anywhere.
    std::atomic<int> FInHandler { 0 };
    std::atomic<bool> FStopPending { false };
    std::atomic<bool> FClosePending { false };
    std::atomic<bool> FStopping { false };
    std::atomic<bool> FClosing { false };
    std::atomic<bool> FResetting { false };
    std::atomic<bool> FStopPosted { false };
    std::atomic<unsigned> FRun { 0 }; // counts Starts; a posted stop names its run
    std::atomic<std::int64_t> FBytesDelivered { 0 }; // capture thread; reset at Start
    std::atomic<std::uint32_t> FLastPosition { 0 }; // capture thread
    std::atomic<std::uint32_t> FWrapCount { 0 };
    std::atomic<std::uint32_t> FHighPart { 0 };
    int FNumBuffers = 10;
    std::atomic<int> FQueued { 0 }; // buffers handed to the device and not yet returned; under FLock
    TMMTimeFormat FTimeFormat = tfByte;
    TWaveFormatEx FPCMFormat {};
    TMMMode FMode = mMono;
    TMMBits FBitLength = b8Bit;
    int FSampleRate = 11025;
    std::atomic<int> FMaxRecordTime { -1 }; // may change while capturing
    std::atomic<int> FByteLimit { INT_MAX };
    TMMAllocator FAllocator;
    std::atomic<bool> FThreadFailed { false };
    std::unique_ptr<TMMWaveInThread> FThread;
    std::mutex FLock; // Queued, the stop-and-reset sequence, the re-queue and the stop hand-over
    int FBufferSize = 2048;
    QString FErrorMessage;
    QString FFailureMessage; // owner's thread: a failure waiting for the close to end
    bool FFailurePending = false; // owner's thread
    std::atomic<unsigned> FPosted { 0 };
};

class TMMWaveIn : public TMMCustomWaveIn {
    Q_OBJECT
    Q_PROPERTY(TMMDSPComponent* Output READ GetOutput WRITE SetOutput)
    Q_PROPERTY(int BufferSize READ GetBufferSize WRITE SetBufferSize)
    Q_PROPERTY(int NumBuffers READ GetNumBuffers WRITE SetNumBuffers)
    Q_PROPERTY(int DeviceID READ GetDeviceID WRITE SetDeviceID)
    Q_PROPERTY(QString ProductName READ GetProductName)
    Q_PROPERTY(int SampleRate READ SampleRate WRITE SetSampleRate)
    Q_PROPERTY(int MaxRecordTime READ MaxRecordTime WRITE SetMaxRecordTime)
public:
    explicit TMMWaveIn(QObject* AOwner = nullptr);
    explicit TMMWaveIn(zv::WaveInOps& Binding, QObject* AOwner = nullptr);
    ~TMMWaveIn() override;
};
