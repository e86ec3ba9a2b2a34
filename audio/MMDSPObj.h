#pragma once

// The chain of audio components: a producer hands buffers down through Output links, and open,
// start, pause, restart, stop and close travel along the chain. Linking, formats and chain
// notifications run on the user-interface thread; DeliverBuffer runs on the thread that hands
// captured buffers on (the capture thread).
//
// Ports are found by name through the meta-object: a class that offers a port declares it as a
// Q_PROPERTY named "Input" or "Output" of type TMMDSPComponent* (READ GetInput WRITE SetInput,
// READ GetOutput WRITE SetOutput). A candidate without the opposite port cannot be linked.

#include "audio/MMObj.h"

#include <QString>
#include <atomic>
#include <functional>
#include <vector>

class TMMDSPComponent;

using TMMBufferEvent = std::function<void(QObject* Sender, PWaveHdr lpWaveHdr)>;
// Pull mode (RequestBuffer): the first is told before the upstream is asked, the second may
// answer for a header that holds data.
using TMMBufferLoadEvent = std::function<void(QObject* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;
using TMMBufferFilledEvent = std::function<bool(QObject* Sender, PWaveHdr lpWaveHdr)>;

class TMMCustomDSPComponent : public TMMNonVisualComponent {
    Q_OBJECT
public:
    using TMMNonVisualComponent::TMMNonVisualComponent;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
    Q_OBJECT
public:
    explicit TMMDSPComponent(QObject* AOwner = nullptr);
    ~TMMDSPComponent() override;

    // ---- ports (a refused connection is ignored; the ports keep their peers) ----
    virtual void UpdateChainFormat();
    virtual void DropStaleLink(TMMDSPComponent* Component, bool InputSide, const QString& PortName);
    virtual void SetInput(TMMDSPComponent* Value);
    virtual TMMDSPComponent* GetInput() const { return FInput; }
    virtual void SetOutput(TMMDSPComponent* Value);
    virtual TMMDSPComponent* GetOutput() const { return FOutput; }

    // ---- format: each component holds its own copy ----
    virtual void SetWaveFormat(const TWaveFormatEx* Value);
    virtual const TWaveFormatEx* WaveFormat() const { return FWaveFormat.get(); }
    virtual int GetBufferSize() const;
    virtual void SetBufferSize(int Value);
    virtual void InputFormatChanged(const TWaveFormatEx* Value);

    // ---- chain notifications ----
    virtual void ChainOpen();
    virtual void ChainClose();
    virtual void ChainStart();
    virtual void ChainPause();
    virtual void ChainRestart();
    virtual void ChainStop();
    virtual void ChainFlush() { }
    virtual void ChainSpare() { }

    // OnBufferReady, then the Output.
    virtual void DeliverBuffer(PWaveHdr lpWaveHdr);
    virtual bool RequestBuffer(PWaveHdr lpWaveHdr, bool& MoreBuffers);

    virtual void LinkInput(TMMDSPComponent* Component, const QString& BackPortName);
    virtual void LinkOutput(TMMDSPComponent* Component, const QString& BackPortName);
    virtual bool CanLinkInput(QObject* Candidate);
    virtual bool CanLinkOutput(QObject* Candidate);

    // Name of the peer's property that points back here ("Output" for the Input peer, "Input" for
    // the Output peer), empty when the port is free.
    const QString& InputPortName() const { return FInputPortName; }
    const QString& OutputPortName() const { return FOutputPortName; }

    int RealBufferSize() const { return FRealBufferSize; }
    // Written on the user-interface thread; the capture side may read them.
    bool Opened() const { return FOpened; }
    bool Started() const { return FStarted; }
    bool Paused() const { return FPaused; }

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;
    TMMBufferFilledEvent OnBufferFilled;

    // Every live chain component, in creation order. User-interface thread only.
    static std::vector<TMMDSPComponent*> DSPRegistry();

protected:
    void Loaded() override;
    // Loading, reading stored properties or being destroyed: formats are not passed on.
    bool FormatPassingInhibited() const { return InState(csLoading | csReading | csDestroying); }

    TMMDSPComponent* FInput = nullptr;
    TMMDSPComponent* FOutput = nullptr;
    TWaveFormatPtr FWaveFormat;
    int FBufferSize = 2048;
    int FRealBufferSize = 2048;
    std::atomic<bool> FOpened { false };
    std::atomic<bool> FStarted { false };
    std::atomic<bool> FPaused { false };
    QString FInputPortName;
    QString FOutputPortName;
};

// A component that drives its chain (a device). Its notifications reach its part of the chain:
// from the head above it (unless another sound component lies above: then it is driven) down to
// the next sound component below it; close and stop reach that lower device first.
class TMMCustomSoundComponent : public TMMDSPComponent {
    Q_OBJECT
public:
    using TMMDSPComponent::TMMDSPComponent;

    // Set at open: another sound component lies upstream.
    bool Driven() const { return FDriven; }

    void ChainOpen() override;
    void ChainClose() override;
    void ChainStart() override;
    void ChainPause() override;
    void ChainRestart() override;
    void ChainStop() override;
    void ChainFlush() override;
    void ChainSpare() override;

protected:
    enum class TChainOp { Open, Close, Start, Pause, Restart, Stop, Flush, Spare };
    // The walk only; the component's own handling is the caller's.
    void NotifyChain(TChainOp Op);

    bool FDriven = false;
};
