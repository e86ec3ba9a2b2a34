#pragma once

namespace zv {

// Applies a priority level to the calling thread: -15 idle, -2 ... 2 below and above normal, 15
// time-critical. Levels above normal need privileges the process may lack; then the thread keeps
// the priority it has, which is not an error.
void SetCurrentThreadPriority(int Level);

} // namespace zv
