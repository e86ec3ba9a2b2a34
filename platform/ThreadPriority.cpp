#include "platform/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zv {

void SetCurrentThreadPriority(int Level)
{
    if (Level <= -15) {
        sched_param param {};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
        return;
    }
    if (Level >= 15) {
        sched_param param {};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
            return;
        }
        Level = 3; // no real-time rights: the highest nice step instead
    }
    // Linux keeps a nice value per thread; 5 steps of nice per level.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, tid, -5 * Level);
}

} // namespace zv
