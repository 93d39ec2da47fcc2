/*
 * Reading the Quorlix host's shared memory from another program.
 *
 * `quorlix-host --shm NAME` publishes the tracker and controller records of
 * its devices in the POSIX shared-memory object "/NAME" (see shm_open(3)).
 * Readers map it read-only and never lock anything: the host writes each
 * entry under a sequence counter that is odd while the entry changes, and a
 * reader copies the entry again when the counter moved during its copy. So
 * nothing a reader does (stopping, dying, being slow) reaches the devices.
 *
 *   char why[160];
 *   struct quorlix_shm* shm = quorlix_shm_attach("NAME", getuid(), why, sizeof why);
 *   if (shm == NULL) ...                               (why says what was wrong)
 *   struct quorlix_shm_controller entry;
 *   if (quorlix_shm_read_controller(shm, 1, &entry) == 0)
 *       ... entry.record, entry.head.owner, entry.head.lost ...  (a consistent copy)
 *   if (!quorlix_shm_host_alive(shm)) ...              (stopped or gone: attach again later)
 *   quorlix_shm_detach(shm);
 *
 * Compatibility: the layout only grows. Within one QUORLIX_SHM_VERSION a
 * later host may add fields at the end of the header (in `reserved`) or of an
 * entry (its stride then grows), each announced by a bit in `features`. A
 * reader finds entries through the offsets and strides in the header (the
 * functions below do), checks that `size` covers what it knows, and ignores
 * feature bits it does not know. The version changes only when a field
 * changes its meaning; quorlix_shm_attach then refuses the object.
 *
 * Restarts: a host that takes over the name of one that ended reuses its
 * object and changes `generation`; one whose object was removed makes a new
 * one. A reader that sees the host not alive attaches again by name until
 * it finds one that is (a service's host is back within seconds):
 *
 *   if (!quorlix_shm_host_alive(shm)) {
 *       struct quorlix_shm* again = quorlix_shm_attach("NAME", owner, why, sizeof why);
 *       if (again != NULL && quorlix_shm_host_alive(again)) {
 *           quorlix_shm_detach(shm);
 *           shm = again;                 (the new host's records from here on)
 *       } else {
 *           quorlix_shm_detach(again);   (NULL is fine: try again later)
 *       }
 *   } Records are in network byte order, as the devices
 * publish them; the functions at the end decode them. Entry n runs from 1 to 32.
 *
 * C99 or C++; build the reader for either ABI (32- or 64-bit): the layout is
 * the same for both.
 */
#ifndef QUORLIX_SHM_H
#define QUORLIX_SHM_H

/* O_NOFOLLOW, clock_gettime and sched_yield are POSIX: ask for it when this
   header comes first under a strict C standard. */
#if !defined(_POSIX_C_SOURCE) && !defined(_GNU_SOURCE) && !defined(_XOPEN_SOURCE) && !defined(__cplusplus)
#define _POSIX_C_SOURCE 200809L
#endif

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUORLIX_SHM_MAGIC 0x51524C58u /* "QRLX" */
#define QUORLIX_SHM_VERSION 4u
#define QUORLIX_SHM_ENTRIES 32
#define QUORLIX_SHM_OWNER_SIZE 32
/* A running host renews `heartbeat_ms` at least this often... */
#define QUORLIX_SHM_HEARTBEAT_MS 1000u
/* ...and is taken for gone when it has not for this long. */
#define QUORLIX_SHM_ALIVE_WITHIN_MS 3000u
/* The largest object a reader maps. */
#define QUORLIX_SHM_MAX_SIZE (1u << 20)

/* A tracker record (56 bytes). Pose values are fixed point x 100000. */
struct quorlix_tra_data {
    uint32_t number;
    uint8_t reserved0[4];
    int32_t time_sec;
    int32_t time_usec;
    uint8_t reserved1[4];
    int32_t x, y, z, azim, elev, roll;
    uint8_t reserved2[12];
};

