#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pty.h"

// The filler after the last counter starts with a letter: a digit there
// would run on into "   45" for a reader that skips blanks and reads up to
// five characters.
const char kDefaultIdent[] = "RCV-3000"
                             "SN004711"
                             "  235"
                             "  120"
                             "   45"
                             "FW-0123456"
                             "24"
                             "12";

namespace {

// Longer than this is surely a typo; it also keeps time arithmetic small.
constexpr double kMaxSeconds = 1e6;
constexpr unsigned long kMaxCount = 100000;

bool all_of(const char *s, const char *allowed)
{
    return *s && strspn(s, allowed) == strlen(s);
}

// Plain decimal seconds: "2", "0.25".  No signs, exponents or hex.
bool parse_seconds(const char *s, double &out, bool positive = false)
{
    if (!all_of(s, "0123456789."))
        return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(s, &end);
    if (errno || *end || !std::isfinite(v) || v > kMaxSeconds || (positive && v <= 0))
        return false;
    out = v;
    return true;
}

bool parse_count(const char *s, unsigned long max, unsigned long &out)
{
    if (!all_of(s, "0123456789") || strlen(s) > 10)
        return false;
    unsigned long long v = strtoull(s, nullptr, 10);
    if (v > max)
        return false;
    out = static_cast<unsigned long>(v);
    return true;
}

template <class E> struct Named {
    const char *name;
    E value;
};

template <class E, size_t N> bool pick(const char *s, const Named<E> (&table)[N], E &out)
{
    for (const auto &entry : table) {
        if (strcmp(s, entry.name) == 0) {
            out = entry.value;
            return true;
        }
    }
    return false;
}

bool set_reply(Scenario &sc, const char *v)
{
    static const Named<ReplyMode> modes[] = {{"ok", ReplyMode::Ok},
                                             {"silent", ReplyMode::Silent},
                                             {"garbage", ReplyMode::Garbage},
                                             {"vanish", ReplyMode::Vanish}};
    if (strncmp(v, "late:", 5) == 0) {
        sc.modem.reply = ReplyMode::Late;
        return parse_seconds(v + 5, sc.modem.late);
    }
    return pick(v, modes, sc.modem.reply);
}

bool set_dial(Scenario &sc, const char *v)
{
    static const Named<DialResult> results[] = {{"busy", DialResult::Busy},
                                                {"no-carrier", DialResult::NoCarrier},
                                                {"ok", DialResult::Ok},
                                                {"silent", DialResult::Silent},
                                                {"vanish", DialResult::Vanish}};
    if (strcmp(v, "connect") == 0) {
        sc.modem.dial = DialResult::Connect;
        sc.modem.speed.clear();
        return true;
    }
    if (strncmp(v, "connect:", 8) == 0) {
        sc.modem.dial = DialResult::Connect;
        sc.modem.speed = v + 8;
        return all_of(v + 8, "0123456789") && strlen(v + 8) <= 9;
    }
    return pick(v, results, sc.modem.dial);
}

bool set_enq(Scenario &sc, const char *v)
{
    static const Named<EnqAnswer> answers[]
        = {{"ack", EnqAnswer::Ack}, {"nak", EnqAnswer::Nak}, {"silent", EnqAnswer::Silent}};
    return pick(v, answers, sc.receiver.enq);
}

bool set_vanish_bytes(Scenario &sc, const char *v)
{
    sc.vanish_after = true;
    return parse_count(v, 1000000000UL, sc.vanish_bytes);
}

bool set_device_parity(Scenario &sc, const char *v)
{
    static const Named<DeviceParity> parities[]
        = {{"none", DeviceParity::None}, {"odd", DeviceParity::Odd}, {"even", DeviceParity::Even}};
    return pick(v, parities, sc.device_parity);
}

// A path or a text that must not be empty.
template <std::string Scenario::*field> bool set_name(Scenario &sc, const char *v)
{
    sc.*field = v;
    return *v != '\0';
}

using S = Scenario;
using V = const char *;

// Every option, once: its name, the name of its value (none for a flag), its line of the usage
// text ('\n' continues it on the next) and what it sets.  A row without a name is a heading of
// the usage text; --help alone sets nothing.
struct OptionRule {
    const char *name;
    const char *value;
    const char *help;
    bool (*set)(Scenario &, const char *);
};

const OptionRule kOptions[] = {
    {nullptr, nullptr, "General:", nullptr},
    {"link", "PATH", "make PATH a symlink to the terminal (removed on exit)",
     set_name<&Scenario::link>},
    {"transcript", "FILE", "write a time-stamped transcript to FILE",
     set_name<&Scenario::transcript>},
    {"max-time", "SECONDS", "end with status 3 after this long (default 600)",
     [](S &s, V v) { return parse_seconds(v, s.max_time, true); }},
    {"keep", nullptr, "serve a fresh terminal after the host closes the line",
     [](S &s, V) {
         s.keep = true;
         return true;
     }},
    {"help", nullptr, "this text", nullptr},
    {nullptr, nullptr, "A serial device instead of a pseudo-terminal:", nullptr},
    {"port", "DEVICE", "serve DEVICE, raw, until it goes away or time is up",
     set_name<&Scenario::port>},
    {"device-speed", "BAUD", "its speed (default 9600)",
     [](S &s, V v) {
         return parse_count(v, 115200, s.device_speed) && speed_code(s.device_speed) != 0;
     }},
    {"device-parity", "P",
     "none, odd or even on the device (default: odd;\nwith --record, the host's)",
     set_device_parity},
    {nullptr, nullptr, "Instead of the simulated modem and receiver:", nullptr},
    {"record", "DEVICE", "relay to a real serial device, recording the line",
     set_name<&Scenario::record>},
    {"replay", "FILE",
     "play the device's side of a transcript; status 4 when\nthe host's bytes or line settings "
     "differ from it",
     set_name<&Scenario::replay>},
    {nullptr, nullptr, "Modem:", nullptr},
    {"reply", "MODE", "ok, silent, garbage, late:SECONDS or vanish (default ok)", set_reply},
    {"vanish-after-bytes", "N", "close the line after N bytes from the host", set_vanish_bytes},
    {"no-echo", nullptr, "do not echo commands",
     [](S &s, V) {
         s.modem.echo = false;
         return true;
     }},
    {"connected", nullptr, "start with a call in progress",
     [](S &s, V) {
         s.modem.connected = true;
         return true;
     }},
    {"guard", "SECONDS", "escape guard time (default 1.0)",
     [](S &s, V v) { return parse_seconds(v, s.modem.guard, true); }},
    {"dial", "RESULT",
     "connect[:SPEED], busy, no-carrier, ok, silent or\nvanish (default connect:9600)", set_dial},
    {"dial-delay", "SECONDS", "time from dial to result (default 2)",
     [](S &s, V v) { return parse_seconds(v, s.modem.dial_delay); }},
    {nullptr, nullptr, "Receiver:", nullptr},
    {"enq", "ack|nak|silent", "answer to ENQ (default ack)", set_enq},
    {"monitor", nullptr, "report remote-monitor mode",
     [](S &s, V) {
         s.receiver.monitor = true;
         return true;
     }},
    {"ident", "TEXT", "identification record",
     [](S &s, V v) {
         s.receiver.ident = v;
         return strlen(v) <= 255;
     }},
    {"config-type", "N", "byte 44 of the configuration record (default 4)",
     [](S &s, V v) { return parse_count(v, 255, s.receiver.config_type); }},
    {"config-check", "N", "byte 38 of the configuration record (default 1)",
     [](S &s, V v) { return parse_count(v, 255, s.receiver.config_check); }},
    {"config-len", "N", "length of the configuration record (default 45)",
     [](S &s, V v) { return parse_count(v, 255, s.receiver.config_len); }},
    {"slip-93", "N", "N stray 0x93 packets before each reply",
     [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.slip_93); }},
    {"bad-checksum", "N", "the first N replies carry a wrong checksum",
     [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.bad_checksum); }},
    {"noise", "N", "N noise bytes before each reply",
     [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.noise); }},
    {"reply-delay", "SECONDS", "wait before each reply",
     [](S &s, V v) { return parse_seconds(v, s.receiver.reply_delay); }},
    {"ignore-requests", "N", "leave the first N requests unanswered",
     [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.ignore_requests); }},
    {"packet-reply", "silent", "never answer requests",
     [](S &s, V v) {
         s.receiver.packets_silent = true;
         return strcmp(v, "silent") == 0;
     }},
};

