#include "tests/doubles/usbsim/UmockdevPreload.h"

#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kGuardEnv[] = "ORVO_USBSIM_REEXECUTED";

int findSanitizer(dl_phdr_info* info, size_t, void* out)
{
    const char* name = info->dlpi_name;
    if (name && std::strstr(name, "/libasan.so")) {
        *static_cast<std::string*>(out) = name;
        return 1;
    }
    return 0;
}

} // namespace

bool UmockdevPreload::isActive()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload.so");
}

std::string UmockdevPreload::sanitizerRuntime()
{
    std::string found;
    dl_iterate_phdr(findSanitizer, &found);
    return found;
}

std::string UmockdevPreload::preloadValue(const std::string& first)
{
    std::string value = first;
    if (value.empty()) {
        const char* env = std::getenv(kFirstEnv);
        value = env && *env ? env : sanitizerRuntime();
    }
    if (!value.empty()) {
        value += ':';
    }
    value += kLibrary;
    const char* existing = std::getenv("LD_PRELOAD");
    if (existing && *existing) {
        value += ':';
        value += existing;
    }
    return value;
}

void UmockdevPreload::reexecIfMissing(int, char** argv)
{
    if (isActive()) {
        return;
    }
    if (std::getenv(kGuardEnv)) {
        std::fprintf(stderr, "%s: %s is not in LD_PRELOAD after re-executing; giving up\n", argv[0],
                     kLibrary);
        std::exit(1);
    }
    const std::string preload = preloadValue();
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv(kGuardEnv, "1", 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "%s: cannot re-execute with %s: %s\n", argv[0], kLibrary,
                 std::strerror(errno));
    std::exit(1);
}
