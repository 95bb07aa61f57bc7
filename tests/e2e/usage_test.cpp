// The command line as the user meets it: bad arguments, long arguments, and
// the device-name file.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

TEST(Usage, BadArgumentsPrintVersionUsageAndHelp)
{
    const std::vector<std::vector<std::string>> cases = {
        {"-x"}, {"foo"}, {"-"}, {""}, {"-M"}, {"-Mdial"}, {"-D", "/dev/ttyb"}, {"-B9600", "-q"},
    };
    TempDir dir;
    for (const auto &args : cases) {
        RunResult r = run_vendhook(in_dir(dir, args));
        EXPECT_EQ(r.status, 242) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_EQ(r.err, version_lines(vendhook_path) + usage_text()) << args[0];
        // Refused before the port is chosen: no device-name file appears.
        EXPECT_FALSE(file_exists(dir / "serial_port")) << args[0];
    }
    // Version and help together are 28 lines: a check on the expected text.
    const std::string text = version_lines(vendhook_path) + usage_text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 28);
}

TEST(Usage, LongProgramNameIsCutAndKeepsItsLineEnd)
{
    TempDir dir;
    RunOptions o = in_dir(dir, {"-x"});
    o.argv0 = std::string(10000, 'p');
    RunResult r = run_vendhook(o);
    EXPECT_EQ(r.status, 242);
    std::string third = std::string(1022, 'p') + "\n";
    std::string head = version_lines("").substr(0, version_lines("").rfind(", 2.9\n"));
    EXPECT_EQ(r.err, head + third + usage_text());
}

TEST(Usage, LongDevicePathIsCutTo80Characters)
{
    TempDir dir;
    std::string dev = "/nonexistent/" + std::string(10000, 'd');
    RunResult r = run_vendhook(in_dir(dir, {"-D" + dev}));
    std::string used = dev.substr(0, 80);
    EXPECT_EQ(r.status, 255);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_EQ(r.out, "Unable to open device file \"" + used + "\"\n\n");
    EXPECT_EQ(r.err, version_lines(vendhook_path) +
                         "Could not find \"serial_port\", creating...\n"
                         "Storing new device file name (" + used + ").\n"
                         "Done (-1).\n");
    EXPECT_EQ(read_file(dir / "serial_port"), used);
}

TEST(Usage, DeviceComesFromTheDeviceNameFile)
{
    TempDir dir;
    write_file(dir / "serial_port", "/dev/null\r\n/dev/ttyS9\n");
    RunResult r = run_vendhook(in_dir(dir, {}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("Could not find"), std::string::npos);
    EXPECT_EQ(r.err.find("Storing"), std::string::npos);
    EXPECT_NE(r.err.find("Port initialized"), std::string::npos);
    EXPECT_EQ(read_file(dir / "serial_port"), "/dev/null\r\n/dev/ttyS9\n");
}

TEST(Usage, MissingDeviceNameFileIsCreatedWithTheDefault)
{
    TempDir dir;
    RunResult r = run_vendhook(in_dir(dir, {}));
    EXPECT_EQ(read_file(dir / "serial_port"), "/dev/ttya");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Unable to open device file \"/dev/ttya\"\n\n");
    EXPECT_EQ(r.err, version_lines(vendhook_path) +
                         "Could not find \"serial_port\", creating...\nDone (-1).\n");
}

TEST(Usage, BinaryDeviceNameFileStaysInBounds)
{
    TempDir dir;
    std::string junk;
    for (int i = 0; i < 300; ++i)
        junk.push_back(static_cast<char>(i * 37 % 255 + 1));
    write_file(dir / "serial_port", junk);
    RunResult r = run_vendhook(in_dir(dir, {}));
    EXPECT_EQ(r.status, 255);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_EQ(read_file(dir / "serial_port"), junk);
    EXPECT_EQ(r.out.rfind("Unable to open device file \"", 0), 0u);
}

TEST(Usage, EmptyDeviceNameFile)
{
    TempDir dir;
    write_file(dir / "serial_port", "");
    RunResult r = run_vendhook(in_dir(dir, {}));
    EXPECT_EQ(r.status, 255);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_EQ(r.err, version_lines(vendhook_path) + "Can not read file.\nDone (-1).\n");
}
