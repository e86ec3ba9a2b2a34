#pragma once

// Chain members for the tests: nodes that log their notifications and a consumer that keeps
// every byte it is handed.

#include "audio/MMDSPObj.h"

#include <mutex>
#include <string>
#include <vector>

// Appends "<tag>.<notification> " to a shared log.
class TTestNode : public TMMDSPComponent {
    Q_OBJECT
    Q_PROPERTY(TMMDSPComponent* Input READ GetInput WRITE SetInput)
    Q_PROPERTY(TMMDSPComponent* Output READ GetOutput WRITE SetOutput)
public:
    TTestNode(std::string tag, std::string* log, QObject* owner = nullptr)
        : TMMDSPComponent(owner)
        , Tag(std::move(tag))
        , Log(log)
    {
    }
    void ChainOpen() override
    {
        Note("open" + std::to_string(GetBufferSize()));
        TMMDSPComponent::ChainOpen();
    }
    void ChainClose() override
    {
        Note("close");
        TMMDSPComponent::ChainClose();
    }
    void ChainStart() override
    {
        Note("start");
        TMMDSPComponent::ChainStart();
    }
    void ChainStop() override
    {
        Note("stop");
        TMMDSPComponent::ChainStop();
    }
    void ChainPause() override
    {
        Note("pause");
        TMMDSPComponent::ChainPause();
    }

    std::string Tag;
    std::string* Log;

private:
    void Note(const std::string& what)
    {
        if (Log)
            *Log += Tag + "." + what + " ";
    }
};

// Has only an Input port: nothing can be linked below it.
class TTestSink : public TMMDSPComponent {
    Q_OBJECT
    Q_PROPERTY(TMMDSPComponent* Input READ GetInput WRITE SetInput)
public:
    using TMMDSPComponent::TMMDSPComponent;
};

// A device in the middle of a chain.
class TTestDevice : public TMMCustomSoundComponent {
    Q_OBJECT
    Q_PROPERTY(TMMDSPComponent* Input READ GetInput WRITE SetInput)
    Q_PROPERTY(TMMDSPComponent* Output READ GetOutput WRITE SetOutput)
public:
    TTestDevice(std::string tag, std::string* log)
        : Tag(std::move(tag))
        , Log(log)
    {
    }
    // Logs only what reaches it from another device's walk; its own walk stays silent.
    void ChainOpen() override
    {
        *Log += Tag + ".open ";
        TMMDSPComponent::ChainOpen();
    }
    void ChainStop() override
    {
        *Log += Tag + ".stop ";
        TMMDSPComponent::ChainStop();
    }
    void Walk(TChainOp op) { NotifyChain(op); }
    using TMMCustomSoundComponent::TChainOp;

    std::string Tag;
    std::string* Log;
};

// End of a capture chain: keeps a copy of every delivered byte, in order.
class TTestConsumer : public TMMDSPComponent {
    Q_OBJECT
    Q_PROPERTY(TMMDSPComponent* Input READ GetInput WRITE SetInput)
public:
    using TMMDSPComponent::TMMDSPComponent;

    void DeliverBuffer(PWaveHdr h) override
    {
        {
            std::lock_guard g(lock);
            bytes.insert(bytes.end(), h->lpData, h->lpData + h->dwBytesRecorded);
            sizes.push_back(int(h->dwBytesRecorded));
        }
        TMMDSPComponent::DeliverBuffer(h);
    }
    std::vector<char> Bytes()
    {
        std::lock_guard g(lock);
        return bytes;
    }
    std::vector<int> Sizes()
    {
        std::lock_guard g(lock);
        return sizes;
    }
    int Buffers()
    {
        std::lock_guard g(lock);
        return int(sizes.size());
    }

private:
    std::mutex lock;
    std::vector<char> bytes; // guarded by lock: written on the capture thread, read by the test
    std::vector<int> sizes;
};
