/* Prints DTR of the terminal on standard input, as its driver reads it back. */
#include <stdio.h>
#include <sys/ioctl.h>

int main(void)
{
    int bits = 0;
    if (ioctl(0, TIOCMGET, &bits) != 0)
        return perror("TIOCMGET"), 1;
    return puts(bits & TIOCM_DTR ? "high" : "low") < 0;
}
