/* The io module: console output, the serial port, the configuration file
 * name, receiver packets and the receiver link.  Plain C interface. */
#ifndef VENDLINK_IO_H
#define VENDLINK_IO_H

#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "vendlink/status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the output buffer print_version fills: the program name, ", " and
 * the revision, cut to fit. */
#define VERSION_TEXT_SIZE 512

/* Size of the buffer that form_safe_script_name fills. */
#define SCRIPT_NAME_SIZE 200

/* Console */
char *print_version(const char *program, const char *ident, char *out);
char *get_io_version(char *buf);
void print_io_help(void);
int fprint_usage(FILE *stream, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
int termio_EnableOneCharReads(int fd, int restore);
void set_stderr(FILE *stream);
FILE *get_stderr(void);

/* Serial port */
int get_device_file(char *name);
int init_port(long baud, int parity, const char *device);
int write_port(int fd, const void *buf, int count);
int read_port(int fd, void *buf, int count);
void set_timeout(int fd, int tenths);
void set_timeout_scale_factor(int factor);
void flush_input(int fd);
void clear_comm(int fd);
void dtr_enable(int fd, int on);
void io_use_rts_cts(int on);
void io_drop_dtr(int on);
void Pause(unsigned int seconds);
void ctrl_C_capture(void);
void ctrl_C_uncapture(void);
void ctrl_C_handler(int sig);
void close_comm(void);

/* Modem configuration file name: base followed by the device's last
 * component.  dest must hold SCRIPT_NAME_SIZE bytes.  A name that would not
 * fit is refused: dest is emptied, device left as it was, and NULL returned. */
char *form_safe_script_name(char *dest, const char *base, char *device);

/* Receiver packets: 0x02, status, type, length N, N data bytes, checksum
 * (status + type + length + data, modulo 256), 0x03. */
void send_msg(int fd, int type, const unsigned char *data, int length);
int get_message(int fd, unsigned char *data, uint16_t *length);
int write_buffer(const unsigned char *data, int count);
int is_msg_in_buffer(unsigned char *data, int *type, int *length);
uint32_t buf2UL(const unsigned char *bytes);
double buf2double(const unsigned char *bytes);
void double2buf(unsigned char *dest, double value);
time_t y2k_mktime(struct tm *tm);

/* Receiver link */
int get_ack(int fd);
int establish_comm(int fd);
int receiver_in_monitor(int fd);
/* text1 and text2 need 9 bytes each. */
int get_receiver_type(int fd, char *text1, char *text2, double *number1, double *number2,
                      double *number3, long *count1, long *count2);

#ifdef __cplusplus
}
#endif

#endif