const OptionRule *find_option(const std::string &name)
{
    for (const OptionRule &o : kOptions) {
        if (o.name != nullptr && name == o.name)
            return &o;
    }
    return nullptr;
}

// getopt_long's codes for the rows of kOptions start here, above its own codes.
constexpr int kFirstRow = 256;

std::vector<option> long_options()
{
    std::vector<option> options;
    for (const OptionRule &o : kOptions) {
        int code = kFirstRow + static_cast<int>(&o - kOptions);
        if (o.name != nullptr)
            options.push_back({o.name, o.value ? required_argument : no_argument, nullptr, code});
    }
    options.push_back({});
    return options;
}

// What is wrong with arg, the word getopt_long stopped at.  Options are taken only by their
// whole names, so an abbreviation getopt_long would take is an unknown option too.
std::string fault_of(const std::string &arg, const OptionRule *taken)
{
    if (arg.compare(0, 2, "--") != 0 || arg.size() == 2)
        return (arg[0] == '-' ? "unknown option '" : "unexpected argument '") + arg + "'";
    size_t eq = arg.find('=');
    std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const OptionRule *rule = find_option(name);
    if (rule == nullptr || rule->set == nullptr)
        return "unknown option '--" + name + "'";
    if (rule == taken)
        return "";
    if (rule->value == nullptr)
        return "option '--" + name + "' takes no value";
    return "option '--" + name + "' needs a value";
}

}  // namespace

