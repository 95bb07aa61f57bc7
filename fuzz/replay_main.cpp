// Runs a fuzz target once on each file named on the command line (a folder
// stands for the files in it, in name order), as libFuzzer replays a corpus.
// Built with the tests, so that the committed corpus, and with it every
// input that once broke something, is replayed by every build of the suite.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

std::vector<std::string> files_of(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return {};
    if (!S_ISDIR(st.st_mode))
        return {path};
    std::vector<std::string> files;
    if (DIR *d = opendir(path.c_str())) {
        while (const dirent *e = readdir(d)) {
            if (e->d_name[0] != '.')
                files.push_back(path + "/" + e->d_name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::string &file : files_of(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
            fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), data.size());
            // Never a null pointer, not even for an empty input: libFuzzer
            // does not pass one either.
            data.reserve(1);
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    // A corpus that went missing would otherwise pass without testing anything.
    if (replayed == 0) {
        fprintf(stderr, "no inputs found\n");
        return 1;
    }
    fprintf(stderr, "%d inputs replayed\n", replayed);
    return 0;
}
