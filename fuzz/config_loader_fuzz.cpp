// The modem configuration file loader on any file (the input; an odd first byte gives the rest of
// the first line as a dial override).  A refused file is left as it was; an accepted one is
// rewritten with exactly the strings loaded, none left empty but the dial.
#include <fstream>
#include <sstream>

#include "fuzz.h"
#include "modem_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string file = fuzz::quiet_file("modem.dat");
    const std::string in(reinterpret_cast<const char *>(data), size);
    const std::string dial = in.substr(size > 0, in.find('\n') - 1);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << in;
    const int rc
        = load_modem_config(size > 0 && (data[0] & 1) ? dial.c_str() : nullptr, file.c_str());
    std::ifstream out(file, std::ios::binary);
    const std::string written = (std::ostringstream() << out.rdbuf()).str();
    const ModemStrings &s = modem_strings();
    if (rc != RC_OK) {
        assert(rc == RC_CONFIG_IDENTIFIER && written == in);
        return 0;
    }
    assert(*s.hangup_string && *s.setup_string && *s.connect_string && *s.ack_string);
    assert(written
           == fuzz::config_file(s.dial_string, s.hangup_string, s.setup_string, s.connect_string,
                                s.ack_string));
    return 0;
}
