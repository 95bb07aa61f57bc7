// get_receiver_type on any identification record (the input, at most 255
// bytes, read up to its first NUL): the texts are its first two runs of
// eight characters (empty where it is shorter), ending at their ninth byte,
// and the numbers those the C library's own conversions read after them.
#include <cstring>

#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string record(reinterpret_cast<const char *>(data), size < 255 ? size : 255);
    const size_t length = strlen(record.c_str());
    int far, port = fuzz::line_with(fuzz::framed(0x07, record), &far);
    char *text1 = static_cast<char *>(malloc(9)), *text2 = static_cast<char *>(malloc(9));
    double n[3];
    long count[2], f[5] = {0, 0, 0, 0, 0};
    FUZZ_CHECK(get_receiver_type(port, text1, text2, &n[0], &n[1], &n[2], &count[0], &count[1]) == RC_OK);
    FUZZ_CHECK(text1 == (length >= 8 ? record.substr(0, 8) : "") && text2 == (length >= 16 ? record.substr(8, 8) : ""));
    const int k = length >= 16 ? sscanf(record.c_str() + 16, "%5ld%5ld%5ld%*10c%2ld%2ld", &f[0], &f[1], &f[2], &f[3], &f[4]) : 0;
    for (int i = k > 0 ? k : 0; i < 5; ++i)
        f[i] = 0;  // the fields from the first one missing on stay 0
    FUZZ_CHECK(n[0] == f[0] * 0.01 && n[1] == f[1] * 0.01 && n[2] == f[2] * 0.01 && count[0] == f[4]);
    FUZZ_CHECK(count[1] == (f[3] == f[4] && f[3] > 12 ? f[3] : f[3] - f[4]));
    free(text1);
    free(text2);
    return close(port) + close(far);
}
