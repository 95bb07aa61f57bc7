// Runs a fuzz target once on each file of the corpus folder named on the command line: every
// seed, and every input that once broke something, is a test of each build of the suite.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(argc > 1 ? argv[1] : "")) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        data.reserve(1);  // never a null pointer, as with libFuzzer
        LLVMFuzzerTestOneInput(data.data(), data.size());
        ++replayed;
    }
    return replayed > 0 ? 0 : 1;  // a corpus gone missing tests nothing
}
