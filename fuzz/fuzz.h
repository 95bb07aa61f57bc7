// What the fuzz targets share: checks kept in every build (libFuzzer, and the corpus replay in the
// test suite, keep the input that broke one), packets on a line, a quiet folder of their own.
#ifndef VENDLINK_FUZZ_H
#define VENDLINK_FUZZ_H

#undef NDEBUG
#include <unistd.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame.h"
#include "vendlink/io.h"

namespace fuzz {

// A packet as vendsim frames it, under any status byte.
inline std::string framed(int type, const std::string &data, int status = 0)
{
    Frame f = make_frame(static_cast<uint8_t>(type), Bytes(data.begin(), data.end()));
    f.status = static_cast<uint8_t>(status);
    f.sum = frame_checksum(f.status, f.type, f.data);
    const Bytes b = encode_frame(f);
    return std::string(b.begin(), b.end());
}

// The modem configuration file as the loader writes it back: five lines in this order.
inline std::string config_file(const std::string &dial, const std::string &hangup = "~~+++~~ATH",
                               const std::string &setup = "AT",
                               const std::string &connect = "CONNECT",
                               const std::string &ack = "OK")
{
    return "DIAL " + dial + "\nHANGUP " + hangup + "\nSETUP " + setup + "\nCONNECT " + connect
        + "\nACK " + ack + "\n";
}

// Whether the packet stands in `bytes` whole under some status byte; or but for its end byte, which
// get_message does not look at.
inline bool stands_in(const std::string &bytes, int type, const std::string &data, bool with_end)
{
    const std::string body = std::string {char(type), char(data.size())} + data;
    for (size_t at = bytes.find(body, 2); at != std::string::npos; at = bytes.find(body, at + 1)) {
        const std::string p = framed(type, data, bytes[at - 1]);
        if (bytes.compare(at - 2, p.size() - !with_end, p, 0, p.size() - !with_end) == 0)
            return true;
    }
    return false;
}

// Messages go nowhere; files to a folder of the target's own, removed at the end (no chdir:
// libFuzzer's corpus paths may be relative).
inline std::string quiet_file(const char *name)
{
    static char folder[] = "/tmp/vendfuzz-XXXXXX";
    if (folder[19] == 'X' && mkdtemp(folder) != nullptr) {
        set_stderr(fopen("/dev/null", "w"));
        atexit([] { assert(system((std::string("rm -rf ") + folder).c_str()) == 0); });
    }
    return std::string(folder) + "/" + name;
}

}  // namespace fuzz

#endif
