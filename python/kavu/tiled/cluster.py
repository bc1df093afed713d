"""One scene's windows as tasks on a Dask cluster.

The windows of a scene depend on nothing but the pixels, the scale and the
run's options, so any worker can segment any of them (and measure the scale
of any tile before): each task reads its own pixels (from a path every
machine can open, or carried with the task when the source is an array in the
client's memory), segments its window and sends back its
WindowOutcome (outcome.py), a few lines and the owned labels. The client keeps
the tiles in grid order as it does with threads, so the output is the same,
byte for byte, wherever and on how many workers the windows ran.

A worker that is lost takes its running and finished windows with it; the
scheduler runs them again on another worker, since the client still holds
their futures. A task that keeps killing workers (Dask's allowed failures),
or a scheduler that is lost, ends the run with ClusterLost."""

import threading
import uuid
from collections import deque
from contextlib import contextmanager

from .lambdas import BandSpread
from .levels import Quantiser
from .outcome import window_outcome
from .window import WindowPixels, observe_scale, read_scale_block, read_window, segment_window


class ClusterLost(RuntimeError):
    """The cluster could not finish the run: its scheduler went away, or a
    window's task killed one worker after another."""


def segment_task(reader, tile, quantiser, run_options, connectivity):
    """What a worker runs for one tile: its window read (reader: WindowPixels
    already read, or a shared source, as SharedRaster), segmented, and its
    WindowOutcome."""
    pixels = reader if isinstance(reader, WindowPixels) else reader.read(read_window, tile)
    local = segment_window(pixels, quantiser, run_options)
    return window_outcome(tile, local, pixels, connectivity)


def scale_task(reader, tile):
    """The scale pass over one tile: (Quantiser, BandSpread) of its pixels."""
    pixels = reader if isinstance(reader, WindowPixels) else reader.read(read_scale_block, tile)
    quantiser, spread = Quantiser(), BandSpread()
    observe_scale(pixels, quantiser, spread)
    return quantiser, spread


class WindowTasks:
    """The tiles of a run as tasks of `client` (a distributed.Client).
    shared: a source every worker can open (it pickles; read(function, tile)
    gives function(source, tile) there), as kavu.raster.shared_source's
    SharedRaster; None: the client reads each tile's pixels from the run's
    source and sends them with its task."""

    def __init__(self, client, shared=None):
        self.client, self.shared = client, shared

    def ahead(self):
        """Tasks in flight: two for every thread of the cluster, so that no
        worker waits for the client while the client holds only a few
        tiles' results."""
        try:
            threads = sum(self.client.nthreads().values())
        except Exception as e:  # noqa: BLE001 - any failure to reach the scheduler
            raise lost(self.client) from e
        return max(2, 2 * threads)

    def scales(self, tiles, source):
        """(Quantiser, BandSpread) of every tile, in the tiles' order."""
        return self._in_order("scale", tiles, source, read_scale_block, scale_task)

    def outcomes(self, tiles, source, quantiser, run_options, connectivity):
        """The WindowOutcome of every tile, in the tiles' order."""
        return self._in_order(
            "window", tiles, source, read_window, segment_task, quantiser, run_options, connectivity
        )

    def _in_order(self, name, tiles, source, read, task, *args):
        run = uuid.uuid4().hex[:12]
        pending = deque()

        def submit(tile):
            reader = self.shared if self.shared is not None else read(source, tile)
            return self.client.submit(
                task, reader, tile, *args, key=f"kavu-{name}-{run}-{tile.index}", pure=False
            )

        try:
            ahead = self.ahead()
            for tile in tiles:
                pending.append(submit(tile))
                if len(pending) >= ahead:
                    yield self.result(pending.popleft())
            while pending:
                yield self.result(pending.popleft())
        finally:  # stopped or failed: the cluster drops what is left
            if pending:
                try:
                    self.client.cancel(list(pending))
                except Exception:  # noqa: BLE001 - the scheduler may be gone already
                    pass

    def result(self, future):
        from concurrent.futures import CancelledError

        from distributed import KilledWorker
        from distributed.comm import CommClosedError

        try:
            return future.result()
        except KilledWorker:
            raise ClusterLost(
                "a window's task lost its worker each time it ran (the scheduler's allowed "
                "failures); see the workers' logs (out of memory?)"
            ) from None
        except (CancelledError, CommClosedError, OSError) as e:
            if self.client.status == "running" and not isinstance(e, CancelledError):
                raise
            raise lost(self.client) from None


def lost(client):
    """ClusterLost naming the scheduler. How the loss shows (a task the client
    dropped, a connection reset, a timeout) depends on when it came, and tells
    the user nothing more."""
    address = getattr(getattr(client, "scheduler", None), "address", None) or "?"
    return ClusterLost(f"lost the Dask scheduler {address}; nothing was written")


_opened = threading.local()


def cached(key, open_source):
    """A source opened once per worker thread and key (a dataset is not to be
    read by two threads at once), the last one kept."""
    if getattr(_opened, "key", None) != key:
        _opened.key, _opened.source = None, None
        _opened.source = open_source()
        _opened.key = key
    return _opened.source


@contextmanager
def connected(client):
    """The client itself (or None), or a distributed.Client to the scheduler
    at the address given (closed on the way out); ClusterLost when it cannot
    be reached."""
    if not isinstance(client, str):
        yield client
        return
    from distributed import Client

    try:
        own = Client(client, timeout=30)
    except (OSError, ValueError) as e:
        raise ClusterLost(f"cannot reach the Dask scheduler {client}: {e}") from None
    try:
        yield own
    finally:
        own.close()