/* A controller record (184 bytes). Valuators are fixed point x 1000. */
struct quorlix_con_data {
    uint32_t number;
    uint8_t reserved0[4];
    int32_t time_sec;
    int32_t time_usec;
    uint8_t reserved1[4];
    uint32_t valuator_count;
    uint32_t button_count;
    uint32_t valuator_offset;
    uint32_t button_offset;
    int32_t valuators[32];
    uint8_t buttons[4];
    uint32_t button_bytes; /* host byte order */
    uint8_t clock_scratch[12];
};

/* What every entry carries besides its record (48 bytes). */
struct quorlix_shm_entry_head {
    uint32_t seq;     /* odd while the host writes the entry */
    uint32_t changes; /* bumped each time the record is rewritten */
    uint32_t lost;    /* 1 while the device's line is lost: nothing shows pressed, valuators 0 */
    uint32_t reserved;
    char owner[QUORLIX_SHM_OWNER_SIZE]; /* the device that owns the entry, "" for none */
};

struct quorlix_shm_controller {
    struct quorlix_shm_entry_head head;
    struct quorlix_con_data record;
};

struct quorlix_shm_tracker {
    struct quorlix_shm_entry_head head;
    struct quorlix_tra_data record;
};

/* Every word of the header is written whole; read it with the functions below. */
struct quorlix_shm {
    uint32_t magic;        /* QUORLIX_SHM_MAGIC */
    uint32_t version;      /* QUORLIX_SHM_VERSION */
    uint32_t size;         /* bytes of the object */
    uint32_t features;     /* none defined yet: 0 */
    uint32_t generation;   /* changes each time a host takes the name */
    uint32_t running;      /* 1 while the host runs, 0 once it has stopped */
    uint32_t heartbeat_ms; /* the host's CLOCK_MONOTONIC in ms, renewed while it runs */
    /* 0 on a publishing host. On a render node's mirror (quorlix-host mirror)
       1 while its records may be out of date: before the first keyframe and
       after 3 s without a datagram from its sender. */
    uint32_t stale;
    int32_t host_pid; /* as the host's own PID namespace numbers it */
    uint32_t controller_count;  /* controller entries in use, 0 to 32 */
    uint32_t tracker_count;     /* tracker entries in use, 0 to 32 */
    uint32_t controller_offset; /* where controller entry 1 starts, from the start of the object */
    uint32_t controller_stride; /* bytes from one controller entry to the next */
    uint32_t tracker_offset;
    uint32_t tracker_stride;
    uint32_t reserved[17]; /* 0: room for later fields */
    struct quorlix_shm_controller controllers[QUORLIX_SHM_ENTRIES];
    struct quorlix_shm_tracker trackers[QUORLIX_SHM_ENTRIES];
};

static inline uint32_t quorlix_shm_word(const uint32_t* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }

/* 1 when `count` entries of `stride` bytes from `offset` lie after the
   header and within `size` bytes. */
static inline int quorlix_shm_fits(uint32_t offset, uint32_t stride, uint32_t least, uint32_t size) {
    return offset >= offsetof(struct quorlix_shm, controllers) && offset % 4 == 0 && stride >= least &&
           stride % 4 == 0 && (uint64_t)offset + (uint64_t)stride * QUORLIX_SHM_ENTRIES <= (uint64_t)size;
}

/* Non-zero when the first `mapped` bytes hold a host's storages of this layout. */
static inline int quorlix_shm_valid(const struct quorlix_shm* shm, size_t mapped) {
    uint32_t size;
    if (shm == NULL || mapped < offsetof(struct quorlix_shm, controllers)) return 0;
    if (quorlix_shm_word(&shm->magic) != QUORLIX_SHM_MAGIC || quorlix_shm_word(&shm->version) != QUORLIX_SHM_VERSION)
        return 0;
    size = quorlix_shm_word(&shm->size);
    return size <= mapped && size <= QUORLIX_SHM_MAX_SIZE &&
           quorlix_shm_fits(shm->controller_offset, shm->controller_stride,
                            (uint32_t)sizeof(struct quorlix_shm_controller), size) &&
           quorlix_shm_fits(shm->tracker_offset, shm->tracker_stride, (uint32_t)sizeof(struct quorlix_shm_tracker),
                            size);
}

