/* unit_app: a small control application of the radio-link modem unit, as our users write
 * one. It keeps its settings in the object database, reads its inventory from the EEPROM,
 * answers the far-side processor over PCI and a craft terminal on the serial port, and logs
 * the Ethernet ports' link events. It runs until SIGINT or SIGTERM.
 *
 * Off-target it is hosted by the simulated unit: `unit_app [STATE_DIR]` keeps the board's
 * images in STATE_DIR; with BSP_SIM_CONSOLE=PATH set, the unit serves its console on PATH. */
#include <bsp_sim/bsp_sim_c.h>
#include <bsp_sim/console.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "unit_app.h"

static volatile sig_atomic_t stop_requested;
static int event_pipe[2] = {-1, -1};

static void request_stop(int signo) {
    (void)signo;
    stop_requested = 1;
}

/* A pipe carries the events: one write of a small record is atomic, and a full pipe drops
 * the event rather than hold up the library's context. */
void app_post(const struct app_event *event) {
    if (write(event_pipe[1], event, sizeof *event) != (ssize_t)sizeof *event) {
        fprintf(stderr, "unit_app: event lost\n");
    }
}

static void handle(const struct app_event *event) {
    if (event->kind == APP_EVENT_LINK) {
        link_log(event);
    } else {
        peers_answer_asset_tag(inventory_store_asset_tag(event->tag));
    }
}

/* Waits for events; a signal is seen within the poll's time-out. */
static void run_until_stopped(void) {
    struct pollfd in = {0};
    in.fd = event_pipe[0];
    in.events = POLLIN;
    while (!stop_requested) {
        struct app_event event;
        if (poll(&in, 1, 100) == 1 && read(in.fd, &event, sizeof event) == sizeof event) {
            handle(&event);
        }
    }
}

int main(int argc, char **argv) {
    struct app_config config;
    struct sigaction on_stop;
    memset(&on_stop, 0, sizeof on_stop);
    on_stop.sa_handler = request_stop;
    sigaction(SIGINT, &on_stop, NULL);
    sigaction(SIGTERM, &on_stop, NULL);
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (pipe(event_pipe) != 0 || fcntl(event_pipe[1], F_SETFL, O_NONBLOCK) != 0) {
        perror("unit_app: pipe");
        return 1;
    }
    bsp_sim_start(argc > 1 ? argv[1] : NULL); /* off-target only: start the simulated unit */

    /* The families in their documented start order. */
    if (config_start(&config) != 0) {
        return 1;
    }
    inventory_start();
    if (peers_start(&config) != 0) {
        return 1;
    }
    link_start();
    printf("unit_app: running\n");
    run_until_stopped();

    link_stop();
    peers_stop();
    config_stop();
    bsp_sim_console_stop(); /* off-target only: the console's clients go before the process */
    printf("unit_app: stopped\n");
    return 0;
}
