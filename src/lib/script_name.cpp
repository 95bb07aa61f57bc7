// The per-device modem configuration file name (io module).
#include "vendlink/io.h"

#include <cstring>

extern "C" char *form_safe_script_name(char *dest, const char *base, char *device)
{
    if (device == nullptr || base == nullptr)
        return const_cast<char *>(base);

    // Only what follows the last "/" of the device, that "/" turned into
    // "."; the first character is never looked at.
    char *slash = nullptr;
    size_t dlen = strlen(device);
    for (size_t i = dlen; i > 1; --i) {
        if (device[i - 1] == '/') {
            slash = &device[i - 1];
            break;
        }
    }
    const char *suffix = slash != nullptr ? slash : device;
    size_t blen = strlen(base);
    size_t slen = strlen(suffix);

    // A name that does not fit is refused rather than cut: a shortened name
    // would be another file, which the run would then read and rewrite.
    if (blen + slen >= SCRIPT_NAME_SIZE) {
        dest[0] = '\0';
        return nullptr;
    }
    if (slash != nullptr)
        *slash = '.';
    memcpy(dest, base, blen);
    memcpy(dest + blen, suffix, slen + 1);
    return dest;
}
