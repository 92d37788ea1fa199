/* The reference of the reaction benchmark: a bare client on libcapi20 that
 * listens for every call and alerts it at once, and does nothing else (it
 * answers the indications it owes an answer). It reads one message per
 * readiness of libcapi20's descriptor, as Tolvar's event loop does.
 *
 *   bare_capi_client HOST PORT     prints "ready" once it listens; ends at
 *                                  the end of its input
 */

#include <capi20.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static unsigned appl;

static void put16(unsigned char* m, int at, unsigned v) {
    m[at] = (unsigned char)(v & 0xFF);
    m[at + 1] = (unsigned char)(v >> 8);
}

static void put32(unsigned char* m, int at, unsigned v) {
    put16(m, at, v & 0xFFFF);
    put16(m, at + 2, v >> 16);
}

/* A message with its header and first parameter; the rest is filled by the
 * caller. libcapi20's rcapi module reads past short messages: the buffer is
 * as large as a message buffer of the program's. */
static void header(unsigned char* m, unsigned length, unsigned command, unsigned sub,
                   unsigned number, unsigned first) {
    memset(m, 0, 192);
    put16(m, 0, length);
    put16(m, 2, appl);
    m[4] = (unsigned char)command;
    m[5] = (unsigned char)sub;
    put16(m, 6, number);
    put32(m, 8, first);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bare_capi_client HOST PORT\n");
        return 2;
    }
    capi20ext_set_tracelevel(0);
    capi20ext_set_driver("rcapi");
    capi20ext_set_host(argv[1]);
    capi20ext_set_port(atoi(argv[2]));
    if (capi20_register(2, 8, 130, &appl) != 0 || appl == 0) {
        fprintf(stderr, "bare_capi_client: no CAPI\n");
        return 1;
    }
    unsigned char m[192];
    header(m, 26, 0x05, 0x80, 0, 1); /* LISTEN_REQ, controller 1 */
    put32(m, 12, 0x000003FF);         /* Info mask */
    put32(m, 16, 0x1FFF03FF);         /* CIP mask */
    put32(m, 20, 0x00000001);         /* CIP mask 2; no calling number, no subaddress */
    capi20_put_message(appl, m);

    struct pollfd fds[2] = {{capi20_fileno(appl), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) {
            char buf[256];
            if (read(STDIN_FILENO, buf, sizeof buf) <= 0) break;
        }
        if (!fds[0].revents) continue;
        unsigned char* in = NULL;
        if (capi20_get_message(appl, &in) != 0 || in == NULL) {
            if (fds[0].revents & (POLLHUP | POLLERR)) break;
            continue;
        }
        const unsigned command = in[4] | (unsigned)in[5] << 8;
        const unsigned number = in[6] | (unsigned)in[7] << 8;
        const unsigned plci = in[8] | (unsigned)in[9] << 8 | (unsigned)in[10] << 16 |
                              (unsigned)in[11] << 24;
        switch (command) {
            case 0x8105: /* LISTEN_CONF */
                printf("ready\n");
                fflush(stdout);
                break;
            case 0x8202: /* CONNECT_IND: alert, nothing else */
                header(m, 13, 0x01, 0x80, 0, plci);
                capi20_put_message(appl, m);
                break;
            case 0x8204: /* DISCONNECT_IND */
                header(m, 12, 0x04, 0x83, number, plci);
                capi20_put_message(appl, m);
                break;
            case 0x8208: /* INFO_IND */
                header(m, 12, 0x08, 0x83, number, plci);
                capi20_put_message(appl, m);
                break;
            default:
                break;
        }
    }
    capi20_release(appl);
    return 0;
}
