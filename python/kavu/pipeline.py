"""Work that runs ahead on other cores while the caller consumes results in
order: the tiles' windows are segmented by a pool of threads (the routines
and most numpy work let go of the GIL), while the caller joins, numbers and
stores them one after the other in grid order, which is all the result
depends on. So the output is the same, byte for byte, whatever the number of
workers. The items are drawn from their iterable on the caller's thread:
reading a raster stays there, with its GDAL dataset and error handlers."""

import os
from collections import deque
from concurrent.futures import ThreadPoolExecutor


def default_workers():
    """One worker a core this process may run on."""
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()


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
        finally:                        # the consumer stopped or failed: start no more
            for _, future in ahead:
                future.cancel()


def _done(pending):
    item, future = pending
    return item, future.result()
