/*
 * Reading the Quorlix host's shared memory from another program.
 *
 * `quorlix-host --shm NAME` keeps the tracker and controller records that its
 * devices publish in the POSIX shared-memory object "/NAME" (see shm_open(3)).
 * The object holds one `struct quorlix_shm`. To read it:
 *
 *   char why[160];
 *   struct quorlix_shm* shm = quorlix_shm_attach("NAME", getuid(), why, sizeof why);
 *   if (shm == NULL) ...                                 (why says what was wrong)
 *   if (quorlix_shm_lock(&shm->controllers.lock.mutex) == 0) {
 *       struct quorlix_con_data copy = shm->con[0];      (entry 1; copy what you need)
 *       uint32_t count = shm->controllers.count;
 *       quorlix_shm_unlock(&shm->controllers.lock.mutex);
 *   }                                                    (else: not free within a second)
 *   quorlix_shm_detach(shm);
 *
 * Anybody can create an object of any name, so quorlix_shm_attach maps one
 * only when it belongs to the expected user (the host's), cannot be written
 * by every user, and is large enough for the whole layout. quorlix_shm_lock
 * waits at most QUORLIX_SHM_LOCK_TIMEOUT_MS: a stuck holder cannot wedge the
 * reader.
 *
 * Hold a lock only to copy: the devices wait for it before they publish. The
 * mapping must be writable because taking the lock writes to the mutex; never
 * write anything else. Each kind of record has its own lock; take one at a
 * time. Build the reader for the same ABI (32- or 64-bit) as the host.
 *
 * Records are in network byte order, as the devices publish them; the
 * functions below decode them. Entry n (1 to 32) is element n - 1.
 */
#ifndef QUORLIX_SHM_H
#define QUORLIX_SHM_H

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
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
#define QUORLIX_SHM_VERSION 3u
#define QUORLIX_SHM_ENTRIES 32
#define QUORLIX_SHM_OWNER_SIZE 32
#define QUORLIX_SHM_LOCK_TIMEOUT_MS 1000

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

/* A robust, process-shared mutex in a slot of fixed size. */
union quorlix_shm_mutex {
    pthread_mutex_t mutex;
    unsigned char slot[64];
};

/* Everything about one kind of record except the records themselves. */
struct quorlix_shm_storage {
    union quorlix_shm_mutex lock;     /* guards this storage and its records */
    uint32_t count;                   /* entries in use, 0 to 32 */
    uint32_t lost; /* bit n - 1: entry n's device lost its line (see quorlix_shm_entry_lost) */
    uint32_t changes[QUORLIX_SHM_ENTRIES]; /* bumped each time entry n + 1 is rewritten */
    char owner[QUORLIX_SHM_ENTRIES][QUORLIX_SHM_OWNER_SIZE]; /* device that owns entry n + 1 */
};

struct quorlix_shm {
    uint32_t magic;   /* QUORLIX_SHM_MAGIC */
    uint32_t version; /* QUORLIX_SHM_VERSION */
    uint32_t size;    /* sizeof (struct quorlix_shm) */
    int32_t host_pid;
    uint32_t running; /* 1 while the host runs; 0 once it has stopped (read it under a lock) */
    /* When the host process started, in clock ticks since boot (field 22 of
       /proc/PID/stat): tells the host from a later process with its pid. */
    uint32_t host_start_low;
    uint32_t host_start_high;
    /* 0 on a publishing host. On a render node's mirror (quorlix-host mirror)
       1 while its records may be out of date: before the first keyframe and
       after 3 s without a datagram from its sender (read it under a lock). */
    uint32_t stale;
    struct quorlix_shm_storage trackers;
    struct quorlix_shm_storage controllers;
    struct quorlix_tra_data tra[QUORLIX_SHM_ENTRIES];
    struct quorlix_con_data con[QUORLIX_SHM_ENTRIES];
};

