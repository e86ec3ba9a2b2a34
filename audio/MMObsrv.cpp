#include "audio/MMObsrv.h"

#include <algorithm>

TMMObserver::~TMMObserver()
{
    if (FObservable) {
        FObservable->RemoveObserver(this);
    }
}

void TMMObserver::Unlock()
{
    if (FLockCount > 0) {
        --FLockCount;
    }
}

void TMMObserver::Notify(TMMObject* Change)
{
    if (FLockCount > 0) {
        return;
    }
    if (OnNotify) {
        OnNotify(this, Change);
    }
}

TMMObservable::~TMMObservable()
{
    while (!FObservers.empty()) {
        RemoveObserver(FObservers.back());
    }
}

void TMMObservable::AddObserver(TMMObserver* Observer)
{
    if (!Observer) {
        return;
    }
    if (Observer->FObservable) {
        Observer->FObservable->RemoveObserver(Observer);
    }
    FObservers.push_back(Observer);
    Observer->FObservable = this;
}

void TMMObservable::RemoveObserver(TMMObserver* Observer)
{
    if (!Observer || Observer->FObservable != this) {
        return;
    }
    FObservers.erase(std::find(FObservers.begin(), FObservers.end(), Observer));
    Observer->FObservable = nullptr;
}

void TMMObservable::Notify(TMMObject* Change)
{
    // A handler may detach observers (itself or others): walk a snapshot and skip the detached.
    const std::vector<TMMObserver*> snapshot(FObservers);
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (std::find(FObservers.begin(), FObservers.end(), *it) != FObservers.end()) {
            (*it)->Notify(Change);
        }
    }
}
