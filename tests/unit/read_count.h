// Counts the read(2) calls made on one descriptor.  The link test program is
// linked with --wrap=read, so every read of the library passes through here.
#ifndef VENDLINK_UNIT_READ_COUNT_H
#define VENDLINK_UNIT_READ_COUNT_H

namespace unit {

// Starts counting the reads of fd from zero.
void count_reads_on(int fd);
long reads_counted();

}  // namespace unit

#endif
