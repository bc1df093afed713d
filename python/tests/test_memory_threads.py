"""Threads give the results of sequential calls."""

import threading

import numpy as np
import pytest

import kavu
import host_controls


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
    assert host_controls.live_temporaries() == 0
