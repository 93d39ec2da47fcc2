/* Reads the records of a running quorlix-host started with --shm NAME.
 * Build: cc -std=c99 -I tools/host/storage/include shm_reader.c -o shm_reader -pthread
 *   (or as C++: c++ -x c++ -I tools/host/storage/include shm_reader.c -o shm_reader -pthread)
 * Run:   ./shm_reader NAME                                                   */
#define _POSIX_C_SOURCE 200809L
#include "quorlix/shm.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    char why[256];
    if (argc != 2) {
        fprintf(stderr, "usage: %s NAME\n", argv[0]);
        return 2;
    }
    /* Only an object of this user's that nobody else may write is trusted. */
    struct quorlix_shm* shm = quorlix_shm_attach(argv[1], getuid(), why, sizeof why);
    if (shm == NULL) {
        fprintf(stderr, "%s\n", why);
        return 1;
    }

    /* Copy under the lock, print afterwards: the devices wait while it is held. */
    struct quorlix_con_data con[QUORLIX_SHM_ENTRIES];
    char owner[QUORLIX_SHM_ENTRIES][QUORLIX_SHM_OWNER_SIZE];
    int lost[QUORLIX_SHM_ENTRIES];
    if (quorlix_shm_lock(&shm->controllers.lock.mutex) != 0) {
        fprintf(stderr, "%s: the controllers lock was not free within %d ms\n", argv[1], QUORLIX_SHM_LOCK_TIMEOUT_MS);
        quorlix_shm_detach(shm);
        return 1;
    }
    uint32_t count = shm->controllers.count;
    if (count > QUORLIX_SHM_ENTRIES) count = QUORLIX_SHM_ENTRIES;
    memcpy(con, shm->con, sizeof con);
    memcpy(owner, shm->controllers.owner, sizeof owner);
    for (uint32_t n = 1; n <= QUORLIX_SHM_ENTRIES; ++n) lost[n - 1] = quorlix_shm_entry_lost(&shm->controllers, n);
    /* Only a render node's mirror sets it: its sender has gone quiet. */
    int stale = shm->stale != 0;
    quorlix_shm_unlock(&shm->controllers.lock.mutex);
    if (stale) fprintf(stderr, "%s: the mirror hears nothing from its sender; these records may be old\n", argv[1]);

    for (uint32_t n = 1; n <= count; ++n) {
        const struct quorlix_con_data* c = &con[n - 1];
        printf("controller %u (%.31s) at %.3f: buttons", (unsigned)n, owner[n - 1],
               quorlix_time(c->time_sec, c->time_usec));
        for (uint32_t b = 1; b <= quorlix_net_u32(c->button_count) && b <= 32; ++b)
            printf(" %d", quorlix_con_button(c, b));
        printf(", valuators");
        for (uint32_t v = 1; v <= quorlix_net_u32(c->valuator_count) && v <= 32; ++v)
            printf(" %.3f", quorlix_con_valuator(c, v));
        /* The wand's line is gone: nothing is held until it is back. */
        printf("%s\n", lost[n - 1] ? ", line lost" : "");
    }

    struct quorlix_tra_data tra[QUORLIX_SHM_ENTRIES];
    if (quorlix_shm_lock(&shm->trackers.lock.mutex) != 0) {
        fprintf(stderr, "%s: the trackers lock was not free within %d ms\n", argv[1], QUORLIX_SHM_LOCK_TIMEOUT_MS);
        quorlix_shm_detach(shm);
        return 1;
    }
    count = shm->trackers.count;
    if (count > QUORLIX_SHM_ENTRIES) count = QUORLIX_SHM_ENTRIES;
    memcpy(tra, shm->tra, sizeof tra);
    quorlix_shm_unlock(&shm->trackers.lock.mutex);

    for (uint32_t n = 1; n <= count; ++n) {
        const struct quorlix_tra_data* t = &tra[n - 1];
        printf("tracker %u: x %.5f y %.5f z %.5f azim %.5f elev %.5f roll %.5f\n", (unsigned)n,
               quorlix_tra_value(t->x), quorlix_tra_value(t->y), quorlix_tra_value(t->z),
               quorlix_tra_value(t->azim), quorlix_tra_value(t->elev), quorlix_tra_value(t->roll));
    }
    quorlix_shm_detach(shm);
    return 0;
}
