// Kernel services: the one clock, sleeping, global memory blocks, debugger output, thread ids
// and file append.
//
// Thread rule: every function here is thread-safe unless its comment says otherwise.
//
// The clock is shared by the control, the simulated camera and the tests. A time warp makes
// it run `warp` times faster than real time and shortens every sleep to match, so timing
// behaviour (frame intervals, retry pauses, exposure) can be tested quickly and honestly.
// The warp comes from the environment variable BX_TIME_WARP (default 1) on first use and may
// be changed later with SetTimeWarp; the clock stays continuous across a change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace bx::kernel {

// ---- Clock -------------------------------------------------------------------------------

// High-resolution counter in ticks of the warped clock; monotonic, starts near 0 at process
// start. Always available on this platform.
int64_t QueryPerformanceCounter();
// Ticks per second of QueryPerformanceCounter (10 MHz).
int64_t QueryPerformanceFrequency();
// Warped milliseconds since process start, wrapping at 2^32 like the classic tick count.
uint32_t GetTickCount();
uint64_t GetTickCount64();
// Warped microseconds since process start; convenient for drivers and benchmarks.
int64_t NowMicroseconds();

// Sleeps for `ms` warped milliseconds (real time ms / warp). Sleep(0) yields.
void Sleep(uint32_t ms);
// Sleeps for `us` warped microseconds. Non-positive values return at once.
void SleepMicroseconds(int64_t us);
// Sleeps until the warped clock reads `us` (NowMicroseconds scale). Returns at once if past.
void SleepUntilMicroseconds(int64_t us);
// Spins (with yields) until `ms` warped milliseconds have passed; for short precise waits.
void BusyWaitMilliseconds(uint32_t ms);

// Current warp factor (>= 1e-3). SetTimeWarp rejects values that are not finite or <= 0 and
// returns false then.
double TimeWarp();
bool SetTimeWarp(double warp);

// ---- Global memory blocks ----------------------------------------------------------------
// Zero-filled, movable blocks: the handle stays valid while the memory may move; a pointer is
// valid only between GlobalLock and the matching GlobalUnlock.

struct GlobalBlock;                 // opaque
using HGLOBAL = GlobalBlock*;

// Allocates `bytes` zero-filled bytes. Returns null when out of memory, when bytes is 0, or
// when the failure hook says so.
HGLOBAL GlobalAlloc(size_t bytes);
// Increments the lock count and returns the block's memory; null for a null or freed handle,
// or when the failure hook says so (the lock count is then unchanged).
void* GlobalLock(HGLOBAL h);
// Decrements the lock count. Returns false for an unknown handle or a count already at zero.
bool GlobalUnlock(HGLOBAL h);
// Frees the block. Returns false (and frees nothing) for a null or unknown handle.
bool GlobalFree(HGLOBAL h);
// Lock count of the block, or -1 for an unknown handle.
int GlobalLockCount(HGLOBAL h);
// Size in bytes, 0 for an unknown handle.
size_t GlobalSize(HGLOBAL h);
// Number of blocks currently allocated (for leak checks in tests).
size_t GlobalBlocksInUse();

// Failure hooks for tests: the Nth call from now (1 = the next) fails; 0 disarms.
void FailNthGlobalAlloc(int n);
void FailNthGlobalLock(int n);

// ---- Debugger output ---------------------------------------------------------------------

using DebugSink = std::function<void(std::string_view)>;
// Sends a text to the debugger sink. Without a sink the text goes to stderr when the
// environment variable BX_DEBUG_OUTPUT is set, and nowhere otherwise.
void OutputDebugStringA(const char* text);
// Installs a sink (an empty function removes it); returns the previous one.
DebugSink SetDebugSink(DebugSink sink);

// ---- Threads and files -------------------------------------------------------------------

// Operating-system id of the calling thread.
uint32_t GetCurrentThreadId();

// Appends `data` to the file at `path`, creating it if needed, in one write. Returns false
// (with errno kept) when the file cannot be opened or written.
bool AppendToFile(const std::string& path, std::string_view data);

}  // namespace bx::kernel
