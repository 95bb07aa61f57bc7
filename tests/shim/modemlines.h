/* Test-only view of the modem-control lines the shim keeps. */
#ifndef VENDTEST_MODEMLINES_H
#define VENDTEST_MODEMLINES_H

#ifdef __cplusplus
extern "C" {
#endif

/* The bits as the last TIOCMSET on a terminal left them. */
int shim_modem_lines(void);

#ifdef __cplusplus
}
#endif

#endif
