// Measures a doorbell that tells the service of changes in CUPS: a subscription to the job,
// printer and server events of all queues, and the way its events reach this process:
//   none  no subscription (the cost of the changes themselves, the baseline)
//   rss   rss:///NAME, inotify on CacheDir/rss for the notifier's rename of NAME
//   orvo  orvo://localhost/doorbell, our own notifier, one datagram per read of its events
// Runs inside scripts/testenv/orvo-testenv (bench/doorbell/run.sh sets it up):
//   doorbell_probe KIND QUEUE CHANGES IDLE_S [--no-restart]
// It makes CHANGES changes on QUEUE (pause, Create-Job, cancel it, resume, in turn), timing
// each from the request to the first ring. Then, unless --no-restart: sits IDLE_S seconds
// without a change; makes one change after the idle time; restarts cupsd (SIGTERM, start) and
// makes one change more; stops listening as a killed service would and makes four changes; and
// cancels the subscription.
// CPU is read from schedstat (nanoseconds): cupsd, the notifier processes alive at the time
// and this process's listening thread (not the thread that makes the changes).
#include <cups/cups.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <string>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

const char* const kRssDir = "/var/cache/cups/rss";
const char* const kRssName = "orvo-doorbell";
const char* const kBellDir = "/run/orvo-statusd";
const char* const kBellSocket = "/run/orvo-statusd/doorbell";

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Rings seen by the listening thread, with their times.
class Rings
{
public:
    void Add()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(Clock::now());
        changed_.notify_all();
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_.size();
    }
    // The time of ring number INDEX (0-based), waiting for it until DEADLINE.
    bool WaitFor(size_t index, Clock::time_point deadline, Clock::time_point* at)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_until(lock, deadline, [&] { return times_.size() > index; })) {
            return false;
        }
        *at = times_[index];
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Clock::time_point> times_;
};

Rings rings;
std::atomic<bool> stopping{false};
// Written once to stop the listening thread, which otherwise blocks for as long as it is idle.
int stopPipe[2] = {-1, -1};

// Waits for FD to be readable; false once stopping.
bool WaitReadable(int fd)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    while (poll(p, 2, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return !(p[1].revents & POLLIN) && !stopping;
}

void StopListening(std::thread& listener)
{
    stopping = true;
    (void)!write(stopPipe[1], "x", 1);
    listener.join();
}
std::atomic<long> foreignRings{0};
uid_t lpUid = 0;

void ListenRss(int fd)
{
    alignas(inotify_event) char buffer[8192];
    while (WaitReadable(fd)) {
        const ssize_t got = read(fd, buffer, sizeof(buffer));
        bool ours = false;
        for (ssize_t at = 0; got > 0 && at + ssize_t(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const ssize_t size = ssize_t(sizeof(inotify_event)) + event->len;
            if (at + size > got) {
                break;
            }
            if (event->len && strncmp(event->name, kRssName, event->len) == 0) {
                ours = true;
            }
            at += size;
        }
        if (ours) {
            rings.Add();
        }
    }
}

void ListenSocket(int fd)
{
    while (WaitReadable(fd)) {
        // Several rings waiting make one: a ring only says "ask again".
        bool any = false;
        for (;;) {
            char byte;
            iovec io{&byte, 1};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
            msghdr message{};
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof(control);
            if (recvmsg(fd, &message, MSG_DONTWAIT) < 0) {
                break;
            }
            const cmsghdr* c = CMSG_FIRSTHDR(&message);
            if (c && c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len == CMSG_LEN(sizeof(ucred))) {
                ucred from;
                memcpy(&from, CMSG_DATA(c), sizeof(from));
                if (from.uid != lpUid) {
                    ++foreignRings;
                    continue;
                }
            }
            any = true;
        }
        if (any) {
            rings.Add();
        }
    }
}

ipp_t* Request(ipp_op_t op, const std::string& uri)
{
    ipp_t* request = ippNewRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

bool Ask(ipp_t* request, const char* resource, ipp_t** answer = nullptr)
{
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, resource);
    const bool ok = response && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
    if (answer) {
        *answer = response;
    } else {
        ippDelete(response);
    }
    return ok;
}

int Subscribe(const std::string& recipient)
{
    static const char* const events[] = {
        "job-created",        "job-completed",         "job-state-changed", "job-stopped",
        "job-config-changed", "printer-state-changed", "printer-added",     "printer-deleted",
        "printer-modified",   "server-started",        "server-stopped",    "server-restarted"};
    ipp_t* request = Request(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS, "ipp://localhost/");
    ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_URI, "notify-recipient-uri", nullptr,
                 recipient.c_str());
    ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                  int(sizeof(events) / sizeof(events[0])), nullptr, events);
    ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", 3600);
    ipp_t* answer = nullptr;
    int id = -1;
    if (Ask(request, "/", &answer)) {
        if (ipp_attribute_t* a =
                ippFindAttribute(answer, "notify-subscription-id", IPP_TAG_INTEGER)) {
            id = ippGetInteger(a, 0);
        }
    } else {
        fprintf(stderr, "subscribe: %s\n", cupsLastErrorString());
    }
    ippDelete(answer);
    return id;
}

