// The driver's option parsing over any argument list: the input is split at
// its NUL bytes into arguments, as the kernel hands them over, each in a
// buffer of exactly its size so that a read past its end is caught.  Every
// argument must be judged by the rule the usage text states.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/options.h"
#include "fuzz_support.h"

namespace {

bool same(const RunSettings &a, const RunSettings &b)
{
    return a.baud == b.baud && a.parity == b.parity && a.device == b.device &&
           a.config_base == b.config_base;
}

// The baud an argument "-B<value>" must leave: the leading number, read as
// strtoul reads it, or no change when the value does not start with one.
unsigned long expected_baud(const char *value, unsigned long before)
{
    char *end = nullptr;
    unsigned long n = strtoul(value, &end, 10);
    return end == value ? before : n;
}

int expected_parity(char c)
{
    switch (tolower(static_cast<unsigned char>(c))) {
    case 'e': return 1;
    case 'n': return 2;
    default: return 0;
    }
}

void check_argument(char *arg, RunSettings *run)
{
    const RunSettings before = *run;
    bool accepted = apply_option(arg, run);
    if (arg[0] != '-') {
        FUZZ_CHECK(!accepted && same(before, *run), "argument without '-' must be refused");
        return;
    }
    RunSettings want = before;
    bool should_accept = true;
    switch (tolower(static_cast<unsigned char>(arg[1]))) {
    case '+':
    case '-':
        break;  // the line-control choices go to the io module
    case 'b': want.baud = expected_baud(arg + 2, before.baud); break;
    case 'c': want.config_base = arg + 2; break;
    case 'd': want.device = arg + 2; break;
    case 'p': want.parity = expected_parity(arg[2]); break;
    default: should_accept = false; break;
    }
    FUZZ_CHECK(accepted == should_accept, "\"%s\" judged %d", arg, accepted);
    FUZZ_CHECK(same(want, *run), "\"%s\" left baud %lu parity %d", arg, run->baud, run->parity);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char *> args;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == '\0') {
            char *arg = static_cast<char *>(malloc(i - start + 1));
            memcpy(arg, data + start, i - start);
            arg[i - start] = '\0';
            args.push_back(arg);
            start = i + 1;
        }
    }
    // Settings carry from one argument to the next, as on a command line.
    RunSettings run;
    for (char *arg : args)
        check_argument(arg, &run);
    for (char *arg : args)
        free(arg);
    return 0;
}
