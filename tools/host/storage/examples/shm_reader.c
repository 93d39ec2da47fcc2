/* Reads the records of a quorlix-host started with --shm NAME.
 * Build, in the source tree:
 *   cc -std=c99 -I tools/host/storage/include tools/host/storage/examples/shm_reader.c -o shm_reader
 * or where the package installed quorlix/shm.h in /usr/include:
 *   cc -std=c99 /usr/share/doc/quorlix/examples/shm_reader.c -o shm_reader
 * (or as C++: c++ -x c++ with the same arguments).
 * Run:   ./shm_reader NAME [--follow] [--owner UID]
 *   the entries in use, once; with --follow again at each change, across host
 *   restarts, until killed; --owner: the host's user id when it is not yours
 *   (a service's: stat -c %u /dev/shm/NAME) */
#include "quorlix/shm.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void print_entries(const struct quorlix_shm* shm) {
    uint32_t n, b, v;
    for (n = 1; n <= quorlix_shm_controller_count(shm); ++n) {
        struct quorlix_shm_controller e;
        const struct quorlix_con_data* c = &e.record;
        /* A consistent copy, or (the host kept rewriting it) none this time. */
        if (quorlix_shm_read_controller(shm, n, &e) != 0) continue;
        printf("controller %u (%.31s) at %.3f: buttons", (unsigned)n, e.head.owner,
               quorlix_time(c->time_sec, c->time_usec));
        for (b = 1; b <= quorlix_net_u32(c->button_count) && b <= 32; ++b) printf(" %d", quorlix_con_button(c, b));
        printf(", valuators");
        for (v = 1; v <= quorlix_net_u32(c->valuator_count) && v <= 32; ++v)
            printf(" %.3f", quorlix_con_valuator(c, v));
        /* The wand's line is gone: nothing is held until it is back. */
        printf("%s\n", e.head.lost ? ", line lost" : "");
    }
    for (n = 1; n <= quorlix_shm_tracker_count(shm); ++n) {
        struct quorlix_shm_tracker e;
        const struct quorlix_tra_data* t = &e.record;
        if (quorlix_shm_read_tracker(shm, n, &e) != 0) continue;
        printf("tracker %u: x %.5f y %.5f z %.5f azim %.5f elev %.5f roll %.5f%s\n", (unsigned)n,
               quorlix_tra_value(t->x), quorlix_tra_value(t->y), quorlix_tra_value(t->z),
               quorlix_tra_value(t->azim), quorlix_tra_value(t->elev), quorlix_tra_value(t->roll),
               e.head.lost ? ", line lost" : "");
    }
    fflush(stdout);
}

/* What tells one look from the next: the generation and every change counter. */
static uint32_t fingerprint(const struct quorlix_shm* shm) {
    uint32_t sum = quorlix_shm_word(&shm->generation) * 2654435761u, n;
    struct quorlix_shm_controller c;
    struct quorlix_shm_tracker t;
    for (n = 1; n <= quorlix_shm_controller_count(shm); ++n)
        if (quorlix_shm_read_controller(shm, n, &c) == 0) sum = sum * 31u + c.head.changes + n;
    for (n = 1; n <= quorlix_shm_tracker_count(shm); ++n)
        if (quorlix_shm_read_tracker(shm, n, &t) == 0) sum = sum * 37u + t.head.changes + n;
    return sum;
}

int main(int argc, char** argv) {
    char why[256];
    struct quorlix_shm* shm;
    int follow = 0, away = 0, i;
    uid_t owner = getuid();
    uint32_t seen;
    const struct timespec interval = {0, 50 * 1000000L};
    for (i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--follow") == 0) {
            follow = 1;
        } else if (strcmp(argv[i], "--owner") == 0 && i + 1 < argc) {
            owner = (uid_t)strtoul(argv[++i], NULL, 10);
        } else {
            argc = 0;
        }
    }
    if (argc < 2) {
        fprintf(stderr, "usage: %s NAME [--follow] [--owner UID]\n", argv[0]);
        return 2;
    }
    /* Only an object of the host's user that no other user may write is trusted. */
    shm = quorlix_shm_attach(argv[1], owner, why, sizeof why);
    if (shm == NULL) {
        fprintf(stderr, "%s\n", why);
        return 1;
    }
    /* Only a render node's mirror sets it: its sender has gone quiet. */
    if (quorlix_shm_word(&shm->stale))
        fprintf(stderr, "%s: the mirror follows no host now; these records may be old\n", argv[1]);
    print_entries(shm);
    seen = fingerprint(shm);
    while (follow) {
        struct quorlix_shm* again;
        nanosleep(&interval, NULL);
        if (fingerprint(shm) != seen) {
            seen = fingerprint(shm);
            printf("--\n");
            print_entries(shm);
        }
        if (quorlix_shm_host_alive(shm)) {
            if (away) fprintf(stderr, "%s: the host runs again\n", argv[1]);
            away = 0;
            continue;
        }
        if (!away) fprintf(stderr, "%s: the host is not running; waiting for it\n", argv[1]);
        away = 1;
        /* Stopped or killed: a host that starts again may bring a new object. */
        again = quorlix_shm_attach(argv[1], owner, why, sizeof why);
        if (again != NULL && quorlix_shm_host_alive(again)) {
            quorlix_shm_detach(shm);
            shm = again;
            seen = fingerprint(shm) + 1; /* all of it, at the next look */
        } else if (again != NULL) {
            quorlix_shm_detach(again);
        }
    }
    quorlix_shm_detach(shm);
    return 0;
}
