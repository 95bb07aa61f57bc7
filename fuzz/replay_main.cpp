// Runs a fuzz target once on each file of the corpus folder named on the command line: every seed,
// and every input that once broke something, is a test of each build of the suite.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(argc > 1 ? argv[1] : "")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string data = (std::ostringstream() << in.rdbuf()).str();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.c_str()), data.size());
        ++replayed;
    }
    return replayed > 0 ? 0 : 1;  // a corpus gone missing tests nothing
}
