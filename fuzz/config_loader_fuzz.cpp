// The modem configuration file loader (load_modem_config) on any file: the
// input is written to a file in a private folder and loaded.  Then:
//  - a refused file (status -7) is left exactly as it was;
//  - an accepted one holds the five strings, each one word, completed with
//    the defaults, and has been rewritten with exactly them: its mode kept,
//    a symbolic link still a link, a second hard link seeing the new text,
//    and no temporary file left in the folder;
//  - loading the rewritten file again gives the same strings and leaves it
//    as it is: the file the loader writes is one it reads back.
// The first input byte chooses the file's shape and whether a dial override
// is given; a second byte and that many more give the override.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "modem_internal.h"
#include "vendlink/io.h"

namespace {

std::string folder;

enum Shape : uint8_t {
    with_override = 1 << 0,  // a dial override is given
    through_symlink = 1 << 1,  // the name given is a symbolic link to the file
    hard_linked = 1 << 2,      // the file has a second name
    missing = 1 << 3           // there is no file yet
};
const mode_t modes[4] = {0600, 0644, 0640, 0666};

const char *const defaults[] = {"~~+++~~ATH", "AT", "CONNECT", "OK"};

std::string path_of(const char *name)
{
    return folder + "/" + name;
}

std::string contents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<std::string> folder_entries()
{
    std::set<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (const dirent *e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        }
        closedir(d);
    }
    return names;
}

void empty_folder()
{
    for (const std::string &name : folder_entries())
        unlink((folder + "/" + name).c_str());
}

void remove_folder()
{
    empty_folder();
    rmdir(folder.c_str());
}

std::string text_of(const ModemStrings &s)
{
    return std::string("DIAL ") + s.dial_string + "\nHANGUP " + s.hangup_string + "\nSETUP " +
           s.setup_string + "\nCONNECT " + s.connect_string + "\nACK " + s.ack_string + "\n";
}

bool one_word(const char *s)
{
    for (; *s != '\0'; ++s) {
        if (isspace(static_cast<unsigned char>(*s)))
            return false;
    }
    return true;
}

// Whether every line is one a load reads whole: 79 characters at most.
bool lines_fit(const std::string &text)
{
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        if (end - start > 79)
            return false;
    }
    return text.size() - start <= 79;
}

bool same_strings(const ModemStrings &a, const ModemStrings &b)
{
    return strcmp(a.dial_string, b.dial_string) == 0 &&
           strcmp(a.hangup_string, b.hangup_string) == 0 &&
           strcmp(a.connect_string, b.connect_string) == 0 &&
           strcmp(a.ack_string, b.ack_string) == 0 && strcmp(a.setup_string, b.setup_string) == 0;
}

void check_strings(const ModemStrings &s, const char *dial_override)
{
    const char *all[] = {s.dial_string, s.hangup_string, s.setup_string, s.connect_string,
                         s.ack_string};
    for (const char *str : all)
        FUZZ_CHECK(memchr(str, '\0', MODEM_STRING_SIZE) != nullptr, "string not terminated");
    const char *completed[] = {s.hangup_string, s.setup_string, s.connect_string, s.ack_string};
    for (int i = 0; i < 4; ++i)
        FUZZ_CHECK(completed[i][0] != '\0', "empty string where \"%s\" is the default",
                   defaults[i]);
    if (dial_override != nullptr) {
        FUZZ_CHECK(strncmp(s.dial_string, dial_override, MODEM_STRING_SIZE - 1) == 0,
                   "dial override not kept");
    } else {
        FUZZ_CHECK(one_word(s.dial_string), "dial string of more than one word");
    }
    for (int i = 0; i < 4; ++i)
        FUZZ_CHECK(one_word(completed[i]), "string of more than one word: \"%s\"", completed[i]);
}

