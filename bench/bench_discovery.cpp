// Cost of one device-manager cycle for the service itself, without the lpstat run it waits for.
// Runs inside scripts/testenv/orvo-testenv against queues that already exist; see
// bench/run-discovery-bench.sh, which creates them and calls this program:
//   bench_discovery [REPETITIONS]
// For each repetition it runs the steps of an unchanged cycle (heartbeat, "lpstat -v", parse,
// one PPD read per queue, comparison with the shared list, unforced printer list write) and
// reports medians: wall time of the tool run, the service's own wall time (the rest), and the
// service's own CPU time (this process only; the shell and lpstat are child processes).
#include "bench/BenchClock.h"
#include "devices/TrdDeviceManage.h"
#include "service/CupsClient.h"
#include "service/SharedPrinterList.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile90(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[(v.size() * 9) / 10];
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 50;

    QList<stPrinterManager> shared;
    TrdDeviceManage manager;
    manager.Init(&shared);
    // Steady state: the shared list already equals what discovery finds, so no worker starts.
    const QList<stPrinterInfo> first = manager.GetPrinterInfo(true);
    SharedPrinterList::Replace(&shared, manager.GetInitPrinterList(first));
    manager.SavePrinterInfo(first, true);

    std::vector<double> askWall, ownWall, ownCpu, askCpu;
    CupsClient cups;
    int found = 0;
    for (int i = 0; i < repetitions; ++i) {
        const double cpu0 = CpuMs();
        const double t0 = NowMs();
        manager.WriteHeartbeat();
        const double t1 = NowMs();
        const double cpuAsk0 = CpuMs();
        QList<CupsClient::stQueue> queues;
        cups.GetQueues(queues);
        const double cpuAsk1 = CpuMs();
        const double t2 = NowMs();
        const QList<stPrinterInfo> list = manager.SelectQueues(queues, true);
        const bool same = SharedPrinterList::Equals(&shared, list);
        manager.SavePrinterInfo(list, false);
        const double t3 = NowMs();
        const double cpu1 = CpuMs();
        if (!same) {
            std::fprintf(stderr, "bench_discovery: the queues changed during the run\n");
            return 1;
        }
        found = list.size();
        askWall.push_back(t2 - t1);
        ownWall.push_back((t1 - t0) + (t3 - t2));
        ownCpu.push_back(cpu1 - cpu0);
        askCpu.push_back(cpuAsk1 - cpuAsk0);
    }
    std::printf("queues listed: %d, repetitions: %d\n", found, repetitions);
    std::printf("CUPS-Get-Printers (wall) median %7.2f ms  p90 %7.2f ms\n", Median(askWall),
                Percentile90(askWall));
    std::printf("service own wall time  median %7.3f ms  p90 %7.3f ms\n", Median(ownWall),
                Percentile90(ownWall));
    std::printf("service own CPU time   median %7.3f ms  p90 %7.3f ms\n", Median(ownCpu),
                Percentile90(ownCpu));
    std::printf("  of which asking CUPS and reading the answer: median %7.3f ms\n", Median(askCpu));
    return 0;
}
