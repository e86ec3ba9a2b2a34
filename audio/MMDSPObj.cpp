#include "audio/MMDSPObj.h"

#include <QMetaProperty>
#include <QVariant>
#include <algorithm>

namespace {
constexpr int kMaxPortName = 20;

// Process-wide list of live chain components; exists only while non-empty.
std::vector<TMMDSPComponent*>* gRegistry = nullptr;

bool HasProperty(const QObject* object, const char* name)
{
    return object->metaObject()->indexOfProperty(name) >= 0;
}

// The component that object's property of that name points at, or null.
QObject* PropertyTarget(const QObject* object, const QString& name)
{
    const QMetaObject* meta = object->metaObject();
    const int index = meta->indexOfProperty(name.toLatin1().constData());
    if (index < 0) {
        return nullptr;
    }
    return meta->property(index).read(object).value<QObject*>();
}

void Broadcast(TMMDSPComponent* component, bool inputSide, const QString& name)
{
    if (!gRegistry) {
        return;
    }
    for (TMMDSPComponent* c : *gRegistry) {
        c->DropStaleLink(component, inputSide, name);
    }
}
} // namespace

TMMDSPComponent::TMMDSPComponent(QObject* AOwner)
    : TMMCustomDSPComponent(AOwner)
{
    if (!gRegistry) {
        gRegistry = new std::vector<TMMDSPComponent*>;
    }
    gRegistry->push_back(this);
}

TMMDSPComponent::~TMMDSPComponent()
{
    MarkDestroying();
    // The ports are cleared directly: while the destructor runs, the derived part that declares
    // the port properties is gone, so the by-name checks of SetInput/SetOutput cannot be used.
    TMMDSPComponent* oldOutput = FOutput;
    if (gRegistry) {
        for (TMMDSPComponent* c : *gRegistry) {
            if (c == this) {
                continue;
            }
            if (c->FInput == this) {
                c->LinkInput(nullptr, QString());
            }
            if (c->FOutput == this) {
                c->LinkOutput(nullptr, QString());
            }
        }
    }
    FInput = nullptr;
    FOutput = nullptr;
    if (oldOutput) {
        oldOutput->InputFormatChanged(nullptr);
    }
    FWaveFormat.reset();
    if (gRegistry) {
        gRegistry->erase(std::remove(gRegistry->begin(), gRegistry->end(), this), gRegistry->end());
        if (gRegistry->empty()) {
            delete gRegistry;
            gRegistry = nullptr;
        }
    }
}

std::vector<TMMDSPComponent*> TMMDSPComponent::DSPRegistry()
{
    return gRegistry ? *gRegistry : std::vector<TMMDSPComponent*> {};
}

void TMMDSPComponent::UpdateChainFormat()
{
    if (FormatPassingInhibited()) {
        return;
    }
    if (FInput) {
        InputFormatChanged(FInput->WaveFormat());
    } else if (FOutput) {
        FOutput->InputFormatChanged(WaveFormat());
    }
}

void TMMDSPComponent::DropStaleLink(TMMDSPComponent* Component, bool InputSide, const QString& PortName)
{
    if (!Component) {
        return;
    }
    if (InputSide) {
        if (Component == FInput && FInputPortName == PortName
            && PropertyTarget(Component, PortName) == this) {
            LinkInput(nullptr, QString());
        }
    } else {
        if (Component == FOutput && FOutputPortName == PortName
            && PropertyTarget(Component, PortName) == this) {
            LinkOutput(nullptr, QString());
        }
    }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* Value)
{
    if (Value == FInput || (Value && !CanLinkInput(Value))) {
        return;
    }
    ChainStop();
    if (FInput) {
        Broadcast(this, false, QStringLiteral("Input"));
        LinkInput(nullptr, QString());
        InputFormatChanged(nullptr);
    }
    if (!Value) {
        return;
    }
    Broadcast(Value, true, QStringLiteral("Output"));
    LinkInput(Value, QStringLiteral("Output"));
    Value->LinkOutput(this, QStringLiteral("Input"));
    UpdateChainFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* Value)
{
    if (Value == FOutput || (Value && !CanLinkOutput(Value))) {
        return;
    }
    ChainStop();
    if (TMMDSPComponent* old = FOutput) {
        Broadcast(this, true, QStringLiteral("Output"));
        old->InputFormatChanged(nullptr);
        LinkOutput(nullptr, QString());
    }
    if (!Value) {
        return;
    }
    Broadcast(Value, false, QStringLiteral("Input"));
    LinkOutput(Value, QStringLiteral("Input"));
    Value->LinkInput(this, QStringLiteral("Output"));
    UpdateChainFormat();
}