ParseOutcome parse_options(int argc, char **argv, Scenario &sc, std::string &error)
{
    std::vector<option> options = long_options();
    opterr = 0;
    optind = 0;  // from the start, whatever parsed before
    for (;;) {
        int at = std::max(optind, 1);
        // "-": a word that is no option comes in its place, to be refused there.
        int code = getopt_long(argc, argv, "-h", options.data(), nullptr);
        if (code == -1 && at >= argc)
            break;
        const OptionRule *taken = code >= kFirstRow ? &kOptions[code - kFirstRow] : nullptr;
        std::string word = argv[at];
        bool help = taken != nullptr ? taken->set == nullptr && word == "--help" : word == "-h";
        if (help)
            return ParseOutcome::Help;
        error = fault_of(word, taken);
        if (!error.empty())
            return ParseOutcome::Error;
        if (!taken->set(sc, optarg ? optarg : "")) {
            error = "bad value for --" + std::string(taken->name) + ": '" + optarg + "'";
            return ParseOutcome::Error;
        }
    }
    if (!sc.record.empty() && !sc.replay.empty()) {
        error = "--record and --replay do not go together";
        return ParseOutcome::Error;
    }
    if (!sc.port.empty() && (!sc.record.empty() || !sc.link.empty() || sc.keep)) {
        error = "--port goes with none of --record, --link and --keep";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

void print_usage(FILE *to)
{
    fputs("usage: vendsim [OPTIONS]\n"
          "A simulated modem with a simulated receiver behind it, on a pseudo-terminal.\n"
          "Prints the terminal's path on stdout when it is ready.\n\n",
          to);
    for (const OptionRule &o : kOptions) {
        if (o.name == nullptr) {
            fprintf(to, "%s\n", o.help);
            continue;
        }
        std::string left = std::string(o.set ? "--" : "-h, --") + o.name;
        if (o.value != nullptr)
            left += std::string(" ") + o.value;
        std::string help = o.help;
        for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
            help.insert(at + 1, 25, ' ');
        fprintf(to, "  %-22s %s\n", left.c_str(), help.c_str());
    }
}
