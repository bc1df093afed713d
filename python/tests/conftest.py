"""Shared helpers of the kavu package tests."""

import numpy as np
import pytest

import kavu


def available(routine):
    """True once the routine's wrapper is in the build (others abort with
    "... is not available in this build")."""
    n_args = {r[0]: r[2] for r in kavu.routines()}[routine]
    try:
        kavu.call(routine, *[np.zeros((3, 3), np.uint32)] * n_args)
    except kavu.Error as e:
        return "not available" not in e.text
    return True


def needs(routine):
    return pytest.mark.skipif(not available(routine), reason=f"{routine} is not in this build")


def same_partition(a, b):
    """Labels a and b split the pixels the same way, up to renaming."""
    a, b = np.asarray(a).ravel(), np.asarray(b).ravel()
    pairs = np.unique(np.stack([a, b]), axis=1)
    return (len(np.unique(pairs[0])) == pairs.shape[1] == len(np.unique(pairs[1])))