void TMMDSPComponent::LinkInput(TMMDSPComponent* Component, const QString& BackPortName)
{
    FInput = Component;
    FInputPortName = BackPortName.left(kMaxPortName);
}

void TMMDSPComponent::LinkOutput(TMMDSPComponent* Component, const QString& BackPortName)
{
    FOutput = Component;
    FOutputPortName = BackPortName.left(kMaxPortName);
}

bool TMMDSPComponent::CanLinkInput(QObject* Candidate)
{
    // Both ends must publish their port: a link the by-name checks cannot see could never be
    // dropped again and would leave a dangling peer.
    auto* c = qobject_cast<TMMDSPComponent*>(Candidate);
    if (!c || c == this || !HasProperty(c, "Output") || !HasProperty(this, "Input")) {
        return false;
    }
    // A candidate that already lies downstream would close a cycle.
    return FOutput ? FOutput->CanLinkInput(Candidate) : true;
}

bool TMMDSPComponent::CanLinkOutput(QObject* Candidate)
{
    auto* c = qobject_cast<TMMDSPComponent*>(Candidate);
    if (!c || c == this || !HasProperty(c, "Input") || !HasProperty(this, "Output")) {
        return false;
    }
    return FInput ? FInput->CanLinkOutput(Candidate) : true;
}

void TMMDSPComponent::SetWaveFormat(const TWaveFormatEx* Value)
{
    if (Value != FWaveFormat.get()) {
        if (FStarted) {
            ChainStop();
        }
        FWaveFormat = CopyWaveFormat(Value);
    }
    if (!FormatPassingInhibited() && FOutput) {
        FOutput->InputFormatChanged(WaveFormat());
    }
}

void TMMDSPComponent::InputFormatChanged(const TWaveFormatEx* Value)
{
    SetWaveFormat(Value);
}

int TMMDSPComponent::GetBufferSize() const
{
    return FOpened ? FRealBufferSize : FBufferSize;
}

void TMMDSPComponent::SetBufferSize(int Value)
{
    if (Value == FBufferSize) {
        return;
    }
    if (FStarted) {
        ChainStop();
    }
    FBufferSize = Value;
}

void TMMDSPComponent::ChainOpen()
{
    if (FOpened) {
        return;
    }
    const TWaveFormatEx* format = WaveFormat();
    if (format && format->nBlockAlign > 0) {
        FRealBufferSize = std::max(FBufferSize - FBufferSize % format->nBlockAlign, int(format->nBlockAlign));
    } else {
        FRealBufferSize = FBufferSize;
    }
    FOpened = true;
    FStarted = false;
    FPaused = false;
}

void TMMDSPComponent::ChainClose()
{
    FOpened = false;
}

void TMMDSPComponent::ChainStart()
{
    if (FOpened && !FStarted) {
        FStarted = true;
    }
}

void TMMDSPComponent::ChainPause()
{
    FPaused = true;
}

void TMMDSPComponent::ChainRestart()
{
    FPaused = false;
}

void TMMDSPComponent::ChainStop()
{
    if (FStarted) {
        FStarted = false;
        FPaused = false;
    }
}

void TMMDSPComponent::DeliverBuffer(PWaveHdr lpWaveHdr)
{
    if (OnBufferReady) {
        OnBufferReady(this, lpWaveHdr);
    }
    if (FOutput) {
        FOutput->DeliverBuffer(lpWaveHdr);
    }
}