bool SubscriptionExists(int id)
{
    ipp_t* request = Request(IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES, "ipp://localhost/");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    return Ask(request, "/");
}

bool CancelSubscription(int id)
{
    ipp_t* request = Request(IPP_OP_CANCEL_SUBSCRIPTION, "ipp://localhost/");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    return Ask(request, "/");
}

// One change of QUEUE; the kind goes round pause, Create-Job, cancel, resume.
bool Change(const std::string& queue, int step)
{
    static int job = 0;
    const std::string uri = "ipp://localhost/printers/" + queue;
    switch (step % 4) {
    case 0:
        return Ask(Request(IPP_OP_PAUSE_PRINTER, uri), "/admin/");
    case 1:
        job = cupsCreateJob(CUPS_HTTP_DEFAULT, queue.c_str(), "doorbell", 0, nullptr);
        return job > 0;
    case 2:
        return cupsCancelJob2(CUPS_HTTP_DEFAULT, queue.c_str(), job, 0) == IPP_STATUS_OK;
    default:
        return Ask(Request(IPP_OP_RESUME_PRINTER, uri), "/admin/");
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text;
}

struct ProcessCost
{
    double ms = 0;
    long wakeups = 0; // voluntary context switches
    long rssKb = 0;
    int count = 0;
};

ProcessCost CostOf(const std::string& pid)
{
    ProcessCost cost;
    const std::string sched = ReadFile("/proc/" + pid + "/schedstat");
    if (sched.empty()) {
        return cost;
    }
    cost.ms = strtod(sched.c_str(), nullptr) / 1e6;
    const std::string status = ReadFile("/proc/" + pid + "/status");
    const size_t at = status.find("\nvoluntary_ctxt_switches:");
    if (at != std::string::npos) {
        cost.wakeups = strtol(status.c_str() + at + 25, nullptr, 10);
    }
    const size_t rss = status.find("\nVmRSS:");
    if (rss != std::string::npos) {
        cost.rssKb = strtol(status.c_str() + rss + 7, nullptr, 10);
    }
    cost.count = 1;
    return cost;
}

std::string CupsdPid()
{
    const char* dir = getenv("ORVO_TESTENV_DIR");
    std::string pid = ReadFile(std::string(dir ? dir : "/run/orvo-testenv") + "/cupsd.pid");
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) {
        pid.pop_back();
    }
    return pid;
}

// The notifier processes alive now (argv[0] under the notifier directory).
ProcessCost NotifierCost()
{
    ProcessCost total;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue;
        }
        const std::string cmdline = ReadFile(std::string("/proc/") + entry->d_name + "/cmdline");
        if (cmdline.find("/notifier/") == std::string::npos) {
            continue;
        }
        const ProcessCost one = CostOf(entry->d_name);
        total.ms += one.ms;
        total.wakeups += one.wakeups;
        total.rssKb += one.rssKb;
        total.count += one.count;
    }
    if (proc) {
        closedir(proc);
    }
    return total;
}

