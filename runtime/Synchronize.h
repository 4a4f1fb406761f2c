#pragma once

#include <functional>

// The hand-over of calls to the user-interface thread: the main thread, the one that started
// the program.

bool IsMainThread();

// Runs Call on the main thread and returns once it has run; on the main thread it runs at
// once. An exception that Call raises reaches the caller.
void Synchronize(const std::function<void()>& Call);

// On the main thread: runs the calls handed over so far, oldest first, one at a time. When
// none is waiting, waits up to TimeoutMs for one. True when it ran any. On another thread it
// only waits TimeoutMs and returns false.
bool CheckSynchronize(int TimeoutMs = 0);

// Installed by the application: called on the handing-over thread each time a call is handed
// over, so that the main loop calls CheckSynchronize soon.
void SetWakeMainThread(std::function<void()> Wake);
