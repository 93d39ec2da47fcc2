#!/usr/bin/env bash
# Builds the benchmarks (bench preset), runs them all and writes
# docs/performance.md: the machine, the date, the commands and the figures.
#
# Usage: bench/run.sh
# Environment: BENCH_BUILD_DIR (default build/bench), BENCH_E2E_ARGS (extra
# arguments for quorlix_bench_e2e, e.g. "--records 5000").
# The figures are only as good as the machine is quiet: run it with nothing
# else busy (the end-to-end probe needs a core of its own).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${BENCH_BUILD_DIR:-build/bench}"
jobs=$(nproc 2>/dev/null || echo 2)
out=docs/performance.md
work=$(mktemp -d)
trap 'rm -rf "${work}"' EXIT

echo "=== bench: configure and build in ${build}"
cmake --preset bench -B "${build}" >/dev/null
cmake --build "${build}" -j "${jobs}" --target quorlix_bench_recv quorlix_bench_parts quorlix_bench_e2e quorlix_bench_mirror

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
busy=$(awk -v cores="${jobs}" '{ print ($1 > cores / 2) ? 1 : 0 }' /proc/loadavg)
[ "${busy}" -eq 0 ] || echo "=== bench: the machine is busy (load ${load_before}); the figures will show it"
micro_args=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_min_time=0.5)
recv_cmd="${build}/bench/quorlix_bench_recv ${micro_args[*]}"
parts_cmd="${build}/bench/quorlix_bench_parts ${micro_args[*]}"
e2e_cmd="${build}/bench/quorlix_bench_e2e --records 2000 --interval 5 --syscall-records 2000 --unpaced 20000 --silence 10${BENCH_E2E_ARGS:+ ${BENCH_E2E_ARGS}}"
mirror_cmd="${build}/bench/quorlix_bench_mirror --records 2000 --interval 5 --rate-seconds 5"

echo "=== bench: recvData"
${recv_cmd} --markdown "${work}/recv.md"
echo "=== bench: logger, ramps, mapping"
${parts_cmd} --markdown "${work}/parts.md"
echo "=== bench: end to end (about two minutes)"
${e2e_cmd} --markdown "${work}/e2e.md" | tee "${work}/e2e.out"
echo "=== bench: a render node's mirror over OSC (about 20 s)"
${mirror_cmd} --markdown "${work}/mirror.md"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "${build}/CMakeCache.txt")
compiler_version=$("${compiler}" --version | head -n 1)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD -- src 2>/dev/null || commit="${commit} (src with local changes)"
table_head='| Benchmark | CPU time per call (median) | Wall time per call (median) | CPU time spread (cv) |
|---|---|---|---|'

