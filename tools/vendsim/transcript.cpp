#include "transcript.h"

#include <cstdio>
#include <fstream>

#include "dump.h"

namespace {

// Host bytes closer together than this were most likely one write.
constexpr double kGroupGap = 0.050;
// Keeps each line readable.
constexpr size_t kGroupMax = 32;

// "   6.503  event   escape recognised\n"
std::string format_entry(double t, const char *tag, const std::string &content)
{
    char head[40];
    snprintf(head, sizeof head, "%8.3f  %-7s ", t, tag);
    return head + content + "\n";
}

}  // namespace

Transcript::Transcript(FILE *file, const timespec &start)
    : file_(file)
{
    char head[80];
    snprintf(head, sizeof head, "# vendsim transcript\n# start %lld.%06ld\n",
             static_cast<long long>(start.tv_sec), start.tv_nsec / 1000);
    put(head);
}

void Transcript::pty(double t, const std::string &path)
{
    write(t, "pty", path);
}

void Transcript::host(double t, const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (!group_.empty() && t >= group_last_ + kGroupGap)
            flush_host();
        if (group_.empty())
            group_start_ = t;
        group_.push_back(p[i]);
        group_last_ = t;
        // A CR ends a command, so it ends the entry too.
        if (p[i] == '\r' || group_.size() >= kGroupMax)
            flush_host();
    }
}

void Transcript::sent(double t, Speaker who, const Bytes &bytes)
{
    write(t, who == Speaker::Modem ? "<-modem" : "<-recv", dump_bytes(bytes.data(), bytes.size()));
}

void Transcript::event(double t, const std::string &text)
{
    write(t, "event", text);
}

void Transcript::packet(double t, const std::string &text)
{
    write(t, "packet", text);
}

void Transcript::tick(double now)
{
    if (now >= next_deadline())
        flush_host();
}

double Transcript::next_deadline() const
{
    return group_.empty() ? kNever : group_last_ + kGroupGap;
}

void Transcript::flush_host()
{
    if (group_.empty())
        return;
    Bytes bytes;
    bytes.swap(group_);
    put(format_entry(group_start_, "host->", dump_bytes(bytes.data(), bytes.size())));
}

void Transcript::write(double t, const char *tag, const std::string &content)
{
    // Whatever the host sent before this came first, so it is written first.
    flush_host();
    put(format_entry(t, tag, content));
}

void Transcript::put(const std::string &line)
{
    if (file_ == nullptr)
        return;
    fputs(line.c_str(), file_);
    fflush(file_);
}

bool read_exchanges(const std::string &path, std::vector<Exchange> &script, std::string &error,
                    double *ready)
{
    std::string settings;
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        double t;
        char tag[16];
        int at = 0;
        if (line[0] == '#' || sscanf(line.c_str(), "%lf %15s %n", &t, tag, &at) != 2)
            continue;
        std::string kind = tag;
        if (kind == "pty" && ready != nullptr)
            *ready = t;
        if (kind == "event" && line.compare(at, 5, "line ") == 0)
            settings = line.substr(at + 5);
        if (kind != "host->" && kind != "<-modem" && kind != "<-recv")
            continue;
        Speaker who = kind == "<-recv" ? Speaker::Receiver : Speaker::Modem;
        Exchange e {kind == "host->", who, t, {}, settings};
        unsigned byte;
        int n;
        for (const char *p = line.c_str() + at; sscanf(p, "%2x%n", &byte, &n) == 1; p += n)
            e.bytes.push_back(static_cast<uint8_t>(byte));
        script.push_back(e);
    }
    if (script.empty())
        error = path + " holds no bytes of a line";
    return !script.empty();
}
