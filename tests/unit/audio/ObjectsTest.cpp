// Update counting, observers and the block pool.

#include "audio/MMAlloc.h"
#include "audio/MMObj.h"
#include "audio/MMObsrv.h"

#include <gtest/gtest.h>
#include <string>

TEST(MMObject, NestedUpdatesNotifyOnceEachWay)
{
    TMMObject o;
    std::string log;
    o.OnChanging = [&](TMMObject*) { log += "<"; };
    o.OnChange = [&](TMMObject*) { log += ">"; };
    o.BeginUpdate();
    o.BeginUpdate();
    o.Changed(); // inside an update: silent
    o.EndUpdate();
    o.EndUpdate();
    EXPECT_EQ(log, "<>");
    o.EndUpdate(); // unbalanced: ignored, later changes are still heard
    o.Changed();
    EXPECT_EQ(log, "<>>");
    EXPECT_EQ(o.UpdateCount(), 0);
}

TEST(MMObserver, NotifiesLastAttachedFirstAndHonoursLockCount)
{
    TMMObservable subject;
    TMMObserver a, b;
    std::string log;
    a.OnNotify = [&](TMMObserver*, TMMObject*) { log += "a"; };
    b.OnNotify = [&](TMMObserver*, TMMObject*) { log += "b"; };
    subject.AddObserver(&a);
    subject.AddObserver(&b);
    subject.AddObserver(nullptr);
    TMMObject change;
    subject.Notify(&change);
    EXPECT_EQ(log, "ba");

    b.Lock();
    b.Lock();
    b.Unlock();
    EXPECT_TRUE(b.IsLocked());
    subject.Notify(&change);
    EXPECT_EQ(log, "baa");
    b.Unlock();
    subject.Notify(&change);
    EXPECT_EQ(log, "baaba");
}

TEST(MMObserver, AttachmentFollowsLifetimes)
{
    TMMObserver moved;
    auto first = std::make_unique<TMMObservable>();
    TMMObservable second;
    first->AddObserver(&moved);
    second.AddObserver(&moved); // leaves the first
    EXPECT_EQ(first->Count(), 0);
    EXPECT_EQ(moved.Observable(), &second);
    first->RemoveObserver(&moved); // not attached there: no effect
    EXPECT_EQ(moved.Observable(), &second);

    {
        TMMObserver shortLived;
        second.AddObserver(&shortLived);
        EXPECT_EQ(second.Count(), 2);
    }
    EXPECT_EQ(second.Count(), 1);

    auto observable = std::make_unique<TMMObservable>();
    TMMObserver survivor;
    observable->AddObserver(&survivor);
    observable.reset();
    EXPECT_EQ(survivor.Observable(), nullptr);
}

TEST(MMObserver, HandlerMayDetachObserversDuringNotify)
{
    TMMObservable subject;
    TMMObserver a, b, c;
    std::string log;
    a.OnNotify = [&](TMMObserver*, TMMObject*) { log += "a"; };
    b.OnNotify = [&](TMMObserver*, TMMObject*) { log += "b"; };
    c.OnNotify = [&](TMMObserver* self, TMMObject*) {
        log += "c";
        subject.RemoveObserver(self);
        subject.RemoveObserver(&a);
    };
    subject.AddObserver(&a);
    subject.AddObserver(&b);
    subject.AddObserver(&c);
    subject.Notify(nullptr);
    EXPECT_EQ(log, "cb");
    EXPECT_EQ(subject.Count(), 1);
}

TEST(MMAllocator, ReusesFreeBlocksExactSizeFirst)
{
    TMMAllocator pool;
    void* big = pool.GetBlock(GHND, 8192);
    void* exact = pool.GetBlock(GHND, 4156);
    ASSERT_NE(big, nullptr);
    ASSERT_NE(exact, nullptr);
    void* bigCopy = big;
    void* exactCopy = exact;
    pool.ReleaseBlock(big);
    pool.ReleaseBlock(exact);
    EXPECT_EQ(big, nullptr);

    EXPECT_EQ(pool.GetBlock(GHND, 4156), exactCopy); // exact size wins over the earlier larger block
    EXPECT_EQ(pool.GetBlock(GHND, 100), bigCopy); // a smaller request reuses a larger free block
    void* fresh = pool.GetBlock(GHND, 100); // both in use now: a new zero-filled block
    EXPECT_NE(fresh, bigCopy);
    EXPECT_EQ(static_cast<unsigned char*>(fresh)[99], 0);
    EXPECT_EQ(pool.BlockCount(), 3u);

    void* stranger = &pool;
    pool.ReleaseBlock(stranger); // not ours: nothing changes
    EXPECT_EQ(stranger, &pool);

    pool.FreeAll();
    EXPECT_EQ(pool.BlockCount(), 0u);
}
