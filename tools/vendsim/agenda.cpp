#include "agenda.h"

#include <utility>

void Agenda::add(double due, Job job)
{
    jobs_.emplace(due, std::move(job));
}

void Agenda::run_due(double now, Outbox &out)
{
    // A job may add jobs, so take them one at a time from the front.
    while (!jobs_.empty() && jobs_.begin()->first <= now) {
        Job job = std::move(jobs_.begin()->second);
        jobs_.erase(jobs_.begin());
        job(now, out);
    }
}

double Agenda::next() const
{
    return jobs_.empty() ? kNever : jobs_.begin()->first;
}