struct Snapshot
{
    ProcessCost cupsd, notifier;
    double listenerMs = 0;
    size_t rings = 0;
    Clock::time_point at;
};

Snapshot Take(clockid_t listener, bool listening)
{
    Snapshot s;
    s.cupsd = CostOf(CupsdPid());
    s.notifier = NotifierCost();
    if (listening) {
        timespec t{};
        clock_gettime(listener, &t);
        s.listenerMs = t.tv_sec * 1e3 + t.tv_nsec / 1e6;
    }
    s.rings = rings.Count();
    s.at = Clock::now();
    return s;
}

// Makes change number STEP and waits for its first ring; the latency in ms, or -1 for none
// within DEADLINE.
double TimedChange(const std::string& queue, int step, bool listening, double settleMs)
{
    const size_t before = rings.Count();
    const Clock::time_point start = Clock::now();
    if (!Change(queue, step)) {
        fprintf(stderr, "change %d failed: %s\n", step, cupsLastErrorString());
    }
    double latency = -1;
    Clock::time_point rang;
    if (listening && rings.WaitFor(before, start + std::chrono::seconds(2), &rang)) {
        latency = Ms(rang - start);
    }
    // Let every ring of this change arrive before the next one starts.
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(settleMs));
    return latency;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) {
        return -1;
    }
    std::sort(v.begin(), v.end());
    size_t index = size_t(p * double(v.size()) + 0.999999);
    index = std::min(v.size(), std::max<size_t>(index, 1)) - 1;
    return v[index];
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && !(argc == 6 && strcmp(argv[5], "--no-restart") == 0)) {
        fprintf(stderr,
                "usage: doorbell_probe none|rss|orvo QUEUE CHANGES IDLE_S [--no-restart]\n");
        return 2;
    }
    const bool restart = argc == 5;
    const std::string kind = argv[1], queue = argv[2];
    // Whole rounds, so that the queue ends resumed.
    const int changes = (std::max(atoi(argv[3]), 4) + 3) / 4 * 4;
    const int idleS = atoi(argv[4]);
    if (kind != "none" && kind != "rss" && kind != "orvo") {
        return 2;
    }
    if (const passwd* lp = getpwnam("lp")) {
        lpUid = lp->pw_uid;
    }

    const bool listening = kind != "none";
    int fd = -1;
    std::string recipient;
    if (kind == "rss") {
        fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd < 0 || inotify_add_watch(fd, kRssDir, IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
            perror(kRssDir);
            return 1;
        }
        recipient = std::string("rss:///") + kRssName;
    } else if (kind == "orvo") {
        mkdir(kBellDir, 0755);
        unlink(kBellSocket);
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, kBellSocket, sizeof(address.sun_path) - 1);
        const int on = 1;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0 ||
            chmod(kBellSocket, 0666) < 0 ||
            setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) < 0) {
            perror(kBellSocket);
            return 1;
        }
        recipient = "orvo://localhost/doorbell";
    }
    std::thread listener;
    clockid_t listenerClock{};
    if (pipe2(stopPipe, O_CLOEXEC) < 0) {
        return 1;
    }
    if (listening) {
        listener = std::thread(kind == "rss" ? ListenRss : ListenSocket, fd);
        pthread_getcpuclockid(listener.native_handle(), &listenerClock);
    }
    int id = -1;
    if (listening && (id = Subscribe(recipient)) < 0) {
        return 1;
    }
    printf("kind %s subscription %d recipient %s\n", kind.c_str(), id, recipient.c_str());

    // Warm up: the notifier of a subscription starts at its first event (rss at once).
    int step = 0;
    for (; step < 4; ++step) {
        TimedChange(queue, step, listening, 50);
    }

    std::vector<double> latencies;
    long missed = 0;
    const Snapshot a = Take(listenerClock, listening);
    for (int i = 0; i < changes; ++i, ++step) {
        const double l = TimedChange(queue, step, listening, 50);
        if (l >= 0) {
            latencies.push_back(l);
        } else {
            ++missed;
        }
    }
    const Snapshot b = Take(listenerClock, listening);
    const double n = changes;
    printf("changes %d rung %zu missed %ld rings %zu (%.2f per change) foreign %ld\n", changes,
           latencies.size(), missed, b.rings - a.rings, double(b.rings - a.rings) / n,
           foreignRings.load());
    printf("latency_ms p50 %.3f p99 %.3f max %.3f\n", Percentile(latencies, 0.5),
           Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    printf("per_change_us cupsd %.1f notifier %.1f listener %.1f (notifiers alive %d, "
           "%ld kB resident)\n",
           (b.cupsd.ms - a.cupsd.ms) * 1e3 / n, (b.notifier.ms - a.notifier.ms) * 1e3 / n,
           (b.listenerMs - a.listenerMs) * 1e3 / n, b.notifier.count, b.notifier.rssKb);
    if (!restart) {
        // The hardened check needs only that the bell rings where the service may listen.
        if (listening) {
            StopListening(listener);
        }
        printf("cancel %s\n", id < 0 || CancelSubscription(id) ? "ok" : cupsLastErrorString());
        return latencies.empty() && listening ? 1 : 0;
    }

    // Idle: nothing changes; what do the doorbell's processes cost?
    const Snapshot c = Take(listenerClock, listening);
    std::this_thread::sleep_for(std::chrono::seconds(idleS));
    const Snapshot d = Take(listenerClock, listening);
    const double seconds = std::chrono::duration<double>(d.at - c.at).count();
    printf("idle_s %.1f cupsd_pct %.4f cupsd_wakeups_per_s %.2f notifier_pct %.4f "
           "notifier_wakeups_per_s %.2f notifiers_alive %d->%d listener_pct %.5f rings %zu\n",
           seconds, (d.cupsd.ms - c.cupsd.ms) / seconds / 10,
           double(d.cupsd.wakeups - c.cupsd.wakeups) / seconds,
           d.notifier.count == c.notifier.count ? (d.notifier.ms - c.notifier.ms) / seconds / 10
                                                : -1.0,
           d.notifier.count == c.notifier.count
               ? double(d.notifier.wakeups - c.notifier.wakeups) / seconds
               : -1.0,
           c.notifier.count, d.notifier.count, (d.listenerMs - c.listenerMs) / seconds / 10,
           d.rings - c.rings);

    const double afterIdle = TimedChange(queue, step++, listening, 200);
    printf("after_idle latency_ms %.3f notifiers_alive %d\n", afterIdle, NotifierCost().count);

    // A clean restart of cupsd: does the subscription survive, and does the bell still ring?
    const size_t beforeRestart = rings.Count();
    const int restarted = system("bash -c '. \"$ORVO_TESTENV_SCRIPTS/lib.sh\" && "
                                 "testenv_cupsd_stop && testenv_cupsd_start'");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t restartRings = rings.Count() - beforeRestart;
    const bool survived = listening && SubscriptionExists(id);
    // The change after idle paused the queue: resuming it is a change for certain.
    const double afterRestart = TimedChange(queue, 3, listening, 200);
    printf("restart status %d rings_during %zu subscription_kept %s after_restart latency_ms "
           "%.3f notifiers_alive %d\n",
           restarted, restartRings, survived ? "yes" : "no", afterRestart, NotifierCost().count);

    if (listening) {
        // The service gone without cancelling (killed): its doorbell is not read any more.
        StopListening(listener);
        close(fd);
        if (kind == "orvo") {
            unlink(kBellSocket);
        }
        for (int i = 0; i < 4; ++i) {
            TimedChange(queue, i, false, 50);
        }
        printf("service_gone changes 4 notifiers_alive %d\n", NotifierCost().count);
        const bool cancelled = CancelSubscription(id);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        printf("cancel %s notifiers_alive_after %d\n", cancelled ? "ok" : cupsLastErrorString(),
               NotifierCost().count);
    }
    return 0;
}
