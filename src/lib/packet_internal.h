// Packet validation, shared inside the io module; not part of the public
// interface.
#ifndef VENDLINK_PACKET_INTERNAL_H
#define VENDLINK_PACKET_INTERNAL_H

// 0 valid, 1 length above 249, 2 wrong checksum, 3 wrong start or end byte.
int check_packet(const unsigned char *packet);

#endif
