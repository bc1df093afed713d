"""Shared helpers of the kavu package tests."""

import numpy as np


def same_partition(a, b):
    """Labels a and b split the pixels the same way, up to renaming."""
    a, b = np.asarray(a).ravel(), np.asarray(b).ravel()
    pairs = np.unique(np.stack([a, b]), axis=1)
    return (len(np.unique(pairs[0])) == pairs.shape[1] == len(np.unique(pairs[1])))
