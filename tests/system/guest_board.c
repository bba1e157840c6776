/* The emulated board: its devices are the kernel's, its TCP port is forwarded from the host,
 * and the console hand-over really starts getty. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "board.h"

void board_start(int argc, char **argv) {
    (void)argc;
    (void)argv;
}

int board_tcp_port(void) {
    return 5555;
}

/* The pid of a process whose command line starts with `argv` (NUL-separated), waiting up to
 * `seconds` for it to appear; 0 if none did. */
static int find_process(const char *argv, size_t len, int seconds) {
    for (int tenth = 0; tenth < seconds * 10; tenth++) {
        DIR *proc = opendir("/proc");
        struct dirent *e;
        int found = 0;
        while (proc != NULL && !found && (e = readdir(proc)) != NULL) {
            char path[300], got[128];
            snprintf(path, sizeof path, "/proc/%s/cmdline", e->d_name);
            int fd = e->d_name[0] >= '1' && e->d_name[0] <= '9' ? open(path, O_RDONLY) : -1;
            ssize_t n = fd < 0 ? -1 : read(fd, got, sizeof got);
            if (fd >= 0) {
                close(fd);
            }
            if (n >= (ssize_t)len && memcmp(got, argv, len) == 0) {
                found = atoi(e->d_name);
            }
        }
        if (proc != NULL) {
            closedir(proc);
        }
        if (found) {
            return found;
        }
        usleep(100000);
    }
    return 0;
}

/* The shell that system() starts runs getty in its own place (busybox execs a lone command),
 * so the command line seen is getty's. Once seen, getty gets time to write its login prompt
 * (which the host side checks) and is ended. */
int board_console_started(int seconds) {
    static const char getty[] =
        "getty\0-L\0ttyS0\0"
        "115200\0vt100";
    int pid = find_process(getty, sizeof getty, seconds);
    if (pid > 0) {
        sleep(2);
        kill(pid, SIGTERM);
    }
    return pid > 0;
}
