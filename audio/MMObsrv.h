#pragma once

// Change notification between an observed object (mixer device, line, control) and the objects
// that follow it. User-interface thread only.

#include "audio/MMObj.h"

#include <functional>
#include <vector>

class TMMObservable;
class TMMObserver;

// Receives (observer, change object); the change belongs to the caller and lives for the call only.
using TMMObserverNotifyEvent = std::function<void(TMMObserver* Sender, TMMObject* Change)>;

class TMMObserver {
public:
    TMMObserver() = default;
    TMMObserver(const TMMObserver&) = delete;
    TMMObserver& operator=(const TMMObserver&) = delete;
    ~TMMObserver(); // detaches from its observable

    // While locked (counted), notifications are ignored: a writer does not hear its own change.
    void Lock() { ++FLockCount; }
    void Unlock();
    bool IsLocked() const { return FLockCount > 0; }

    TMMObservable* Observable() const { return FObservable; }

    TMMObserverNotifyEvent OnNotify;

private:
    friend class TMMObservable;
    void Notify(TMMObject* Change);

    TMMObservable* FObservable = nullptr;
    int FLockCount = 0;
};

class TMMObservable {
public:
    TMMObservable() = default;
    TMMObservable(const TMMObservable&) = delete;
    TMMObservable& operator=(const TMMObservable&) = delete;
    ~TMMObservable(); // detaches every observer, last first

    void AddObserver(TMMObserver* Observer);
    void RemoveObserver(TMMObserver* Observer);
    // Most recently attached first.
    void Notify(TMMObject* Change);

    int Count() const { return int(FObservers.size()); }

private:
    std::vector<TMMObserver*> FObservers;
};
