// The baseline for the receive ring: the same 8192-byte ring, the same
// one-free-slot rule and the same packet hunt, done a byte at a time.
#ifndef BENCH_BYTE_RING_H
#define BENCH_BYTE_RING_H

// Stores up to count bytes; returns how many fitted.
int byte_ring_write(const unsigned char *data, int count);
// Takes out the next valid packet as is_msg_in_buffer does; 1 if one was found.
int byte_ring_take(unsigned char *data, int *type, int *length);

#endif
