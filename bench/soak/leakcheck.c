/* Preloaded into the AddressSanitizer build of the service by bench/soak.sh: a leak report on
 * demand. The service never returns from main (it is killed, or ends with _exit), so LSan's
 * check at exit never runs. This library blocks SIGUSR2 in the main thread before main() starts,
 * so every thread the service creates inherits the mask, and waits for it in a thread of its
 * own; on SIGUSR2 it runs LeakSanitizer's check while the service is alive, then ends the
 * process with _exit (23 when leaks were found, else 0).
 * It also takes the ASan runtime and itself out of LD_PRELOAD once loaded: the shell and the CUPS
 * tools the service starts inherit its environment, and `ps -A` (single-instance check) hangs
 * for good with libasan preloaded into it. */
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

static void* wait_for_check(void* arg)
{
    sigset_t* set = arg;
    int sig = 0;
    if (sigwait(set, &sig) != 0) {
        return NULL;
    }
    int leaks = 0;
    if (__lsan_do_recoverable_leak_check) {
        fprintf(stderr, "orvo-soak: leak check\n");
        leaks = __lsan_do_recoverable_leak_check();
    } else {
        fprintf(stderr, "orvo-soak: no LeakSanitizer in this process\n");
    }
    fprintf(stderr, "orvo-soak: leak check done: %s\n", leaks ? "LEAKS" : "no leaks");
    fflush(stderr);
    _exit(leaks ? 23 : 0);
}

static void strip_preload(void)
{
    const char* preload = getenv("LD_PRELOAD");
    if (!preload) {
        return;
    }
    char kept[4096] = "";
    char copy[4096];
    snprintf(copy, sizeof copy, "%s", preload);
    char* save = NULL;
    for (char* item = strtok_r(copy, ": ", &save); item; item = strtok_r(NULL, ": ", &save)) {
        if (strstr(item, "libasan") || strstr(item, "leakcheck")) {
            continue;
        }
        if (kept[0]) {
            strncat(kept, ":", sizeof kept - strlen(kept) - 1);
        }
        strncat(kept, item, sizeof kept - strlen(kept) - 1);
    }
    setenv("LD_PRELOAD", kept, 1);
}

__attribute__((constructor)) static void soak_leakcheck_init(void)
{
    strip_preload();
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &set, NULL);
    pthread_t thread;
    if (pthread_create(&thread, NULL, wait_for_check, &set) == 0) {
        pthread_detach(thread);
    }
}
