// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once


namespace host {

// Puts the calling thread under SCHED_FIFO at `priority`. Without the right
// to (EPERM) the host says so once, naming the fix, and the thread runs on
// with normal scheduling; false then.
bool runThisThreadRealtime(int priority);

}  // namespace host
