// read_count KIND SIZE COUNT: reads COUNT packets of SIZE bytes that are
// already waiting on a pipe or pty (KIND) with get_message, so that strace
// can count the reads get_message makes.  Prints the descriptor it reads from
// first; exits 1 when a packet does not come back whole.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vendlink/io.h"
#include "waiting_packets.h"

namespace {

const int packet_type = 0x82;

int usage()
{
    fprintf(stderr, "usage: read_count pipe|pty SIZE(6..255) COUNT\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4 || (strcmp(argv[1], "pipe") != 0 && strcmp(argv[1], "pty") != 0))
        return usage();
    LineKind kind = strcmp(argv[1], "pipe") == 0 ? LineKind::pipe : LineKind::pty;
    int size = atoi(argv[2]);
    long count = atol(argv[3]);
    if (size < 6 || size > 255 || count < 1)
        return usage();

    PacketLine line(kind, size, packet_type);
    if (!line.ok()) {
        perror("read_count: cannot open the line");
        return 1;
    }
    printf("reader fd %d\n", line.reader());
    fflush(stdout);
    set_timeout(line.reader(), 10);

    unsigned char data[256];
    uint16_t length = 0;
    int waiting = 0;
    for (long i = 0; i < count; ++i) {
        if (waiting == 0 && (waiting = line.refill()) == 0) {
            fprintf(stderr, "read_count: cannot refill the line\n");
            return 1;
        }
        if (get_message(line.reader(), data, &length) != packet_type || length != size - 6) {
            fprintf(stderr, "read_count: packet %ld came back wrong\n", i);
            return 1;
        }
        --waiting;
    }
    return 0;
}
