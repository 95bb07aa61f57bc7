#include <filesystem>

#include "modem_internal.h"
#include "support.h"

static auto open_descriptors()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// One load after the other in one process: each starts from empty strings.
TEST(LoadModemConfig, LinesReadAndTheFileWrittenBack)
{
    Folder folder;
    const std::string none = "(none)";
    const std::string long_dial(140, '9');
    const std::string created = "File not found.  Creating...m.dat.\n";
    const std::tuple<const char *, std::string, int, std::string, std::string> rows[] = {
        // dial, file, result, file, said
        {long_dial.c_str(), none, RC_OK, fuzz::config_file(long_dial.substr(0, 132)), created},
        {nullptr,
         "HANGUPATH1 more words\nHANGUP\nACK K\r\n\tany\n\r\n\nDIAL  ATDT2 x\nSETUP AT1\nSETUP "
         "AT2\nCONNECT CARRIER\n",
         RC_OK, fuzz::config_file("ATDT2", "ATH1", "AT2", "CARRIER", "K"), ""},
        {"ATDT9", "DIAL ATDT1\n", RC_OK, fuzz::config_file("ATDT9"), ""},
        {"", "DIAL ATDT1\n", RC_OK, fuzz::config_file(""), ""},
        {nullptr, "ACK OK\nhangup x", RC_CONFIG_IDENTIFIER, "ACK OK\nhangup x",
         "Unrecognized identifier:\nhangup x\n"},
    };
    const auto descriptors = open_descriptors();
    for (const auto &[dial, before, rc, after, said] : rows) {
        unlink("m.dat");
        if (before != none)
            std::ofstream("m.dat") << before;
        EXPECT_EQ(output_of(2, [&] { EXPECT_EQ(load_modem_config(dial, "m.dat"), rc); }), said);
        EXPECT_EQ((std::ostringstream() << std::ifstream("m.dat").rdbuf()).str(), after) << before;
    }
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST(FormSafeScriptName, BaseAndTheDevicesLastPartInTheCallersBuffer)
{
    const std::string b(150, 'b');
    std::string d(48, 'd');
    const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
        // base, device, name, device after
        {"m", "ttyS0", "mttyS0", "ttyS0"},
        {"m", "/ttyS0", "m/ttyS0", "/ttyS0"},  // the first character is never looked at
        {"m", "", "m", ""},
        {b, "x/" + d, b + "." + d, "x." + d},  // 199 characters: the most that fits
        {b, "x/" + d + "d", "", "x/" + d + "d"},
    };
    for (auto [base, device, name, device_after] : rows) {
        Guarded dest(SCRIPT_NAME_SIZE);
        EXPECT_EQ(form_safe_script_name(dest.data(), base.c_str(), device.data()),
                  name.empty() ? nullptr : dest.data());
        EXPECT_EQ(std::string(dest.data()), name);
        EXPECT_EQ(device, device_after);
        EXPECT_TRUE(dest.intact());
    }
    char dest[SCRIPT_NAME_SIZE];
    EXPECT_EQ(form_safe_script_name(dest, nullptr, d.data()), nullptr);
    EXPECT_EQ(form_safe_script_name(dest, b.c_str(), nullptr), b.c_str());
}
