"""Many calls leave memory flat; threads give the results of sequential calls."""

import threading

import numpy as np
import pytest

import kavu
from kavu import _kavu


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def mixed_calls(rng, n):
    """n small calls through functions and kavu.call, every third one refused."""
    labels = rng.integers(0, 50, size=(40, 60)).astype(np.uint32)
    image = rng.random((3, 40, 60), dtype=np.float32)
    calls = [
        lambda: kavu.call("KAVU_COMPUTE_REG_INFO", labels, image, regarea=kavu.OUT, regsum=kavu.OUT),
        lambda: kavu.watershed((image[0] * 100).astype(np.uint16), image),
        lambda: kavu.tile_lambda_segment(image[:2, :5, :6], lambda_threshold=0.1),
        lambda: kavu.replace_integer_data(labels, [1, 2], [3, 4]),
    ]
    refused = [
        lambda: kavu.compute_reg_info(labels, image[:, :20]),
        lambda: kavu.call("KAVU_COMPUTE_REG_INFO", labels, "image"),
        lambda: kavu.call("KAVU_COMPUTE_REG_INFO", labels, image, nosuch=1),
    ]
    for i in range(n):
        if i % 3 == 2:
            with pytest.raises(kavu.Error):
                refused[i % len(refused)]()
        else:
            calls[i % len(calls)]()


def test_ten_thousand_calls_with_errors_leave_resident_memory_flat():
    rng = np.random.default_rng(7)
    mixed_calls(rng, 1000)  # warm up allocator pools and caches
    before = resident_bytes()
    mixed_calls(rng, 10_000)
    grown = resident_bytes() - before
    # 128 KiB over 10,000 calls: a leak of one small block per call shows.
    assert grown < 128 << 10, f"resident memory grew by {grown} bytes"
    assert _kavu.live_temporaries() == 0


def region_statistics(seed):
    rng = np.random.default_rng(seed)
    labels = rng.integers(0, 1000, size=(300, 400)).astype(np.uint32)
    image = rng.random((4, 300, 400), dtype=np.float32)
    return labels, image


def work_of(seed):
    """A thread's calls on arrays of its own; returns their results."""
    labels, image = region_statistics(seed)
    levels = (image[0] * 500).astype(np.uint16)

    def run():
        out = [kavu.compute_reg_info(labels, image)]
        with pytest.raises(kavu.Error):
            kavu.compute_reg_info(labels, image[:, :1])
        out.append(kavu.watershed(levels, image, long=True, merge_bd=True))
        out.append(kavu.iter_lambda_segment(image[:, :12, :15]))
        return out
    return run


def assert_same_results(a, b):
    assert len(a) == len(b)
    for x, y in zip(a, b):
        assert type(x) is type(y)
        for u, v in zip(x, y):
            np.testing.assert_array_equal(u, v)


def test_two_threads_give_the_results_of_sequential_calls():
    works = [work_of(seed) for seed in (1, 2)]
    expected = [work() for work in works]
    results = [[], []]
    errors = []

    def thread(k):
        try:
            for _ in range(10):
                results[k].append(works[k]())
        except BaseException as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=thread, args=(k,)) for k in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for k in (0, 1):
        assert len(results[k]) == 10
        for r in results[k]:
            assert_same_results(r, expected[k])
    assert _kavu.live_temporaries() == 0


def test_results_may_be_dropped_in_one_thread_while_another_calls():
    labels, image = region_statistics(3)
    held = [kavu.compute_reg_info(labels, image) for _ in range(50)]
    stop = threading.Event()

    def call_meanwhile():
        while not stop.is_set():
            kavu.compute_reg_info(labels, image)

    t = threading.Thread(target=call_meanwhile)
    t.start()
    try:
        while held:
            held.pop()  # each drop releases a host variable, now or after the running call
    finally:
        stop.set()
        t.join()
    kavu.compute_reg_info(labels[:2, :2], image[:, :2, :2])  # releases anything still waiting
    assert _kavu.live_temporaries() == 0
