// The command line, turned into the scenario a run plays.
#ifndef VENDSIM_OPTIONS_H
#define VENDSIM_OPTIONS_H

#include <cstdint>
#include <cstdio>
#include <string>

enum class ReplyMode { Ok, Silent, Garbage, Late, Vanish };
enum class DialResult { Connect, Busy, NoCarrier, Ok, Silent, Vanish };
enum class EnqAnswer { Ack, Nak, Silent };
enum class DeviceParity { FromHost, None, Odd, Even };

// The identification record a receiver sends unless told otherwise: model,
// serial number, three counters, ten filler characters, two more fields.
extern const char kDefaultIdent[];

struct ModemScenario {
    ReplyMode reply = ReplyMode::Ok;
    double late = 0;  // ReplyMode::Late: seconds before the OK
    bool echo = true;
    bool connected = false;  // a call is up from the start
    double guard = 1.0;
    DialResult dial = DialResult::Connect;
    std::string speed = "9600";  // empty: a bare CONNECT
    double dial_delay = 2.0;
};

struct ReceiverScenario {
    EnqAnswer enq = EnqAnswer::Ack;
    bool monitor = false;
    std::string ident = kDefaultIdent;
    unsigned long config_type = 4;  // bytes of the configuration record
    unsigned long config_check = 1;
    unsigned long config_len = 45;
    unsigned long slip_93 = 0;
    unsigned long bad_checksum = 0;
    unsigned long noise = 0;
    double reply_delay = 0;
    unsigned long ignore_requests = 0;
    bool packets_silent = false;
};

struct Scenario {
    std::string link;
    std::string transcript;
    std::string record;                 // a real device to relay to, recording
    std::string replay;                 // a transcript to play the device's side of
    std::string port;                   // a serial device to serve instead of a pty
    unsigned long device_speed = 9600;  // --port's speed
    DeviceParity device_parity = DeviceParity::FromHost;
    double max_time = 600;
    bool keep = false;
    bool vanish_after = false;
    unsigned long vanish_bytes = 0;
    ModemScenario modem;
    ReceiverScenario receiver;
};

enum class ParseOutcome { Run, Help, Error };

// On Error, error says what was wrong (one line, no program name).
ParseOutcome parse_options(int argc, char **argv, Scenario &sc, std::string &error);
void print_usage(FILE *to);

#endif
