#include "audio/MMWavIn.h"

#include "platform/ResStrings.h"
#include "platform/ThreadPriority.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kThreadTimeout = 5000ms;

const QEvent::Type kStopEvent = QEvent::Type(QEvent::registerEventType());
const QEvent::Type kDataEvent = QEvent::Type(QEvent::registerEventType());
const QEvent::Type kFailureEvent = QEvent::Type(QEvent::registerEventType());

struct DataEvent : QEvent {
    DataEvent(zv::WaveInHandle h, PWaveHdr hdr)
        : QEvent(kDataEvent)
        , handle(h)
        , header(hdr)
    {
    }
    zv::WaveInHandle handle;
    PWaveHdr header;
};

struct StopEvent : QEvent {
    explicit StopEvent(unsigned r)
        : QEvent(kStopEvent)
        , run(r)
    {
    }
    unsigned run; // the run whose handling asked for the stop
};

struct FailureEvent : QEvent {
    explicit FailureEvent(QString text)
        : QEvent(kFailureEvent)
        , message(std::move(text))
    {
    }
    QString message;
};

int PriorityLevel(TMMThreadPriority p)
{
    static const int levels[] = { -15, -2, -1, 0, 1, 2, 15 };
    return levels[std::clamp(int(p), 0, 6)];
}

QString MessageOf(const std::exception_ptr& e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return QString::fromUtf8(x.what());
    } catch (...) {
        return QStringLiteral("WaveIn:\n\r") + zv::LoadResString(zv::SUnknownError);
    }
}

} // namespace

// ---- the private message window --------------------------------------------------------------

// Stands for the hidden window: events posted to it run on the owner's thread.
class TMMWaveInWindow : public QObject {
public:
    explicit TMMWaveInWindow(TMMCustomWaveIn& owner)
        : FOwner(owner)
    {
    }

protected:
    void customEvent(QEvent* e) override
    {
        FOwner.FPosted.load(std::memory_order_acquire); // pairs with Post
        // Nothing may escape into the event loop: failures end in OnError and a closed component.
        if (e->type() == kStopEvent) {
            // A stop that a later Start overtook belongs to a run that has ended already.
            if (static_cast<StopEvent*>(e)->run != FOwner.FRun) {
                return;
            }
            try {
                FOwner.Stop();
            } catch (...) {
                // Stop reported it through OnError and closed the device.
            }
        } else if (e->type() == kDataEvent) {
            auto* data = static_cast<DataEvent*>(e);
            if (data->handle != FOwner.FHandle) {
                return; // a buffer of a device closed meanwhile
            }
            try {
                FOwner.BufferDone(data->header);
            } catch (...) {
                FOwner.HandleFailure(MessageOf(std::current_exception()));
            }
        } else if (e->type() == kFailureEvent) {
            FOwner.HandleFailure(static_cast<FailureEvent*>(e)->message);
        }
    }

private:
    TMMCustomWaveIn& FOwner;
};

// ---- the capture thread ----------------------------------------------------------------------

// Receives every returned buffer as a thread message and runs BufferDone for it.
class TMMWaveInThread {
public:
    explicit TMMWaveInThread(TMMCustomWaveIn& owner)
        : FOwner(owner)
        , FQueue(kCapacity)
    {
    }
    ~TMMWaveInThread()
    {
        if (FThread.joinable()) {
            {
                std::lock_guard g(FLock);
                FQuit = true;
            }
            FWake.notify_all();
            FThread.join();
        }
    }

    // Runs the thread and waits for it to be ready.
    bool Start(int priority, std::chrono::milliseconds timeout)
    {
        FThread = std::thread(&TMMWaveInThread::Run, this, priority);
        std::unique_lock lock(FLock);
        return FSignal.wait_for(lock, timeout, [this] { return FReady; });
    }

    // Asks the thread to quit and waits for it. False when it did not end in time: then it is
    // left running on its own (detached) and this object must not be destroyed.
    bool End(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(FLock);
        FQuit = true;
        FWake.notify_all();
        if (!FSignal.wait_for(lock, timeout, [this] { return FEnded; })) {
            lock.unlock();
            FThread.detach();
            return false;
        }
        lock.unlock();
        FThread.join();
        return true;
    }

    // From the binding's thread: no allocation, never blocks for long.
    bool Post(zv::WaveInHandle handle, PWaveHdr header) noexcept
    {
        {
            std::lock_guard g(FLock);
            if (FCount == FQueue.size()) {
                return false;
            }
            FQueue[(FFirst + FCount) % FQueue.size()] = { handle, header };
            ++FCount;
        }
        FWake.notify_one();
        return true;
    }

