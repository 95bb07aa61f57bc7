// Packets framed as the receiver sends them, waiting on a pipe or a
// pseudo-terminal for get_message to read.
#ifndef BENCH_WAITING_PACKETS_H
#define BENCH_WAITING_PACKETS_H

// Frames one packet of `size` bytes in all (6..255), as vendsim frames it.
void frame_packet(unsigned char *out, int type, int size);

enum class LineKind { pipe, pty };

// A line whose far end we write packets into and whose near end the library
// reads.  The pty is raw with VMIN 0, as init_port leaves a port.
class PacketLine {
public:
    PacketLine(LineKind kind, int packet_size, int type);
    ~PacketLine();
    PacketLine(const PacketLine &) = delete;
    PacketLine &operator=(const PacketLine &) = delete;

    bool ok() const { return reader_ >= 0 && writer_ >= 0; }
    int reader() const { return reader_; }
    // Writes a batch of whole packets and waits, bounded, until the near end
    // holds all of them.  Returns the packets now waiting; 0 on failure.
    int refill();

private:
    int reader_ = -1;
    int writer_ = -1;
    int batch_bytes_ = 0;
    unsigned char batch_[60000];
};

#endif