static inline uint32_t quorlix_shm_now_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

/* 1 while a host runs on the object and renews its heartbeat; 0 once it has
   stopped or, killed, stopped renewing it. */
static inline int quorlix_shm_host_alive(const struct quorlix_shm* shm) {
    if (quorlix_shm_word(&shm->running) == 0) return 0;
    return (uint32_t)(quorlix_shm_now_ms() - quorlix_shm_word(&shm->heartbeat_ms)) < QUORLIX_SHM_ALIVE_WITHIN_MS;
}

static inline uint32_t quorlix_shm_count(const uint32_t* count) {
    uint32_t n = quorlix_shm_word(count);
    return n < QUORLIX_SHM_ENTRIES ? n : QUORLIX_SHM_ENTRIES;
}

/* Entries in use. */
static inline uint32_t quorlix_shm_controller_count(const struct quorlix_shm* shm) {
    return quorlix_shm_count(&shm->controller_count);
}
static inline uint32_t quorlix_shm_tracker_count(const struct quorlix_shm* shm) {
    return quorlix_shm_count(&shm->tracker_count);
}

/* Copies `size` bytes of an entry whose words the host may be rewriting:
   0 for a consistent copy, EAGAIN when the host kept writing it. The loads
   that acquire keep the second look at the counter after the copy. */
static inline int quorlix_shm_read_entry(const void* entry, void* out, size_t size) {
    const uint32_t* words = (const uint32_t*)entry;
    unsigned char* to = (unsigned char*)out;
    unsigned tries;
    size_t i;
    for (tries = 0; tries < 100000u; ++tries) {
        uint32_t before = __atomic_load_n(&words[0], __ATOMIC_ACQUIRE);
        uint32_t after;
        if (before & 1u) {
            if (tries >= 100u) sched_yield();
            continue;
        }
        for (i = 0; i < size / 4; ++i) {
            uint32_t word = __atomic_load_n(&words[i], __ATOMIC_ACQUIRE);
            memcpy(to + 4 * i, &word, 4);
        }
        after = __atomic_load_n(&words[0], __ATOMIC_RELAXED);
        if (after == before) return 0;
    }
    return EAGAIN;
}

/* A consistent copy of entry n (1 to 32): 0, ERANGE for no such entry, or
   EAGAIN when the host kept rewriting it. */
static inline int quorlix_shm_read_controller(const struct quorlix_shm* shm, uint32_t n,
                                              struct quorlix_shm_controller* out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES ||
        !quorlix_shm_fits(shm->controller_offset, shm->controller_stride, (uint32_t)sizeof *out, shm->size))
        return ERANGE;
    return quorlix_shm_read_entry((const char*)shm + shm->controller_offset + (size_t)(n - 1) * shm->controller_stride,
                                  out, sizeof *out);
}

static inline int quorlix_shm_read_tracker(const struct quorlix_shm* shm, uint32_t n, struct quorlix_shm_tracker* out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES ||
        !quorlix_shm_fits(shm->tracker_offset, shm->tracker_stride, (uint32_t)sizeof *out, shm->size))
        return ERANGE;
    return quorlix_shm_read_entry((const char*)shm + shm->tracker_offset + (size_t)(n - 1) * shm->tracker_stride, out,
                                  sizeof *out);
}

/* Maps the host's object "/NAME" (NAME given with or without its slash)
   read-only, after checking that it can be trusted: a regular object of user
   `owner`, not writable by any other user, holding storages of this layout.
   NULL when a check failed, with `why` saying which. */