/* Non-zero when the mapping holds a host's storages of this layout. */
static inline int quorlix_shm_valid(const struct quorlix_shm* shm, size_t mapped) {
    return shm != NULL && mapped >= sizeof *shm && shm->magic == QUORLIX_SHM_MAGIC &&
           shm->version == QUORLIX_SHM_VERSION && shm->size == sizeof *shm;
}

/* 1 when entry n (1 to 32) of `storage` belongs to a device whose line is
   lost: the host then keeps a record there with nothing pressed and every
   valuator 0 (tracker poses stay as they were), so an application never sees
   a button held by a wand it no longer hears. The mark goes with the device's
   next record for the entry. Read it under the storage's lock, with the record. */
static inline int quorlix_shm_entry_lost(const struct quorlix_shm_storage* storage, uint32_t n) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return 0;
    return (int)((storage->lost >> (n - 1)) & 1u);
}

/* 0 when the lock is held; ETIMEDOUT when it was not free within
   `timeout_ms`. A holder that died left records whole (each is written in
   one copy), so the lock is made usable again and taken. */
static inline int quorlix_shm_lock_within(pthread_mutex_t* mutex, unsigned timeout_ms) {
    struct timespec until;
    int rc;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += (time_t)(timeout_ms / 1000u);
    until.tv_nsec += (long)(timeout_ms % 1000u) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_timedlock(mutex, &until);
    if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(mutex);
    return rc;
}

static inline int quorlix_shm_lock(pthread_mutex_t* mutex) {
    return quorlix_shm_lock_within(mutex, QUORLIX_SHM_LOCK_TIMEOUT_MS);
}

static inline int quorlix_shm_unlock(pthread_mutex_t* mutex) { return pthread_mutex_unlock(mutex); }

/* Maps the host's object "/NAME" (NAME given with or without its slash) after
   checking that it can be trusted: a regular object of user `owner`, not
   writable by every user, large enough for the layout, holding storages of
   this version. NULL when a check failed, with `why` saying which. */
static inline struct quorlix_shm* quorlix_shm_attach(const char* name, uid_t owner, char* why, size_t why_size) {
    char object[256];
    struct stat info;
    void* mapped;
    int fd;
    snprintf(object, sizeof object, "%s%s", name[0] == '/' ? "" : "/", name);
    /* Writable, because taking a lock writes to the mutex; nothing else is written. */
    fd = shm_open(object, O_RDWR | O_NOFOLLOW, 0);
    if (fd < 0) {
        snprintf(why, why_size, "%.128s: %s", object, strerror(errno));
        return NULL;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        snprintf(why, why_size, "%.128s: not a shared-memory object", object);
    } else if (info.st_uid != owner) {
        snprintf(why, why_size, "%.128s belongs to user %lu, not to user %lu", object, (unsigned long)info.st_uid,
                 (unsigned long)owner);
    } else if (info.st_mode & S_IWOTH) {
        snprintf(why, why_size, "%.128s can be written by every user (mode %03lo)", object,
                 (unsigned long)(info.st_mode & 0777));
    } else if ((size_t)info.st_size < sizeof(struct quorlix_shm)) {
        snprintf(why, why_size, "%.128s is %lld bytes, smaller than the %lu of the storages", object,
                 (long long)info.st_size, (unsigned long)sizeof(struct quorlix_shm));
    } else {
        mapped = mmap(NULL, sizeof(struct quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (mapped == MAP_FAILED) {
            snprintf(why, why_size, "%.128s: %s", object, strerror(errno));
            return NULL;
        }
        if (!quorlix_shm_valid((const struct quorlix_shm*)mapped, sizeof(struct quorlix_shm))) {
            munmap(mapped, sizeof(struct quorlix_shm));
            snprintf(why, why_size, "%.128s holds no quorlix-host storages of this version", object);
            return NULL;
        }
        return (struct quorlix_shm*)mapped;
    }
    close(fd);
    return NULL;
}

static inline void quorlix_shm_detach(struct quorlix_shm* shm) { munmap(shm, sizeof *shm); }

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