    bool IsCurrent() const { return std::this_thread::get_id() == FThread.get_id(); }

private:
    // More than the largest ring: every queued buffer comes back once.
    static constexpr std::size_t kCapacity = TMMCustomWaveIn::MaxNumBuffers + 16;

    struct Message {
        zv::WaveInHandle handle;
        PWaveHdr header;
    };

    void Run(int priority)
    {
        zv::SetCurrentThreadPriority(priority);
        std::unique_lock lock(FLock);
        FReady = true;
        FSignal.notify_all();
        for (;;) {
            FWake.wait(lock, [this] { return FQuit || FCount > 0; });
            if (FQuit) {
                break;
            }
            const Message m = FQueue[FFirst];
            FFirst = (FFirst + 1) % FQueue.size();
            --FCount;
            lock.unlock();
            if (m.handle == FOwner.FHandle) {
                try {
                    FOwner.BufferDone(m.header);
                } catch (...) {
                    FOwner.PostFailure(MessageOf(std::current_exception()));
                }
            }
            lock.lock();
        }
        FEnded = true;
        FSignal.notify_all();
    }

    TMMCustomWaveIn& FOwner;
    std::mutex FLock;
    std::condition_variable FWake; // messages or quit
    std::condition_variable FSignal; // ready or ended
    std::vector<Message> FQueue; // ring; under FLock
    std::size_t FFirst = 0;
    std::size_t FCount = 0;
    bool FQuit = false;
    bool FReady = false;
    bool FEnded = false;
    std::thread FThread;
};

// ---- TMMCustomWaveIn -------------------------------------------------------------------------

TMMCustomWaveIn::TMMCustomWaveIn(zv::WaveInOps& Binding, QObject* AOwner)
    : TMMCustomSoundComponent(AOwner)
    , FOps(Binding)
{
    FWindow = new TMMWaveInWindow(*this);
    FDeviceCount = std::max(0, FOps.GetNumDevs());
    RebuildFormat();
    SetDeviceID(0);
}

TMMCustomWaveIn::~TMMCustomWaveIn()
{
    Shutdown();
    delete FWindow;
}

