// Things a personality has promised to do later (late replies, dial
// results).  The loop sleeps until the earliest of them.
#ifndef VENDSIM_AGENDA_H
#define VENDSIM_AGENDA_H

#include <functional>
#include <map>

#include "personality.h"

class Agenda {
public:
    using Job = std::function<void(double now, Outbox &out)>;

    void add(double due, Job job);
    // Runs every job due by now, earliest first; equal times keep their order.
    void run_due(double now, Outbox &out);
    double next() const;
    void clear() { jobs_.clear(); }

private:
    std::multimap<double, Job> jobs_;
};

#endif
