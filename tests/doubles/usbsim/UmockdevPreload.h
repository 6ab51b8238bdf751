#pragma once

// umockdev can only redirect /sys and /dev for a process that had its preload library in
// LD_PRELOAD from the start.  A test binary calls reexecIfMissing() first thing in main(), before
// Qt or any thread exists; a launcher builds the child's LD_PRELOAD with preloadValue().

#include <string>

class UmockdevPreload
{
public:
    static constexpr const char* kLibrary = "libumockdev-preload.so.0";
    // Optional library that must precede the preload, e.g. the ASan runtime of the child.
    static constexpr const char* kFirstEnv = "ORVO_USBSIM_PRELOAD_FIRST";

    static bool isActive();

    // LD_PRELOAD for a process that should see the emulation: first (or, when empty,
    // $ORVO_USBSIM_PRELOAD_FIRST, or the ASan runtime this process runs with), then the preload,
    // then whatever LD_PRELOAD already held.  ASan refuses to start unless its runtime comes
    // first; TSan has no such rule and is not added, so unsanitized children stay unsanitized.
    static std::string preloadValue(const std::string& first = std::string());

    // Path of the ASan runtime loaded into this process, or empty.
    static std::string sanitizerRuntime();

    // Returns at once when the preload is active; otherwise re-executes /proc/self/exe with the
    // same arguments and the preload added.  Exits with status 1 (and a message) when that fails
    // or when the re-executed program still lacks the preload.
    static void reexecIfMissing(int argc, char** argv);
};