void TMMCustomWaveIn::Shutdown()
{
    MarkDestroying();
    try {
        Close();
        // A stop deferred to a buffer still being handled on the capture thread: let that
        // handling end (bounded), then finish the stop and the close here.
        for (int i = 0; i < 100 && IsOpen() && FStopPending; ++i) {
            if (FInHandler == 0) {
                Stop();
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
    } catch (...) {
        // Reported through OnError while it could be; the component goes away regardless.
    }
    if (FThread) {
        EndThread();
    }
}

bool TMMCustomWaveIn::OnOwnerThread() const
{
    return QThread::currentThread() == thread();
}

void TMMCustomWaveIn::FireError()
{
    if (OnError && !InState(csDestroying)) {
        OnError(this);
    }
}

void TMMCustomWaveIn::Error(const QString& Message)
{
    // Away from the owner's thread the error travels as an exception to the capture thread's
    // handler, which hands it to the owner; handlers only ever fire on the owner's thread.
    if (OnOwnerThread()) {
        FErrorMessage = Message;
        FireError();
    }
    throw EMMWaveInError(Message);
}

QString TMMCustomWaveIn::PlatformText(int Code)
{
    char text[256] = {};
    if (FOps.GetErrorText(Code, text, sizeof text) != 0) {
        return zv::LoadResString(zv::SUnknownWaveError);
    }
    return QString::fromLocal8Bit(text);
}

void TMMCustomWaveIn::PlatformError(const char* Prefix, int Code)
{
    FLastError = Code;
    const QString message = QString::fromLatin1(Prefix) + PlatformText(Code);
    Error(message);
    throw EMMWaveInError(message); // for an override of Error that returns
}

void TMMCustomWaveIn::CheckClosed()
{
    if (IsOpen()) {
        Error(zv::LoadResString(zv::SPropertyWhileOpen));
    }
}

// ---- properties ------------------------------------------------------------------------------

void TMMCustomWaveIn::SetBufferSize(int Value)
{
    CheckClosed();
    Value = std::max(Value, 32);
    if (Value == FBufferSize) {
        return;
    }
    FBufferSize = Value;
    FAllocator.FreeAll(); // the pooled blocks have the old size
}

void TMMCustomWaveIn::SetNumBuffers(int Value)
{
    CheckClosed();
    if (Value < 2) {
        return;
    }
    FNumBuffers = std::min(Value, int(MaxNumBuffers));
}

void TMMCustomWaveIn::SetDeviceID(TMMDeviceId Value)
{
    CheckClosed();
    FProductName = zv::LoadResString(zv::SNoWaveInDevice);
    FDriverVersion = 0;
    if (FDeviceCount > 0 && Value >= MapperId && Value < FDeviceCount) {
        TWaveInCaps caps {};
        if (FOps.GetDevCapsWithoutFormats(Value, caps) == 0) {
            FCaps = caps;
            caps.szPname[sizeof caps.szPname - 1] = 0;
            FProductName = QString::fromUtf8(caps.szPname);
            FDriverVersion = caps.vDriverVersion;
        }
    }
    FDeviceID = (Value < MapperId || Value >= FDeviceCount) ? InvalidId : Value;
}

QString TMMCustomWaveIn::FullProductName() const
{
    const std::string whole = FDeviceID == InvalidId ? std::string() : FOps.FullName(FDeviceID);
    return whole.empty() ? FProductName : QString::fromStdString(whole);
}

void TMMCustomWaveIn::SetCallBackMode(TMMCallBackMode Value)
{
    CheckClosed();
    if (Value == cmCallback) {
        // Buffers handled inside the device's own notification are not supported; the mode stays.
        qWarning("TMMWaveIn: \"CallBacks\" are called at interrupt time !\n\rThis is currently only "
                 "supported under Windows 95");
        return;
    }
    FCallBackMode = Value;
}

void TMMCustomWaveIn::SetMode(TMMMode Value)
{
    CheckClosed();
    if ((Value != mMono && Value != mStereo) || Value == FMode) {
        return;
    }
    FMode = Value;
    RebuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBits Value)
{
    CheckClosed();
    if (Value == FBitLength) {
        return;
    }
    FBitLength = Value;
    RebuildFormat();
}

void TMMCustomWaveIn::SetSampleRate(int Value)
{
    CheckClosed();
    Value = std::clamp(Value, 8000, 100000);
    if (Value == FSampleRate) {
        return;
    }
    FSampleRate = Value;
    RebuildFormat();
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormat Value)
{
    if (Value == FTimeFormat) {
        return;
    }
    const TWaveFormatEx* f = WaveFormat();
    if (FMaxRecordTime >= 0 && f) {
        const int limit = FByteLimit;
        switch (Value) {
        case tfMillisecond:
            FMaxRecordTime = BytesToMs(f, limit);
            break;
        case tfSample:
            FMaxRecordTime = BytesToSamples(f, limit);
            break;
        case tfByte:
            FMaxRecordTime = limit;
            break;
        }
    }
    FTimeFormat = Value;
}

void TMMCustomWaveIn::SetMaxRecordTime(int Value)
{
    FMaxRecordTime = Value;
    FByteLimit = ComputeByteLimit();
}

int TMMCustomWaveIn::ComputeByteLimit() const
{
    const TWaveFormatEx* f = WaveFormat();
    if (FMaxRecordTime < 0 || !f || f->nAvgBytesPerSec == 0 || f->nSamplesPerSec == 0) {
        return INT_MAX;
    }
    int bytes = FMaxRecordTime;
    if (FTimeFormat == tfMillisecond) {
        bytes = MsToBytes(f, FMaxRecordTime);
    } else if (FTimeFormat == tfSample) {
        bytes = SamplesToBytes(f, FMaxRecordTime);
    }
    if (bytes < 0) {
        bytes = INT_MAX;
    }
    if (f->nBlockAlign > 0) {
        bytes -= bytes % f->nBlockAlign;
    }
    return bytes;
}

void TMMCustomWaveIn::RebuildFormat()
{
    MakePCMFormat(FPCMFormat, FBitLength == b16Bit ? 16 : 8, FMode == mStereo ? 2 : 1, FSampleRate);
    SetWaveFormat(&FPCMFormat);
}

void TMMCustomWaveIn::SetWaveFormat(const TWaveFormatEx* Value)
{
    Close();
    // A close that waits for a buffer being handled: that handling still reads the format.
    if (IsOpen() && Value != WaveFormat()) {
        Error(zv::LoadResString(zv::SPropertyWhileOpen));
    }
    if (IsPCMFormat(Value)) {
        FSampleRate = int(Value->nSamplesPerSec);
        FBitLength = Value->wBitsPerSample == 16 ? b16Bit : b8Bit;
        FMode = Value->nChannels == 2 ? mStereo : mMono;
        if (Value != &FPCMFormat) {
            MakePCMFormat(FPCMFormat, Value->wBitsPerSample, Value->nChannels, int(Value->nSamplesPerSec));
        }
    }
    TMMCustomSoundComponent::SetWaveFormat(Value);
}

void TMMCustomWaveIn::SetOutput(TMMDSPComponent* Value)
{
    // Relinking a running chain: the device stops first, not just the chain flags, and no buffer
    // may still be on its way to the old peer.
    if (Value != GetOutput() && (IsStarted() || IsPaused())) {
        Stop();
        FinishPendingStop();
        if (IsStarted()) {
            Error(zv::LoadResString(zv::SPropertyWhileOpen));
        }
    }
    TMMCustomSoundComponent::SetOutput(Value);
}

// ---- devices ---------------------------------------------------------------------------------

QStringList TMMCustomWaveIn::DeviceNames(zv::WaveInOps& Binding)
{
    QStringList names;
    const int count = Binding.GetNumDevs();
    for (int id = 0; id < count; ++id) {
        TWaveInCaps caps {};
        if (Binding.GetDevCapsWithoutFormats(id, caps) == 0) {
            caps.szPname[sizeof caps.szPname - 1] = 0;
            names << QString::fromUtf8(caps.szPname);
        } else {
            names << QString();
        }
    }
    return names;
}

TMMDeviceId TMMCustomWaveIn::DeviceIdOf(const QString& ProductName, zv::WaveInOps& Binding)
{
    const int index = Binding.DeviceIdOf(ProductName.toStdString());
    return index >= 0 ? index : InvalidId;
}

QStringList TMMCustomWaveIn::FullDeviceNames(zv::WaveInOps& Binding)
{
    QStringList names;
    const int count = Binding.GetNumDevs();
    for (int id = 0; id < count; ++id) {
        names << QString::fromStdString(Binding.FullName(id));
    }
    return names;
}

bool TMMCustomWaveIn::SelectDevice(const QString& ProductName)
{
    CheckClosed();
    // Finding the name lists anew; the count must follow, as the ids index that list.
    const int index = FOps.DeviceIdOf(ProductName.toStdString());
    FDeviceCount = FOps.GetNumDevs();
    SetDeviceID(index >= 0 ? index : InvalidId);
    return index >= 0;
}

bool TMMCustomWaveIn::CanRecordFormat(TMMDeviceId Id, const TWaveFormatEx* Format)
{
    if (!Format || Id < MapperId || Id >= FDeviceCount) {
        return false;
    }
    if (FOps.Open(nullptr, Id, *Format, nullptr, nullptr, zv::WaveInOps::FormatQuery) != 0) {
        return false;
    }
    if (Format->wFormatTag != WAVE_FORMAT_PCM) {
        return true;
    }
    TWaveInCaps caps {};
    if (FOps.GetDevCaps(Id, caps) != 0) {
        return false;
    }
    const std::uint32_t rate = Format->nSamplesPerSec;
    int band = -1;
    if (rate >= 8000 && rate <= 11025) {
        band = 0;
    } else if (rate >= 11026 && rate <= 22050) {
        band = 4;
    } else if (rate >= 22051 && rate <= 48000) {
        band = 8;
    }
    const bool standard = (Format->nChannels == 1 || Format->nChannels == 2)
        && (Format->wBitsPerSample == 8 || Format->wBitsPerSample == 16);
    if (band < 0 || !standard) {
        return true;
    }
    const int bit = band + (Format->wBitsPerSample == 16 ? 2 : 0) + (Format->nChannels == 2 ? 1 : 0);
    return (caps.dwFormats & (1u << bit)) != 0;
}

// ---- notifications ---------------------------------------------------------------------------

void TMMCustomWaveIn::DeviceCallback(zv::WaveInHandle Handle, zv::WaveInNotification Message, void* Instance,
    std::uintptr_t Param1, std::uintptr_t /*Param2*/)
{
    auto* self = static_cast<TMMCustomWaveIn*>(Instance);
    switch (Message) {
    case zv::WaveInNotification::OpenDone:
        self->FDeviceState = dsOpened;
        break;
    case zv::WaveInNotification::CloseDone:
        self->FDeviceState = dsClosed;
        break;
    case zv::WaveInNotification::Data: {
        auto* header = reinterpret_cast<PWaveHdr>(Param1);
        if (self->FCallBackMode == cmThread) {
            if (self->FThread) {
                self->FThread->Post(Handle, header);
            }
        } else {
            self->Post(new DataEvent(Handle, header));
        }
        break;
    }
    case zv::WaveInNotification::Failed:
        self->PostFailure(QStringLiteral("WaveIn:\n\r") + self->PlatformText(int(std::intptr_t(Param1))));
        break;
    }
}

void TMMCustomWaveIn::Post(QEvent* Event)
{
    // Qt's queue hands the event over under its own lock; this release (acquired when the event
    // is handled) states that hand-over where thread checkers see it.
    FPosted.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(FWindow, Event);
}

void TMMCustomWaveIn::PostFailure(const QString& Message)
{
    Post(new FailureEvent(Message));
}

void TMMCustomWaveIn::HandleFailure(const QString& Message)
{
    if (!IsOpen()) {
        return; // closed meanwhile: nothing left to end
    }
    // OnError comes once the component is closed, also when the close waits for a buffer
    // being handled.
    FFailureMessage = Message;
    FFailurePending = true;
    Close();
}

void TMMCustomWaveIn::PostStop()
{
    Post(new StopEvent(FRun));
}

void TMMCustomWaveIn::FinishPendingStop()
{
    // The stop (and a close behind it) waits for a buffer handling to end and then for its
    // posted message. An Open or Start on the owner's thread cannot wait for that message, so it
    // finishes the stop itself; otherwise the late close would end the new capture.
    if (!FStopPending || !OnOwnerThread()) {
        return;
    }
    WaitFor([this] { return FInHandler == 0; });
    if (FInHandler == 0) {
        Stop();
    }
}

template <typename Done> bool TMMCustomWaveIn::WaitFor(Done done)
{
    for (int i = 0; i < 100; ++i) {
        if (done()) {
            return true;
        }
        if (FCallBackMode == cmWindow && OnOwnerThread()) {
            QCoreApplication::sendPostedEvents(FWindow, kDataEvent);
            if (done()) {
                return true;
            }
        }
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

// ---- the thread ------------------------------------------------------------------------------

void TMMCustomWaveIn::StartThread()
{
    FThreadFailed = false;
    bool ready = false;
    try {
        auto thread = std::make_unique<TMMWaveInThread>(*this);
        ready = thread->Start(PriorityLevel(FPriority), kThreadTimeout);
        if (ready) {
            FThread = std::move(thread);
        }
    } catch (...) {
        ready = false;
    }
    if (!ready) {
        FThreadFailed = true;
        Error(QStringLiteral("WaveIn:\n\r") + zv::LoadResString(zv::SCouldNotCreateThread));
    }
}

void TMMCustomWaveIn::EndThread()
{
    if (!FThread || FThread->IsCurrent()) {
        return;
    }
    if (!FThread->End(kThreadTimeout)) {
        // Stuck in a handler for seconds: it keeps its object, the component goes on without it.
        (void)FThread.release();
        FErrorMessage = QStringLiteral("WaveIn:\n\r") + zv::LoadResString(zv::SCouldNotEndThread);
        FireError();
        return;
    }
    FThread.reset();
}

// ---- open and close --------------------------------------------------------------------------

void TMMCustomWaveIn::Open()
{
    FinishPendingStop();
    if (FDeviceCount == 0) {
        Error(zv::LoadResString(zv::SNoWaveInDevice));
    }
    if (FDeviceID == InvalidId) {
        Error(zv::LoadResString(zv::SInvalidDeviceId));
    }
    if (!WaveFormat()) {
        Error(zv::LoadResString(zv::SInvalidWaveInFormat));
    }
    if (IsOpen()) {
        Close();
    }
    if (IsOpen() || FClosing) {
        return;
    }
    FClosing = false;
    FResetting = false;
    FStopping = false;
    FStopPosted = false;
    FFailurePending = false;
    try {
        if (!CanRecordFormat(FDeviceID, WaveFormat())) {
            Error(QStringLiteral("WaveInOpen:\n\r") + zv::LoadResString(zv::SCannotRecordFormat));
        }
        FHandle = 0;
        FClosePending = false;
        if (FCallBackMode == cmThread) {
            StartThread();
        }
        zv::WaveInHandle handle = 0;
        if (const int e = FOps.Open(&handle, FDeviceID, *WaveFormat(), &DeviceCallback, this, 0)) {
            PlatformError("WaveInOpen:\n\r", e);
        }
        FHandle = handle;

        // Property setters called during the walk must not see an open device.
        const unsigned saved = FDeviceState.exchange(dsClosed);
        try {
            NotifyChain(TChainOp::Open);
        } catch (...) {
            FDeviceState = saved;
            throw;
        }
        FDeviceState = saved;

        if (!WaitFor([this] { return IsOpen(); })) {
            Error(QStringLiteral("WaveInOpen:\n\r") + zv::LoadResString(zv::SUnableToOpenDevice));
        }

        const int size = GetBufferSize();
        for (int i = 0; i < FNumBuffers; ++i) {
            if (!FHeaders[std::size_t(i)]) {
                void* block = FAllocator.GetBlock(GHND, std::size_t(size) + WaveHeaderSize);
                if (!block) {
                    Error(zv::LoadResString(zv::SNoMemoryForWaveHeader));
                }
                FHeaders[std::size_t(i)] = static_cast<PWaveHdr>(block);
            }
            PWaveHdr h = FHeaders[std::size_t(i)];
            h->lpData = reinterpret_cast<char*>(h) + WaveHeaderSize;
            h->dwBufferLength = std::uint32_t(size);
            h->dwBytesRecorded = 0;
            h->dwUser = 0;
            h->dwFlags = 0;
            h->dwLoops = 0;
            h->lpNext = nullptr;
            h->reserved = 0;
        }
        for (int i = 0; i < FNumBuffers; ++i) {
            if (const int e = FOps.PrepareHeader(FHandle, FHeaders[std::size_t(i)])) {
                PlatformError("WaveInPrepareHeader:\n\r", e);
            }
        }

        ChainOpen();
    } catch (...) {
        ReportForeign(std::current_exception());
        // Never left half open.
        FDeviceState = dsOpened;
        Close();
        FDeviceState = dsClosed;
        throw;
    }
}

void TMMCustomWaveIn::ReportForeign(const std::exception_ptr& Failure)
{
    try {
        std::rethrow_exception(Failure);
    } catch (const EMMWaveInError&) {
        // Came through Error, which fired OnError already.
    } catch (...) {
        if (OnOwnerThread()) {
            FErrorMessage = MessageOf(Failure);
            FireError();
        }
    }
}

void TMMCustomWaveIn::Close()
{
    if (!IsOpen() || (FClosing && !FClosePending)) {
        return;
    }
    FClosing = true;
    try {
        if (IsStarted() || IsPaused()) {
            Stop();
        }
        if (FStopPending) {
            // The stop waits for a buffer being handled; it ends with this close.
            FClosePending = true;
            return;
        }
        FClosePending = false;
        bool unconfirmed = false;
        if (const zv::WaveInHandle h = FHandle) {
            FOps.Stop(h);
            FOps.Reset(h);
            UnprepareHeaders();
            if (const int e = FOps.Close(h)) {
                PlatformError("WaveInClose:\n\r", e);
            }
            unconfirmed = !WaitFor([this] { return (FDeviceState & dsClosed) != 0; });
            FWrapCount = 0;
            FHighPart = 0;
        } else {
            FDeviceState = dsClosed;
        }
        NotifyChain(TChainOp::Close);
        EndThread();
        ChainClose();
        if (FFailurePending) {
            FFailurePending = false;
            FErrorMessage = FFailureMessage;
            FireError();
        }
        if (unconfirmed) {
            FErrorMessage = QStringLiteral("WaveInClose:\n\r") + zv::LoadResString(zv::SUnableToCloseDevice);
            FireError();
        }
    } catch (...) {
        // Reported through OnError and no further; the component stays as it was.
        ReportForeign(std::current_exception());
        FClosing = false;
    }
}

void TMMCustomWaveIn::UnprepareHeaders()
{
    for (PWaveHdr h : FHeaders) {
        if (!h) {
            continue;
        }
        std::atomic_ref<std::uint32_t> flags(h->dwFlags);
        for (int spin = 0; spin < 65000 && !(flags.load(std::memory_order_acquire) & WHDR_DONE); ++spin) { }
        if (!(flags.load() & WHDR_DONE)) {
            flags.store(WHDR_DONE);
        }
        if (const int e = FOps.UnprepareHeader(FHandle, h)) {
            PlatformError("WaveInUnprepareHeader:\n\r", e);
        }
    }
}

void TMMCustomWaveIn::ChainOpen()
{
    TMMDSPComponent::ChainOpen();
    if (OnOpen) {
        OnOpen(this);
    }
}

void TMMCustomWaveIn::ChainClose()
{
    FHandle = 0;
    for (PWaveHdr& h : FHeaders) {
        if (!h) {
            continue;
        }
        void* block = h;
        FAllocator.ReleaseBlock(block);
        h = nullptr;
    }
    FClosing = false;
    TMMDSPComponent::ChainClose();
    if (OnClose && !InState(csDestroying)) {
        OnClose(this);
    }
}

// ---- start, pause, restart, stop -------------------------------------------------------------

void TMMCustomWaveIn::QueueHeader(PWaveHdr h)
{
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    if (const int e = FOps.AddBuffer(FHandle, h)) {
        PlatformError("WaveInAddBuffer:\n\r", e);
    }
    ++FQueued;
}

void TMMCustomWaveIn::Start()
{
    FinishPendingStop();
    if (!IsOpen()) {
        Open();
    }
    if (!IsOpen() || IsStarted()) {
        return;
    }
    FBytesDelivered = 0;
    FNextIndex = 0;
    FInHandler = 0;
    FStopPending = false;
    FStopping = false;
    FResetting = false;
    FStopPosted = false;
    FQueued = 0;
    FLastPosition = 0;
    FWrapCount = 0;
    FHighPart = 0;
    FByteLimit = ComputeByteLimit();
    ++FRun;
    try {
        {
            std::lock_guard guard(FLock);
            for (int i = 0; i < FNumBuffers; ++i) {
                QueueHeader(FHeaders[std::size_t(i)]);
            }
        }
        ChainStart();
    } catch (...) {
        ReportForeign(std::current_exception());
        FDeviceState |= dsStarted;
        Close();
        FDeviceState = dsClosed;
        throw;
    }
}

void TMMCustomWaveIn::ChainStart()
{
    FDeviceState |= dsStarted;
    if (!IsPaused()) {
        if (const int e = FOps.Start(FHandle)) {
            PlatformError("WaveInStart:\n\r", e);
        }
    }
    NotifyChain(TChainOp::Start);
    TMMDSPComponent::ChainStart();
    if (OnStart) {
        OnStart(this);
    }
}

void TMMCustomWaveIn::Pause()
{
    if (!IsOpen()) {
        Open();
    }
    if (!IsOpen() || IsPaused()) {
        return;
    }
    try {
        if (IsStarted()) {
            if (const int e = FOps.Stop(FHandle)) {
                PlatformError("WaveInPause:\n\r", e);
            }
        }
        ChainPause();
    } catch (...) {
        ReportForeign(std::current_exception());
        Close();
        throw;
    }
}

void TMMCustomWaveIn::ChainPause()
{
    FDeviceState |= dsPaused;
    NotifyChain(TChainOp::Pause);
    TMMDSPComponent::ChainPause();
    if (OnPause) {
        OnPause(this);
    }
}

void TMMCustomWaveIn::Restart()
{
    if (!IsStarted() || !IsPaused()) {
        return;
    }
    try {
        if (const int e = FOps.Start(FHandle)) {
            PlatformError("WaveInRestart:\n\r", e);
        }
        ChainRestart();
    } catch (...) {
        ReportForeign(std::current_exception());
        Close();
        throw;
    }
}

void TMMCustomWaveIn::ChainRestart()
{
    FDeviceState &= ~unsigned(dsPaused);
    NotifyChain(TChainOp::Restart);
    TMMDSPComponent::ChainRestart();
    if (OnRestart) {
        OnRestart(this);
    }
}

void TMMCustomWaveIn::Stop()
{
    if (!IsStarted() && !IsPaused()) {
        return;
    }
    try {
        {
            // Under the lock, so that a buffer being handled either re-queues before the reset
            // (which then returns it) or sees Stopping and does not re-queue at all.
            std::lock_guard guard(FLock);
            FStopping = true;
            if (const int e = FOps.Stop(FHandle)) {
                PlatformError("WaveInStop:\n\r", e);
            }
            FWrapCount = 0;
            FHighPart = 0;
            FResetting = true;
            if (const int e = FOps.Reset(FHandle)) {
                PlatformError("WaveInReset:\n\r", e);
            }
        }
        if (FInHandler == 0) {
            WaitFor([this] { return FQueued <= 0; });
        }
        ChainStop();
    } catch (...) {
        if (OnOwnerThread()) {
            ReportForeign(std::current_exception());
            Close();
        }
        throw;
    }
}

void TMMCustomWaveIn::ChainStop()
{
    if (!IsStarted() && !IsPaused()) {
        // Only the chain flags (relinking, format change): no device to stop, nothing to report.
        TMMDSPComponent::ChainStop();
        return;
    }
    {
        std::lock_guard guard(FLock);
        if (FInHandler > 0) {
            // A buffer is being handled; its end posts the stop back to the owner.
            FStopPending = true;
            return;
        }
    }
    FDeviceState &= ~unsigned(dsStarted | dsPaused);
    FNextIndex = 0;
    FQueued = 0;
    FStopPending = false;
    NotifyChain(TChainOp::Stop);
    TMMDSPComponent::ChainStop();
    if (OnStop && !InState(csDestroying)) {
        OnStop(this);
    }
    if (FClosePending) {
        Close();
    }
}

// ---- the ring --------------------------------------------------------------------------------

void TMMCustomWaveIn::BufferDone(PWaveHdr lpWaveHdr)
{
    if (!IsStarted()) {
        return;
    }
    {
        std::unique_lock lock(FLock);
        if (FResetting || FStopping) {
            // Returned by a stop or reset: never queued again, counted off once.
            const bool deliver = !FResetting && lpWaveHdr->dwBytesRecorded > 0;
            if (--FQueued <= 0) {
                FQueued = 0;
                FResetting = false;
            }
            lock.unlock();
            if (deliver) {
                DeliverBuffer(lpWaveHdr);
            }
            return;
        }
        ++FInHandler;
        --FQueued;
    }
    try {
        DeliverBuffer(lpWaveHdr);
        if (!FStopPending) {
            const auto position = std::uint32_t(Position());
            const std::uint32_t last = FLastPosition;
            if (position != 0 && std::uint64_t(position) + 65535 <= last) {
                FHighPart = last | 0xFFFFFu;
                ++FWrapCount;
            }
            FLastPosition = position;
            std::lock_guard guard(FLock);
            if (!FStopping && !FStopPending) {
                QueueHeader(lpWaveHdr);
            }
        }
    } catch (...) {
        EndHandling();
        throw;
    }
    EndHandling();
}

void TMMCustomWaveIn::EndHandling()
{
    std::lock_guard guard(FLock);
    if (--FInHandler == 0 && FStopPending && !FStopPosted) {
        FStopPosted = true;
        FStopping = true;
        PostStop();
    }
}

void TMMCustomWaveIn::DeliverBuffer(PWaveHdr lpWaveHdr)
{
    std::int64_t total = FBytesDelivered + lpWaveHdr->dwBytesRecorded;
    bool limitReached = false;
    const int limit = FByteLimit;
    if (FMaxRecordTime > 0 && total >= limit) {
        lpWaveHdr->dwBytesRecorded -= std::uint32_t(total - limit);
        total = limit;
        limitReached = true;
    }
    FBytesDelivered = total;
    FNextIndex = (FNextIndex + 1) % std::max(1, FNumBuffers);
    TMMCustomSoundComponent::DeliverBuffer(lpWaveHdr);
    if (limitReached) {
        Stop();
    }
}

std::int64_t TMMCustomWaveIn::Position()
{
    const zv::WaveInHandle h = FHandle;
    const TWaveFormatEx* format = WaveFormat();
    if (!IsOpen() || !format || FClosing || !h) {
        return 0;
    }
    TMMTime time { TMMTime::Samples, 0 };
    if (const int e = FOps.GetPosition(h, time)) {
        PlatformError("WaveInGetPosition:\n\r", e);
    }
    if (time.wType == TMMTime::Samples) {
        return time.value;
    }
    time = { TMMTime::Bytes, 0 };
    if (const int e = FOps.GetPosition(h, time)) {
        PlatformError("WaveInGetPosition:\n\r", e);
    }
    return BytesToSamples(format, int(std::min<std::uint32_t>(time.value, INT_MAX)));
}

// ---- TMMWaveIn -------------------------------------------------------------------------------

TMMWaveIn::TMMWaveIn(QObject* AOwner)
    : TMMCustomWaveIn(zv::DefaultWaveIn(), AOwner)
{
}

TMMWaveIn::TMMWaveIn(zv::WaveInOps& Binding, QObject* AOwner)
    : TMMCustomWaveIn(Binding, AOwner)
{
}

TMMWaveIn::~TMMWaveIn()
{
    Shutdown();
}