bool TMMDSPComponent::RequestBuffer(PWaveHdr lpWaveHdr, bool& MoreBuffers)
{
    bool result = false;
    if (OnBufferLoad) {
        OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    }
    if (FInput) {
        result = FInput->RequestBuffer(lpWaveHdr, MoreBuffers);
    }
    if (OnBufferFilled && lpWaveHdr->dwBytesRecorded > 0) {
        result = OnBufferFilled(this, lpWaveHdr);
    }
    return result;
}

void TMMDSPComponent::Loaded()
{
    // Ports were set without passing formats while loading; pass the held one on once.
    SetWaveFormat(WaveFormat());
}

// ---- TMMCustomSoundComponent -----------------------------------------------------------------

void TMMCustomSoundComponent::NotifyChain(TChainOp Op)
{
    // Segment start: the head above, unless another device is met first.
    TMMDSPComponent* start = this;
    bool driven = false;
    for (TMMDSPComponent* c = GetInput(); c; c = c->GetInput()) {
        if (qobject_cast<TMMCustomSoundComponent*>(c)) {
            driven = true;
            start = this;
            break;
        }
        start = c;
    }
    if (Op == TChainOp::Open) {
        FDriven = driven;
    }

    TMMDSPComponent* lower = nullptr;
    for (TMMDSPComponent* c = GetOutput(); c; c = c->GetOutput()) {
        if (qobject_cast<TMMCustomSoundComponent*>(c)) {
            lower = c;
            break;
        }
    }

    auto send = [this, Op](TMMDSPComponent* c) {
        switch (Op) {
        case TChainOp::Open:
            c->SetBufferSize(GetBufferSize());
            c->ChainOpen();
            break;
        case TChainOp::Close:
            c->ChainClose();
            break;
        case TChainOp::Start:
            c->ChainStart();
            break;
        case TChainOp::Pause:
            c->ChainPause();
            break;
        case TChainOp::Restart:
            c->ChainRestart();
            break;
        case TChainOp::Stop:
            c->ChainStop();
            break;
        case TChainOp::Flush:
            c->ChainFlush();
            break;
        case TChainOp::Spare:
            c->ChainSpare();
            break;
        }
    };

    // A device below stops or closes before anything that feeds it.
    const bool lowerFirst = Op == TChainOp::Close || Op == TChainOp::Stop;
    if (lowerFirst && lower) {
        send(lower);
    }
    for (TMMDSPComponent* c = start; c; c = c->GetOutput()) {
        if (c == this) {
            continue;
        }
        if (c == lower) {
            if (!lowerFirst) {
                send(c);
            }
            break;
        }
        send(c);
    }
}

void TMMCustomSoundComponent::ChainOpen()
{
    NotifyChain(TChainOp::Open);
    TMMDSPComponent::ChainOpen();
}

void TMMCustomSoundComponent::ChainClose()
{
    NotifyChain(TChainOp::Close);
    TMMDSPComponent::ChainClose();
}

void TMMCustomSoundComponent::ChainStart()
{
    NotifyChain(TChainOp::Start);
    TMMDSPComponent::ChainStart();
}

void TMMCustomSoundComponent::ChainPause()
{
    NotifyChain(TChainOp::Pause);
    TMMDSPComponent::ChainPause();
}

void TMMCustomSoundComponent::ChainRestart()
{
    NotifyChain(TChainOp::Restart);
    TMMDSPComponent::ChainRestart();
}

void TMMCustomSoundComponent::ChainStop()
{
    NotifyChain(TChainOp::Stop);
    TMMDSPComponent::ChainStop();
}

void TMMCustomSoundComponent::ChainFlush()
{
    NotifyChain(TChainOp::Flush);
    TMMDSPComponent::ChainFlush();
}

void TMMCustomSoundComponent::ChainSpare()
{
    NotifyChain(TChainOp::Spare);
    TMMDSPComponent::ChainSpare();
}
