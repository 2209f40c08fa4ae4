// The library's per-thread pointer (a TlsAlloc slot on Windows, a thread-local on POSIX). It is
// null in every new thread; nothing is allocated for a thread that never stores a value. A stored
// value has one owner, the slot: it is released once, with the function given to
// open_thread_slot, when its thread ends (on Windows by the DLL's thread-detach notification
// calling end_thread_slot; on POSIX at the thread's exit).
#pragma once

namespace plat {

using SlotRelease = void (*)(void *value);

// Process attach: makes the slot ready. False when the system has no slot to give.
bool open_thread_slot(SlotRelease release);
// The calling thread's value; null when it has stored none.
void *thread_slot();
// Stores the calling thread's value; false when the slot is not ready.
bool set_thread_slot(void *value);
// Thread detach: releases the calling thread's value and empties its slot.
void end_thread_slot();
// The library is unloaded while the process goes on (Windows): releases the values that threads
// still hold and gives the slot back.
void close_thread_slot();

} // namespace plat
