// Lines of waiting packets for the get_message benchmark and read counter.
#include "waiting_packets.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "frame.h"

namespace {

// A pipe takes 64 KiB at once; a pty's line discipline reads 4 KiB ahead,
// so a bigger batch would leave a packet split between the two buffers.
const int pipe_batch_limit = 60000;
const int pty_batch_limit = 4000;
const int arrival_wait_steps = 1000;  // of 1 ms: a batch lands in microseconds

bool open_pipe(int *reader, int *writer)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    *reader = fds[0];
    *writer = fds[1];
    return true;
}

bool open_pty(int *reader, int *writer)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return false;
    *writer = master;
    const char *name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    int slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0)
        return false;
    struct termios tio;
    if (tcgetattr(slave, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 10;
    if (tcsetattr(slave, TCSANOW, &tio) != 0)
        return false;
    *reader = slave;
    return true;
}

int bytes_waiting(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

void sleep_one_ms()
{
    struct timespec ts = {0, 1000000};
    nanosleep(&ts, nullptr);
}

}  // namespace

void frame_packet(unsigned char *out, int type, int size)
{
    Bytes data(static_cast<size_t>(size - 6));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0x20 + i % 90);  // never a start byte
    const Bytes packet = encode_frame(make_frame(static_cast<uint8_t>(type), data));
    std::copy(packet.begin(), packet.end(), out);
}

PacketLine::PacketLine(LineKind kind, int packet_size, int type)
{
    bool opened
        = kind == LineKind::pipe ? open_pipe(&reader_, &writer_) : open_pty(&reader_, &writer_);
    if (!opened)
        return;  // ok() is false; the destructor closes what was opened
    int limit = kind == LineKind::pipe ? pipe_batch_limit : pty_batch_limit;
    int packets = limit / packet_size;
    for (int i = 0; i < packets; ++i)
        frame_packet(batch_ + i * packet_size, type, packet_size);
    batch_bytes_ = packets * packet_size;
}

PacketLine::~PacketLine()
{
    if (reader_ >= 0)
        close(reader_);
    if (writer_ >= 0)
        close(writer_);
}

int PacketLine::refill()
{
    if (bytes_waiting(reader_) != 0)
        return 0;  // a batch starts on an empty line, so it ends on a packet boundary
    if (write(writer_, batch_, static_cast<size_t>(batch_bytes_)) != batch_bytes_)
        return 0;
    for (int step = 0; bytes_waiting(reader_) < batch_bytes_; ++step) {
        if (step == arrival_wait_steps)
            return 0;
        sleep_one_ms();
    }
    int size = batch_[3] + 6;
    return batch_bytes_ / size;
}
