// CPU cost of one question to CUPS, asked the two ways the service has known: in process over
// IPP (a kept connection, or a new one per question) and by running the CUPS tool that gave the
// answer before, into an output file. Runs inside scripts/testenv/orvo-testenv against a queue
// that exists (bench/service_bench.py sets it up):
//   bench_cups_questions QUEUE [REPETITIONS]
// Client CPU is this process (in process) or its children (tool); cupsd CPU is read from its
// schedstat, so cupsd must be idle otherwise. The last rows ask at the job watch's pace, one
// question every 100 ms, where each question also pays both processes' wake-ups; a sleep
// alone gives this process's share of that.
#include "bench/BenchClock.h"
#include "service/CupsClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
double ChildrenMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

QString CupsdSchedstat()
{
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile comm("/proc/" + pid + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "cupsd") {
            return "/proc/" + pid + "/schedstat";
        }
    }
    return QString();
}

double CupsdMs(const QString& schedstat)
{
    QFile file(schedstat);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return file.readAll().split(' ').value(0).toDouble() / 1e6;
}

// The tool as the service ran it: no shell, output into a file that is read and removed.
void RunTool(const std::vector<const char*>& args, const char* output)
{
    std::vector<char*> argv;
    for (const char* arg : args) {
        argv.push_back(const_cast<char*>(arg));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output, O_WRONLY | O_CREAT | O_TRUNC,
                                     0666);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    QFile file(QString::fromLocal8Bit(output));
    if (file.open(QIODevice::ReadOnly)) {
        file.readAll();
    }
    QFile::remove(QString::fromLocal8Bit(output));
}

void Measure(const char* what, const char* how, int repetitions, const QString& schedstat,
             const std::function<void()>& question, int paceMs = 0)
{
    question(); // warm: connection, libcups' configuration, page cache
    const double self0 = CpuMs(), kids0 = ChildrenMs(), cupsd0 = CupsdMs(schedstat);
    const timespec pause{0, paceMs * 1000000L};
    for (int i = 0; i < repetitions; ++i) {
        if (paceMs > 0) {
            nanosleep(&pause, nullptr);
        }
        question();
    }
    const double self = (CpuMs() - self0) / repetitions;
    const double kids = (ChildrenMs() - kids0) / repetitions;
    const double cupsd = (CupsdMs(schedstat) - cupsd0) / repetitions;
    std::printf("| %s | %s | %.3f | %.3f | %.3f |\n", what, how, self + kids, cupsd,
                self + kids + cupsd);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_cups_questions QUEUE [REPETITIONS]\n");
        return 2;
    }
    const QString queue = QString::fromLocal8Bit(argv[1]);
    const QByteArray name = queue.toLocal8Bit();
    const int repetitions = argc > 2 ? std::max(1, atoi(argv[2])) : 200;
    const QString schedstat = CupsdSchedstat();
    if (schedstat.isEmpty()) {
        std::fprintf(stderr, "bench_cups_questions: no cupsd found\n");
        return 1;
    }
    const QByteArray out =
        (qEnvironmentVariable("ORVO_TESTENV_DIR", "/tmp") + "/question.tmp").toLocal8Bit();
    const QByteArray user = qEnvironmentVariable("USER", "root").toLocal8Bit();

    CupsClient kept;
    QList<CupsClient::stQueue> queues;
    QList<CupsClient::stJob> jobs;
    std::printf("| question | how | client CPU ms | cupsd CPU ms | total ms |\n"
                "|---|---|---|---|---|\n");
    Measure("queue list", "in process, kept connection", repetitions, schedstat,
            [&] { kept.GetQueues(queues); });
    Measure("queue list", "in process, new connection", repetitions, schedstat, [&] {
        CupsClient fresh;
        fresh.GetQueues(queues);
    });
    Measure("queue list", "lpstat -v", repetitions / 4, schedstat, [&] {
        RunTool({"lpstat", "-v"}, out.constData());
    });
    Measure("printing?", "in process, kept connection", repetitions, schedstat,
            [&] { kept.IsPrinting(queue); });
    Measure("printing?", "in process, new connection", repetitions, schedstat, [&] {
        CupsClient fresh;
        fresh.IsPrinting(queue);
    });
    Measure("printing?", "lpstat -p", repetitions / 4, schedstat, [&] {
        RunTool({"lpstat", "-p", name.constData()}, out.constData());
    });
    Measure("job list", "in process, kept connection", repetitions, schedstat,
            [&] { kept.GetJobs(queue, {}, jobs); });
    Measure("job list", "in process, new connection", repetitions, schedstat, [&] {
        CupsClient fresh;
        fresh.GetJobs(queue, {}, jobs);
    });
    Measure("job list", "lpstat -u -W all -l -o", repetitions / 4, schedstat, [&] {
        RunTool({"lpstat", "-u", user.constData(), "-W", "all", "-l", "-o", name.constData()},
                out.constData());
    });
    const int paced = std::max(1, repetitions / 4);
    Measure(
        "job list", "in process, kept connection, one every 100 ms", paced, schedstat,
        [&] { kept.GetJobs(queue, {}, jobs); }, 100);
    Measure(
        "job list", "in process, new connection, one every 100 ms", paced, schedstat,
        [&] {
            CupsClient fresh;
            fresh.GetJobs(queue, {}, jobs);
        },
        100);
    Measure(
        "none", "a 100 ms sleep alone", paced, schedstat, [] {}, 100);
    return 0;
}
