#pragma once

#include <algorithm>
#include <vector>

struct TWaveFormatEx;
class IMMDisplay;

// Told when a display it refers to is destroyed, so that it can forget it.
class IMMDisplayWatcher {
public:
    virtual void DisplayDestroyed(IMMDisplay* display) = 0;

protected:
    ~IMMDisplayWatcher() = default;
};

// What the connector needs of a display: the displays never see the chain. All four run on the
// user-interface thread.
class IMMDisplay {
public:
    IMMDisplay(const IMMDisplay&) = delete;
    IMMDisplay& operator=(const IMMDisplay&) = delete;

    // Takes the delivery format (bits and channels); an unsupported one raises the display's
    // error "Invalid WaveFormat" and leaves its settings as they were.
    virtual void SetPCMFormat(const TWaveFormatEx* format) = 0;
    // Bytes one update consumes.
    virtual int BytesNeeded() const = 0;
    // Consumes BytesNeeded bytes from data and updates the display at once.
    virtual void ProcessData(const void* data) = 0;
    // Clears the display's data state and repaints it.
    virtual void ResetData() = 0;
    // Oscilloscopes only: bytes the read position advances after a block, 0 for the block size.
    virtual int ScrollStep() const { return 0; }

    void AddWatcher(IMMDisplayWatcher* watcher)
    {
        if (std::find(m_watchers.begin(), m_watchers.end(), watcher) == m_watchers.end())
            m_watchers.push_back(watcher);
    }
    void RemoveWatcher(IMMDisplayWatcher* watcher)
    {
        m_watchers.erase(std::remove(m_watchers.begin(), m_watchers.end(), watcher), m_watchers.end());
    }

protected:
    IMMDisplay() = default;
    virtual ~IMMDisplay()
    {
        const auto watchers = std::move(m_watchers);
        for (IMMDisplayWatcher* watcher : watchers)
            watcher->DisplayDestroyed(this);
    }

private:
    std::vector<IMMDisplayWatcher*> m_watchers;
};
