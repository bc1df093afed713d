"""Work that runs ahead on other cores while the caller consumes results in
order: the tiles' windows are segmented by a pool of threads (the routines
and most numpy work let go of the GIL), while the caller joins, numbers and
stores them one after the other in grid order, which is all the result
depends on. So the output is the same, byte for byte, whatever the number of
workers. The items are drawn from their iterable on the caller's thread:
reading a raster stays there, with its GDAL dataset and error handlers.

Every worker holds a window's working memory, so their number is bounded
(bound_workers): at most one a core, since more only queue windows in
memory, and no more windows than fit in the memory this process can still
take."""

import os
import resource
from collections import deque
from concurrent.futures import ThreadPoolExecutor
from contextlib import contextmanager
from typing import NamedTuple, Optional

MiB = 1 << 20


def window_bytes(pixels, nbands):
    """What one more worker costs while it segments a window of `pixels`
    pixels, as measured at the default tile (1152² and 1280² windows of three
    bands: 104 to 115 bytes a pixel, about 13 less with one band). glibc keeps
    what each thread's arena freed for that thread, which makes a worker's
    share larger than the window's arrays alone."""
    return pixels * (88 + 8 * nbands)


def default_workers():
    """One worker a core this process may run on."""
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()


class Room(NamedTuple):
    bytes: int
    limit: str  # what leaves no more, as a user would look it up


def _status_bytes(text, key):
    for line in text.splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1]) * 1024
    return None


def _read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


# Per cgroup version: where its memory controller is mounted, its limit,
# its usage, and the usage's page cache that the kernel takes back first.
CGROUP_FILES = {
    2: ("/sys/fs/cgroup", "memory.max", "memory.current", "inactive_file"),
    1: (
        "/sys/fs/cgroup/memory",
        "memory.limit_in_bytes",
        "memory.usage_in_bytes",
        "total_inactive_file",
    ),
}


def _cgroup_rooms():
    """Room under the memory limit of this process's cgroup and of every
    cgroup above it."""
    rooms = []
    for line in (_read("/proc/self/cgroup") or "").splitlines():
        _, controllers, path = line.split(":", 2)
        version = 2 if controllers == "" else 1 if "memory" in controllers.split(",") else None
        if version is None:
            continue
        root, limit, usage, cache = CGROUP_FILES[version]
        parts = [part for part in path.split("/") if part]
        for depth in range(len(parts), -1, -1):
            folder = os.path.join(root, *parts[:depth])
            most, used = _read(os.path.join(folder, limit)), _read(os.path.join(folder, usage))
            if most and used and most.strip().isdigit() and int(most) < 1 << 60:
                stat = dict(
                    entry.split()
                    for entry in (_read(os.path.join(folder, "memory.stat")) or "").splitlines()
                )
                rooms.append(
                    Room(
                        int(most) - int(used) + int(stat.get(cache, 0)),
                        f"the cgroup limit ({folder})",
                    )
                )
    return rooms


def available_memory():
    """The least room this process has left (a Room), or None when nothing says:
    the kernel's MemAvailable, cgroup limits, and the address space under
    `ulimit -v`. Counting windows at their resident cost holds under ulimit -v
    too: the arenas that glibc reserves for further threads are address space,
    but it does without them when there is none left (measured at 2048²: two
    workers ran within 329 MiB of address space, failed within 250)."""
    rooms = list(_cgroup_rooms())
    free = _status_bytes(_read("/proc/meminfo") or "", "MemAvailable")
    if free is not None:
        rooms.append(Room(free, "the free memory (MemAvailable)"))
    soft, _ = resource.getrlimit(resource.RLIMIT_AS)
    size = _status_bytes(_read("/proc/self/status") or "", "VmSize")
    if soft != resource.RLIM_INFINITY and size is not None:
        rooms.append(Room(soft - size, "the address-space limit (ulimit -v)"))
    return min(rooms, default=None)


class FewerWorkers(UserWarning):
    """More workers were asked for than run: `reason` says why."""

    def __init__(self, asked, workers, reason):
        super().__init__(f"workers={asked}: {reason}")
        self.asked, self.workers, self.reason = asked, workers, reason


def bound_workers(asked, window, room: Optional[Room] = None):
    """(workers, FewerWorkers or None): asked (None: one a core), at most one a
    core, and no more than the windows of `window` bytes that fit in the room
    (default: available_memory()); always at least one, which is the least a
    run needs."""
    cores = default_workers()
    room = available_memory() if room is None else room
    n = min(asked or cores, cores)
    if room is not None and n > 1:  # then n threads of the pool each hold a window
        n = max(1, min(n, room.bytes // window))
    if asked is None or n == asked:
        return n, None
    if n == min(asked, cores):
        return n, FewerWorkers(
            asked, n, f"{n} run, one a core; more would only hold windows " "in memory"
        )
    return n, FewerWorkers(
        asked,
        n,
        f"{n} run: a window takes about {window // MiB} MiB "
        f"and {max(room.bytes, 0) // MiB} MiB are left under {room.limit}",
    )


class OutOfMemory(MemoryError):
    """Memory ran out while `workers` windows were in memory at once."""

    def __init__(self, detail, workers):
        super().__init__(detail)
        self.workers = workers


@contextmanager
def workers_named(workers):
    """A MemoryError inside becomes OutOfMemory naming the workers, when more
    than one held a window: fewer workers are then the first remedy."""
    try:
        yield
    except MemoryError as e:
        if workers <= 1:
            raise
        raise OutOfMemory(str(e), workers) from e


def ordered_map(func, items, workers):
    """(item, func(item)) for each item, yielded in the items' order. With more than
    one worker, at most `workers` calls run ahead of the item the caller holds
    (and items are drawn only as calls start), so memory stays bounded by a
    few items whatever their number."""
    if workers <= 1:
        yield from ((item, func(item)) for item in items)
        return
    with ThreadPoolExecutor(workers, thread_name_prefix="kavu") as pool:
        ahead = deque()
        try:
            for item in items:
                ahead.append((item, pool.submit(func, item)))
                if len(ahead) >= workers:
                    yield _done(ahead.popleft())
            while ahead:
                yield _done(ahead.popleft())
        finally:  # the consumer stopped or failed: start no more
            for _, future in ahead:
                future.cancel()


def _done(pending):
    item, future = pending
    return item, future.result()