// The file as the loader leaves it after an accepted load.
void check_rewrite(const std::string &file, uint8_t shape, mode_t mode, const ModemStrings &s)
{
    FUZZ_CHECK(contents(file) == text_of(s), "rewritten file does not hold the strings");
    struct stat st;
    FUZZ_CHECK(stat(file.c_str(), &st) == 0, "file gone");
    if (!(shape & missing))
        FUZZ_CHECK((st.st_mode & 07777) == mode, "mode %o became %o", mode, st.st_mode & 07777);
    if (shape & through_symlink) {
        FUZZ_CHECK(lstat(path_of("cfg.link").c_str(), &st) == 0 && S_ISLNK(st.st_mode),
                   "the symbolic link was replaced");
    }
    if ((shape & hard_linked) && !(shape & missing))
        FUZZ_CHECK(contents(path_of("cfg.other")) == text_of(s), "the other name kept old text");
    std::set<std::string> want = {"cfg"};
    if (shape & through_symlink)
        want.insert("cfg.link");
    if ((shape & hard_linked) && !(shape & missing))
        want.insert("cfg.other");
    FUZZ_CHECK(folder_entries() == want, "%zu entries in the folder, expected %zu",
               folder_entries().size(), want.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // In memory where there is such a file system: on a disk the creating,
    // renaming and removing of every exec make it ten times slower.
    std::string base = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/fuzz-config-XXXXXX";
    FUZZ_CHECK(mkdtemp(&tmpl[0]) != nullptr, "mkdtemp");
    folder = tmpl;
    atexit(remove_folder);
    set_stderr(fopen("/dev/null", "w"));  // "Unrecognized identifier" is expected here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    uint8_t shape = in.byte();
    mode_t mode = modes[(shape >> 4) & 3];
    std::string override_text;
    if (shape & with_override) {
        const uint8_t *p;
        size_t n = in.take(in.byte(), &p);
        // A C string: it ends at its first NUL.
        const char *text = reinterpret_cast<const char *>(p);
        override_text.assign(text, strnlen(text, n));
    }
    const uint8_t *p;
    size_t n = in.take(in.left(), &p);
    const std::string original(reinterpret_cast<const char *>(p), n);

    empty_folder();
    const std::string file = path_of("cfg");
    if (!(shape & missing)) {
        std::ofstream(file, std::ios::binary) << original;
        chmod(file.c_str(), mode);
        if (shape & hard_linked)
            FUZZ_CHECK(link(file.c_str(), path_of("cfg.other").c_str()) == 0, "link");
    }
    if (shape & through_symlink)
        FUZZ_CHECK(symlink("cfg", path_of("cfg.link").c_str()) == 0, "symlink");
    const std::string name = (shape & through_symlink) ? path_of("cfg.link") : file;
    const char *dial = (shape & with_override) ? override_text.c_str() : nullptr;

    int rc = load_modem_config(dial, name.c_str());
    if (rc == RC_CONFIG_IDENTIFIER) {
        FUZZ_CHECK(!(shape & missing), "a missing file was refused");
        FUZZ_CHECK(contents(file) == original, "a refused file was changed");
        return 0;
    }
    FUZZ_CHECK(rc == RC_OK, "status %d", rc);
    const ModemStrings first = modem_strings();
    check_strings(first, dial);
    check_rewrite(file, shape, mode, first);

    // Read back: the strings again, and the file stays as it is.
    const std::string rewritten = contents(file);
    const bool fits = lines_fit(rewritten);
    // A dial override is stored as given, while a load reads lines of up to
    // 79 characters and takes one word from each: an override with white
    // space (a line break included), or too long for its line, is not
    // expected to come back (the README says so of the long one).
    if (dial != nullptr && (!fits || !one_word(dial)))
        return 0;
    rc = load_modem_config(nullptr, name.c_str());
    if (!fits) {
        // A value glued to its keyword on a full 79-character line comes
        // back with the blank of the fixed line form, one character too
        // long, and its last character is then refused as a line of its own
        // (FaultMatrix.ConfigFileWithAGluedValueOnAFullLine; the README).
        FUZZ_CHECK(rc == RC_CONFIG_IDENTIFIER, "a line over 79 characters read: %d", rc);
        FUZZ_CHECK(contents(file) == rewritten, "a refused file was changed");
        return 0;
    }
    FUZZ_CHECK(rc == RC_OK, "the file the loader wrote is refused on reading: %d", rc);
    FUZZ_CHECK(same_strings(first, modem_strings()), "the strings changed on reading back");
    FUZZ_CHECK(contents(file) == rewritten, "the file changed on reading back");
    return 0;
}