static inline struct quorlix_shm* quorlix_shm_attach(const char* name, uid_t owner, char* why, size_t why_size) {
    char object[256];
    struct stat info;
    void* mapped;
    size_t size;
    int fd;
    snprintf(object, sizeof object, "%s%s", name[0] == '/' ? "" : "/", name);
    fd = shm_open(object, O_RDONLY | O_NOFOLLOW, 0);
    if (fd < 0) {
        snprintf(why, why_size, "%.128s: %s", object, strerror(errno));
        return NULL;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        snprintf(why, why_size, "%.128s: not a shared-memory object", object);
    } else if (info.st_uid != owner) {
        snprintf(why, why_size, "%.128s belongs to user %lu, not to user %lu", object, (unsigned long)info.st_uid,
                 (unsigned long)owner);
    } else if (info.st_mode & (S_IWOTH | S_IWGRP)) {
        snprintf(why, why_size, "%.128s can be written by other users (mode %03lo)", object,
                 (unsigned long)(info.st_mode & 0777));
    } else if (info.st_size < (off_t)sizeof(struct quorlix_shm) || info.st_size > (off_t)QUORLIX_SHM_MAX_SIZE) {
        snprintf(why, why_size, "%.128s is %lld bytes, not the size of quorlix-host storages", object,
                 (long long)info.st_size);
    } else {
        size = (size_t)info.st_size;
        mapped = mmap(NULL, size, PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (mapped == MAP_FAILED) {
            snprintf(why, why_size, "%.128s: %s", object, strerror(errno));
            return NULL;
        }
        if (!quorlix_shm_valid((const struct quorlix_shm*)mapped, size) ||
            ((const struct quorlix_shm*)mapped)->size != size) {
            munmap(mapped, size);
            snprintf(why, why_size, "%.128s holds no quorlix-host storages of this version (%u)", object,
                     QUORLIX_SHM_VERSION);
            return NULL;
        }
        return (struct quorlix_shm*)mapped;
    }
    close(fd);
    return NULL;
}

static inline void quorlix_shm_detach(struct quorlix_shm* shm) {
    if (shm != NULL) munmap(shm, shm->size);
}

static inline uint32_t quorlix_net_u32(uint32_t stored) {
    const unsigned char* b = (const unsigned char*)&stored;
    return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | (uint32_t)b[3];
}

static inline int32_t quorlix_net_i32(int32_t stored) { return (int32_t)quorlix_net_u32((uint32_t)stored); }

/* Valuator n (1 to valuator_count), or 0. */
static inline float quorlix_con_valuator(const struct quorlix_con_data* con, uint32_t n) {
    uint32_t count = quorlix_net_u32(con->valuator_count);
    if (n < 1 || n > count || n > 32) return 0.0f;
    return (float)((double)quorlix_net_i32(con->valuators[n - 1]) * (double)0.001f);
}

/* 1 when button n (1 to button_count) is pressed, else 0. */
static inline int quorlix_con_button(const struct quorlix_con_data* con, uint32_t n) {
    uint32_t count = quorlix_net_u32(con->button_count);
    if (n < 1 || n > 32 || n > count || (n - 1) / 8 >= con->button_bytes) return 0;
    return (con->buttons[(n - 1) / 8] >> ((n - 1) % 8)) & 1;
}

/* One of x, y, z, azim, elev, roll, decoded. */
static inline float quorlix_tra_value(int32_t stored) {
    return (float)((double)quorlix_net_i32(stored) * (double)0.00001f);
}

/* Time stamp of a record in seconds since 1970. */
static inline double quorlix_time(int32_t time_sec, int32_t time_usec) {
    return (double)quorlix_net_i32(time_sec) + (double)quorlix_net_i32(time_usec) * 1e-6;
}

#ifdef __cplusplus
}
#endif

#endif /* QUORLIX_SHM_H */
