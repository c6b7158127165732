// The benchmark's clock and its way of watching another process's windows.
#pragma once

#include <windows.h>

namespace bench {

// Milliseconds on the performance counter, with sub-millisecond resolution.
double NowMs();

// Checks the condition every intervalMs until it holds; returns the clock
// reading at which it was first seen to hold, or a negative value after
// timeoutMs. The interval is short so that the reading lags the event by
// little, and not zero so that the watcher leaves the CPU to the program.
template <class F> double PollUntil(F condition, double timeoutMs, DWORD intervalMs = 2)
{
    double start = NowMs();
    for (;;) {
        if (condition())
            return NowMs();
        if (NowMs() - start > timeoutMs)
            return -1;
        Sleep(intervalMs);
    }
}

}  // namespace bench