{
  cat <<DOC
# Performance

Measured figures of the wand plug-in. \`bench/run.sh\` builds the benchmarks,
runs them all and writes this page; the figures below are the last run's.

| | |
|---|---|
| Date | $(date -u '+%Y-%m-%d %H:%M UTC') |
| Machine | ${cpu}, $(nproc) cores, $(uname -srm) |
| Compiler | ${compiler_version}, bench preset (RelWithDebInfo: -O2 -g) |
| Source | commit ${commit} |
| Load average (1, 5, 15 min) | before ${load_before}; after ${load_after} |

What the figures are measured against: at 9600 baud a byte takes 1.04 ms on
the wire and the shortest key record (4 bytes) 4.2 ms, so the line carries at
most 240 records a second. The plug-in's own work per record should stay at a
few microseconds of CPU at most, with no heap allocation per call (checked by
\`plugin_wand_allocation_tests\`), and a silent line should cost no CPU: the
device waits in the read, it does not poll.

## The plug-in's own work per recvData call

One call reads one whole record from an in-memory line that stands in for the
system's serial line (\`tests/doubles/MemoryLine.cpp\`), so the figure is the
plug-in's work alone: read byte by byte, decode, ramp the valuators, map,
compare with the last record and, when it changed, publish under the
storage's mutex. Medians of 5 repetitions.

\`\`\`
${recv_cmd}
\`\`\`

${table_head}
$(cat "${work}/recv.md")

- *DecodeAndPublish*: two different key records alternate, so every call
  publishes the controller record and sets its change-mask bit.
- *UnchangedRecord*: the same record every call: decoded, compared, nothing
  published.
- *WithTrackerEmulation*: valuator 1 swings between +1 and -1 and drives an
  emulated tracker: the controller record is published on every call, the
  tracker record whenever the clock moved on.

## Logging, valuator ramps and controller mapping

\`\`\`
${parts_cmd}
\`\`\`

${table_head}
$(cat "${work}/parts.md")

- *DebugSuppressed*: the DEBUG trace every recvData call makes, with debug
  output off (a host logger's default): only its tests run.
- *DebugFormatSuppressed*: \`debugFormat\` formats its text before it tests
  the levels, so even suppressed it costs a formatting.
- *InfoLineToDevNull*: one INFO line with date, time and thread id in its
  prefix, written to /dev/null and flushed (one write per line).
- *ValuatorRamp*: both valuators, one step each.
- *ControllerMapping*: 2 valuators through their scale polynomials and order,
  11 buttons through their order, the record number.

## End to end over a pseudo-terminal

\`quorlix-host\` runs the plug-in on a pseudo-terminal (one device thread,
storages in POSIX shared memory); the benchmark writes key records on the
line's other end, noting the monotonic time as each record's write begins
(all 4 bytes in one write), and then polls the shared memory as any reader
does, one copy of controller entry 1 (read-only, under its sequence counter)
after another, noting when the record's
state becomes visible. Records cycle through seven button states, so each
change is matched to the record that caused it.

In the same run, interleaved record by record with the host's (each round in
an order of its own, at times off the beat), the same records go to a second
pseudo-terminal read by the **floor**: a process of its own that opens the
line with the driver's line settings (raw, 9600 8N1, non-blocking), waits in
\`poll()\` and reads one byte at a time, and publishes each record's state under
a sequence counter in shared memory, as the host does, observed the same way. The floor is
what the kernel's pseudo-terminal costs any reader; the host's distance from
it is the host's own.

The host runs with \`--vrpn 127.0.0.1:0\`, and on the host's line a third path,
**vrpn**, follows the same records to a VRPN application: a client of the
benchmark's connected over TCP on loopback (\`TCP_NODELAY\`), on a thread of its
own that keeps the wand's buttons from the server's button messages where the
probe looks, right after the host's storage. Its distance from the host's figure
(*vrpn p50 − host p50*) is the VRPN server's: the device thread queues the change,
the server's thread wakes and sends, and the client has the bytes. Idle, the
client looks at its socket without a pause, as an application's main loop on a
core of its own does, so the figure is the server's and the socket's; a client
that sleeps in \`poll()\` adds its own wake-up, some 70 µs on this machine. Under
load no core is the client's own: it sleeps in \`poll()\` until the bytes come
(with \`--realtime\` at the floor reader's priority), and the figure includes its
wake-up. Targets: a median at most 50 µs above the host's, a 99th percentile
of at most 1 ms.

\`\`\`
${e2e_cmd}
\`\`\`

\`\`\`
$(grep '^latency .*: ' "${work}/e2e.out")
\`\`\`

$(cat "${work}/e2e.md.latency")

- *idle*: nothing else running that the benchmark started. The probe polls
  back to back at normal priority (yielding the core between looks).
- *under load*: one busy thread per core (computing only, normal priority),
  started by the benchmark a second before the records and stopped after
  them (each thread ends by itself at the latest 30 s after the run should
  have ended). The probe polls as when idle and competes with them, for the
  host and the floor alike.
- *under load with --realtime*: the same load; the host runs with
  \`--realtime 10\` (its device thread \`SCHED_FIFO\` 10, its VRPN server's
  thread 9), the floor reader and the VRPN client at the same priority as the
  device thread, the probe at \`SCHED_FIFO\` 5 with a 20 µs pause between
  looks: a real-time probe polling back to back would keep the kernel's
  worker that passes a pseudo-terminal's bytes on (it runs at normal
  priority) off its core. The pauses make this probe, if anything, slower to
  notice a change than the idle one.
- The load average is the system's at the end of each condition (1, 5 and 15
  minutes; the busy threads count 2 while they run).
- On a virtual machine the figures differ from run to run by tens of per cent,
  the 99th percentiles and the loaded conditions most. Under load at normal
  priority, whether a reader mostly waits out a busy thread's time slice
  (medians of 1.5 ms and more) changes from run to run, for the floor as for
  the host.

| Figure | Value | Target |
|---|---|---|
$(cat "${work}/e2e.md")

- VRPN client: the vrpn path of the latency table above, per condition,
  against its targets.
- System calls: the host runs under \`strace -f -qq -o FILE\` while
  2000 records arrive one every 5 ms; counted are the calls of the thread that
  reads the line, from the first byte it read to the last. A record costs a
  read that finds nothing waiting, a \`poll()\` that waits for it and four
  one-byte reads. (\`strace -c -f\` on the host gives the same calls summed
  over all its threads.)
- Records per second: 20000 records written back to back by \`quorlix-sim\`,
  measured from the first record's write to the last record being visible;
  "published" counts the rewrites the host saw for the entry. Far above what
  the line can carry.
- CPU and wake-ups: the host process (all its threads) while the simulator
  keeps the line open and sends nothing, from the scheduler's own per-thread
  accounting (\`schedstat\`, \`voluntary_ctxt_switches\`), with \`--no-view\`. The
  device thread wakes once per 100 ms read time-out, which the wand's protocol
  needs; the main thread once a second (a live view redraws ten times a second).

## A render node's mirror over OSC

The same records, with \`quorlix-host --osc\` publishing each change to
\`quorlix-host mirror\` on this machine (UDP over loopback, through liblo). One
probe copies controller entry 1 from the host's storage and from the mirror's in
turn, so both latencies come from the same records in the same run.

\`\`\`
${mirror_cmd}
\`\`\`

| Figure | Value | Target |
|---|---|---|
$(cat "${work}/mirror.md")

- The mirror's latency adds the device thread handing the record to the sender
  thread, the bundle built and sent, the mirror woken by the datagram and its
  write into its view. The device thread never waits for any of it:
  the host's own figure is the one above.
- Datagrams: the line at its full 9600 baud (240 records a second), every record
  changing the controller and moving its emulated tracker, counted by a plain
  UDP socket given as a second \`--osc\` receiver; it includes the keyframes.

## Reproducing

\`\`\`
bench/run.sh                       # everything, rewrites this page
cmake --preset bench && cmake --build --preset bench --target quorlix_bench_recv
build/bench/bench/quorlix_bench_recv --benchmark_filter=Unchanged
\`\`\`

The machine should otherwise be quiet: the benchmark makes its own load where
it measures one. \`quorlix_bench_e2e --help\` lists its options (fewer records,
some conditions only).
DOC
} >"${out}"
echo "=== bench: wrote ${out}"
