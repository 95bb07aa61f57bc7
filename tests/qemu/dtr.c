/* Prints DTR of the terminal on standard input, as its driver reads it back. */
#include <stdio.h>
#include <sys/ioctl.h>

int main(void)
{
    int bits = 0;
    int failed = ioctl(0, TIOCMGET, &bits);
    return puts(failed ? "TIOCMGET failed" : bits & TIOCM_DTR ? "high" : "low") < 0;
}
