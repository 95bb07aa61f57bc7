#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

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
bool parse_seconds(const char *s, double &out)
{
    if (!all_of(s, "0123456789."))
        return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(s, &end);
    if (errno || *end || !std::isfinite(v) || v > kMaxSeconds)
        return false;
    out = v;
    return true;
}

bool parse_positive_seconds(const char *s, double &out)
{
    double v;
    if (!parse_seconds(s, v) || v <= 0)
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

bool parse_byte(const char *s, uint8_t &out)
{
    unsigned long v;
    if (!parse_count(s, 255, v))
        return false;
    out = static_cast<uint8_t>(v);
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
                                                {"silent", DialResult::Silent}};
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

struct OptionRule {
    const char *name;
    bool takes_value;
    bool (*set)(Scenario &, const char *);
};

using S = Scenario;
using V = const char *;

const OptionRule kOptions[] = {
    {"link", true,
     [](S &s, V v) {
         s.link = v;
         return *v != '\0';
     }},
    {"transcript", true,
     [](S &s, V v) {
         s.transcript = v;
         return *v != '\0';
     }},
    {"max-time", true, [](S &s, V v) { return parse_positive_seconds(v, s.max_time); }},
    {"keep", false,
     [](S &s, V) {
         s.keep = true;
         return true;
     }},
    {"record", true,
     [](S &s, V v) {
         s.record = v;
         return *v != '\0';
     }},
    {"replay", true,
     [](S &s, V v) {
         s.replay = v;
         return *v != '\0';
     }},
    {"device-parity", true, set_device_parity},
    {"port", true,
     [](S &s, V v) {
         s.port = v;
         return *v != '\0';
     }},
    {"device-speed", true,
     [](S &s, V v) {
         return parse_count(v, 115200, s.device_speed) && speed_code(s.device_speed) != 0;
     }},
    {"reply", true, set_reply},
    {"vanish-after-bytes", true, set_vanish_bytes},
    {"no-echo", false,
     [](S &s, V) {
         s.modem.echo = false;
         return true;
     }},
    {"connected", false,
     [](S &s, V) {
         s.modem.connected = true;
         return true;
     }},
    {"guard", true, [](S &s, V v) { return parse_positive_seconds(v, s.modem.guard); }},
    {"dial", true, set_dial},
    {"dial-delay", true, [](S &s, V v) { return parse_seconds(v, s.modem.dial_delay); }},
    {"enq", true, set_enq},
    {"monitor", false,
     [](S &s, V) {
         s.receiver.monitor = true;
         return true;
     }},
    {"ident", true,
     [](S &s, V v) {
         s.receiver.ident = v;
         return strlen(v) <= 255;
     }},
    {"config-type", true, [](S &s, V v) { return parse_byte(v, s.receiver.config_type); }},
    {"config-check", true, [](S &s, V v) { return parse_byte(v, s.receiver.config_check); }},
    {"config-len", true, [](S &s, V v) { return parse_count(v, 255, s.receiver.config_len); }},
    {"slip-93", true, [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.slip_93); }},
    {"bad-checksum", true,
     [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.bad_checksum); }},
    {"noise", true, [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.noise); }},
    {"reply-delay", true, [](S &s, V v) { return parse_seconds(v, s.receiver.reply_delay); }},
    {"ignore-requests", true,
     [](S &s, V v) { return parse_count(v, kMaxCount, s.receiver.ignore_requests); }},
    {"packet-reply", true,
     [](S &s, V v) {
         s.receiver.packets_silent = true;
         return strcmp(v, "silent") == 0;
     }},
};

const OptionRule *find_option(const std::string &name)
{
    for (const OptionRule &o : kOptions) {
        if (name == o.name)
            return &o;
    }
    return nullptr;
}

}  // namespace

ParseOutcome parse_options(int argc, const char *const *argv, Scenario &sc, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help")
            return ParseOutcome::Help;
        if (arg.compare(0, 2, "--") != 0 || arg.size() == 2) {
            error = (arg[0] == '-' ? "unknown option '" : "unexpected argument '") + arg + "'";
            return ParseOutcome::Error;
        }
        size_t eq = arg.find('=');
        std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionRule *opt = find_option(name);
        if (!opt) {
            error = "unknown option '--" + name + "'";
            return ParseOutcome::Error;
        }
        if (!opt->takes_value && eq != std::string::npos) {
            error = "option '--" + name + "' takes no value";
            return ParseOutcome::Error;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (opt->takes_value) {
            if (i + 1 >= argc) {
                error = "option '--" + name + "' needs a value";
                return ParseOutcome::Error;
            }
            value = argv[++i];
        }
        if (!opt->set(sc, value.c_str())) {
            error = "bad value for --" + name + ": '" + value + "'";
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
          "Prints the terminal's path on stdout when it is ready.\n"
          "\n"
          "General:\n"
          "  --link PATH            make PATH a symlink to the terminal (removed on exit)\n"
          "  --transcript FILE      write a time-stamped transcript to FILE\n"
          "  --max-time SECONDS     end with status 3 after this long (default 600)\n"
          "  --keep                 serve a fresh terminal after the host closes the line\n"
          "  -h, --help             this text\n"
          "A serial device instead of a pseudo-terminal:\n"
          "  --port DEVICE          serve DEVICE, raw, until it goes away or time is up\n"
          "  --device-speed BAUD    its speed (default 9600)\n"
          "  --device-parity P      none, odd or even on the device (default: odd;\n"
          "                         with --record, the host's)\n"
          "Instead of the simulated modem and receiver:\n"
          "  --record DEVICE        relay to a real serial device, recording the line\n"
          "  --replay FILE          play the device's side of a transcript; status 4 when\n"
          "                         the host's bytes differ from the transcript's\n"
          "Modem:\n"
          "  --reply MODE           ok, silent, garbage, late:SECONDS or vanish (default ok)\n"
          "  --vanish-after-bytes N close the line after N bytes from the host\n"
          "  --no-echo              do not echo commands\n"
          "  --connected            start with a call in progress\n"
          "  --guard SECONDS        escape guard time (default 1.0)\n"
          "  --dial RESULT          connect[:SPEED], busy, no-carrier, ok or silent\n"
          "                         (default connect:9600)\n"
          "  --dial-delay SECONDS   time from dial to result (default 2)\n"
          "Receiver:\n"
          "  --enq ack|nak|silent   answer to ENQ (default ack)\n"
          "  --monitor              report remote-monitor mode\n"
          "  --ident TEXT           identification record\n"
          "  --config-type N        byte 44 of the configuration record (default 4)\n"
          "  --config-check N       byte 38 of the configuration record (default 1)\n"
          "  --config-len N         length of the configuration record (default 45)\n"
          "  --slip-93 N            N stray 0x93 packets before each reply\n"
          "  --bad-checksum N       the first N replies carry a wrong checksum\n"
          "  --noise N              N noise bytes before each reply\n"
          "  --reply-delay SECONDS  wait before each reply\n"
          "  --ignore-requests N    leave the first N requests unanswered\n"
          "  --packet-reply silent  never answer requests\n",
          to);
}
