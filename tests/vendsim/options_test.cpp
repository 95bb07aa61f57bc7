#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "options.h"

namespace {

ParseOutcome parse(std::vector<const char *> args, Scenario &sc, std::string &error)
{
    args.insert(args.begin(), "vendsim");
    return parse_options(static_cast<int>(args.size()), args.data(), sc, error);
}

TEST(Options, DefaultIdentReadsAsItsFields)
{
    const std::string ident = ReceiverScenario().ident;
    ASSERT_EQ(ident.size(), 45u);
    char model[9] = {}, serial[9] = {};
    long f[5];
    ASSERT_EQ(sscanf(ident.c_str(), "%8c%8c%5ld%5ld%5ld%*10c%2ld%2ld", model, serial, &f[0], &f[1], &f[2],
                     &f[3], &f[4]),
              7);
    EXPECT_STREQ(model, "RCV-3000");
    EXPECT_STREQ(serial, "SN004711");
    EXPECT_EQ(std::vector<long>(f, f + 5), std::vector<long>({235, 120, 45, 24, 12}));
}

#define HOLDS(cond) [](const Scenario &s) { return cond; }

TEST(Options, AcceptedValuesLandInTheScenario)
{
    const struct {
        std::vector<const char *> args;
        std::function<bool(const Scenario &)> holds;
    } cases[] = {
        {{}, HOLDS(s.max_time == 600 && s.modem.guard == 1.0 && s.modem.speed == "9600" &&
                   s.modem.dial_delay == 2.0 && s.modem.echo && s.receiver.config_len == 45)},
        {{"--link", "/tmp/m"}, HOLDS(s.link == "/tmp/m")},
        {{"--link=/tmp/m"}, HOLDS(s.link == "/tmp/m")},
        {{"--max-time", "2.5"}, HOLDS(s.max_time == 2.5)},
        {{"--keep", "--no-echo", "--connected", "--monitor"},
         HOLDS(s.keep && !s.modem.echo && s.modem.connected && s.receiver.monitor)},
        {{"--reply", "garbage"}, HOLDS(s.modem.reply == ReplyMode::Garbage)},
        {{"--reply", "late:1.5"}, HOLDS(s.modem.reply == ReplyMode::Late && s.modem.late == 1.5)},
        {{"--vanish-after-bytes", "12"}, HOLDS(s.vanish_after && s.vanish_bytes == 12)},
        {{"--guard", "0.25"}, HOLDS(s.modem.guard == 0.25)},
        {{"--dial", "connect:2400"}, HOLDS(s.modem.dial == DialResult::Connect && s.modem.speed == "2400")},
        {{"--dial", "connect"}, HOLDS(s.modem.dial == DialResult::Connect && s.modem.speed.empty())},
        {{"--dial", "no-carrier"}, HOLDS(s.modem.dial == DialResult::NoCarrier)},
        {{"--dial-delay", "0"}, HOLDS(s.modem.dial_delay == 0)},
        {{"--enq", "nak"}, HOLDS(s.receiver.enq == EnqAnswer::Nak)},
        {{"--ident", ""}, HOLDS(s.receiver.ident.empty())},
        {{"--config-type", "255", "--config-check", "0"},
         HOLDS(s.receiver.config_type == 255 && s.receiver.config_check == 0)},
        {{"--slip-93", "3", "--noise", "9", "--bad-checksum", "2", "--ignore-requests", "4"},
         HOLDS(s.receiver.slip_93 == 3 && s.receiver.noise == 9 && s.receiver.bad_checksum == 2 &&
               s.receiver.ignore_requests == 4)},
        {{"--reply-delay", "0.3"}, HOLDS(s.receiver.reply_delay == 0.3)},
        {{"--packet-reply", "silent"}, HOLDS(s.receiver.packets_silent)},
    };
    for (const auto &c : cases) {
        Scenario sc;
        std::string error;
        std::string shown = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(parse(c.args, sc, error), ParseOutcome::Run) << shown << ": " << error;
        EXPECT_TRUE(c.holds(sc)) << shown;
    }
}

TEST(Options, BadOptionsAndValuesAreRefusedByName)
{
    const std::string long_ident(256, 'x');
    const std::vector<std::vector<const char *>> cases = {
        {"--bogus"}, {"-x"}, {"stray"}, {"--link"}, {"--link", ""}, {"--keep=yes"},
        {"--max-time", "0"}, {"--max-time", "-1"}, {"--max-time", "1e3"}, {"--max-time", "inf"},
        {"--reply", "OK"}, {"--reply", "late:"}, {"--reply", "late:x"},
        {"--vanish-after-bytes", "-1"}, {"--guard", "0"}, {"--dial", "connect:"},
        {"--dial", "connect:96a0"}, {"--dial", "answer"}, {"--dial-delay", "-2"}, {"--enq", "yes"},
        {"--ident", long_ident.c_str()}, {"--config-type", "256"}, {"--config-check", "0x10"},
        {"--config-len", "300"}, {"--slip-93", "1.5"}, {"--bad-checksum", ""},
        {"--noise", "99999999999"}, {"--reply-delay", "soon"}, {"--ignore-requests", "+1"},
        {"--packet-reply", "normal"},
    };
    for (const auto &args : cases) {
        Scenario sc;
        std::string error;
        EXPECT_EQ(parse(args, sc, error), ParseOutcome::Error) << args[0];
        std::string name = args[0];
        name = name.substr(0, name.find('='));
        EXPECT_NE(error.find(name), std::string::npos) << "error '" << error << "' names " << name;
    }
}

TEST(Options, HelpWinsOverEverythingAfterIt)
{
    for (const char *flag : {"-h", "--help"}) {
        Scenario sc;
        std::string error;
        EXPECT_EQ(parse({"--keep", flag, "--bogus"}, sc, error), ParseOutcome::Help) << flag;
    }
}

}  // namespace
