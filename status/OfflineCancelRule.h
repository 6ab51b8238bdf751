#pragma once

// Whether the job watch cancels in CUPS the jobs of a printer that has just been found
// unreachable. Only a printer that this iteration gave up (status 2) counts, and only when the
// status it had before says its jobs cannot finish by themselves.
class OfflineCancelRule
{
public:
    // `workerStatus`: the status of this iteration; `sharedStatus`: the status written back by
    // the previous one (2 when the list holds no entry of this printer any more).
    static bool Fires(int connectType, int workerStatus, int sharedStatus);
};
