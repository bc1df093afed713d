"""Many calls leave memory flat; threads give the results of sequential calls."""

import threading

import numpy as np
import pytest

import kavu
from kavu import _kavu
from conftest import available


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def mixed_calls(rng, n):
    """n calls of every routine in the build, every third one refused."""
    labels = rng.integers(0, 50, size=(40, 60)).astype(np.uint32)
    image = rng.random((3, 40, 60), dtype=np.float32)
    bound = available("KAVU_CREATE_BOUND_FROM_LABEL")
    for i in range(n):
        if i % 3 == 2:
            with pytest.raises(kavu.Error):
                kavu.compute_reg_info(labels, image[:, :20])
        elif i % 3 == 1 and bound:
            kavu.create_bound_from_label(labels)
        else:
            r = kavu.call("KAVU_COMPUTE_REG_INFO", labels, image, regarea=kavu.OUT,
                          regsum=kavu.OUT)
            assert r.value == labels.max()


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


def test_two_threads_give_the_results_of_sequential_calls():
    inputs = [region_statistics(seed) for seed in (1, 2)]
    expected = [kavu.compute_reg_info(*args) for args in inputs]
    results = [[], []]
    errors = []

    def work(k):
        try:
            for _ in range(30):
                results[k].append(kavu.compute_reg_info(*inputs[k]))
                with pytest.raises(kavu.Error):
                    kavu.compute_reg_info(inputs[k][0], inputs[k][1][:, :1])
        except BaseException as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for k in (0, 1):
        assert len(results[k]) == 30
        for r in results[k]:
            assert r.max_lbl == expected[k].max_lbl
            np.testing.assert_array_equal(r.regarea, expected[k].regarea)
            np.testing.assert_array_equal(r.regsum, expected[k].regsum)
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
