// Byte dumps as the transcript shows them.
#ifndef VENDSIM_DUMP_H
#define VENDSIM_DUMP_H

#include <cstddef>
#include <cstdint>
#include <string>

// "2b 0d": lower-case hex, one blank between bytes.
std::string hex_bytes(const uint8_t *p, size_t n);
// "2b 0d  |+\r|": then the bytes as readable text, \r \n \t, \\ and \| escaped,
// others as \xNN.
std::string dump_bytes(const uint8_t *p, size_t n);

#endif
