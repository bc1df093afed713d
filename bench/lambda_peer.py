"""The peer of our merging: scikit-image's merge_hierarchical driven by the full
lambda-schedule cost t = |A||B| / (|A| + |B|) * |mean A - mean B|^2 / blen.

Merging A and B changes only the costs of the pairs that touch the merged
region, and merge_hierarchical re-weighs exactly those, so merging with no
threshold is the same cheapest-first schedule our iterative mode runs (ties
aside). The graph is built with numpy (not RAG's per-pixel Python filter) so
that the peer's time is its merging."""

import numpy as np

try:  # scikit-image 0.20 moved the graph out of skimage.future
    from skimage.graph import RAG, merge_hierarchical
except ImportError:
    from skimage.future.graph import RAG, merge_hierarchical


def _cost(na, sa, nb, sb, blen):
    d = sa / na - sb / nb
    return na * nb / (na + nb) * float(d @ d) / blen


def _merge_stats(graph, src, dst):
    a, b = graph.nodes[src], graph.nodes[dst]
    b["count"] += a["count"]
    b["sum"] = b["sum"] + a["sum"]


def _merged_weight(graph, src, dst, n):
    """Edge (dst, n) after src was merged into dst (dst already holds the
    merged statistics): boundary lengths add up."""
    blen = graph[n].get(src, {}).get("blen", 0) + graph[n].get(dst, {}).get("blen", 0)
    a, b = graph.nodes[dst], graph.nodes[n]
    return {"blen": blen, "weight": _cost(a["count"], a["sum"], b["count"], b["sum"], blen)}


def build_rag(labels, image):
    """Region adjacency graph of a (nrows, ncols) label image over a
    (nbands, nrows, ncols) image: counts, band sums, 4-neighbour boundary lengths."""
    flat = labels.ravel().astype(np.int64)
    values, inverse = np.unique(flat, return_inverse=True)
    counts = np.bincount(inverse).astype(np.float64)
    sums = np.stack([np.bincount(inverse, weights=b.ravel()) for b in image], axis=1)
    idx = inverse.reshape(labels.shape)
    a = np.concatenate([idx[:, :-1].ravel(), idx[:-1, :].ravel()])
    b = np.concatenate([idx[:, 1:].ravel(), idx[1:, :].ravel()])
    keep = a != b
    lo, hi = np.minimum(a[keep], b[keep]), np.maximum(a[keep], b[keep])
    keys, blens = np.unique(lo * len(values) + hi, return_counts=True)
    rag = RAG()
    for i in range(len(values)):
        rag.add_node(i, labels=[i], count=counts[i], sum=sums[i])
    for key, blen in zip(keys.tolist(), blens.tolist()):
        i, j = divmod(key, len(values))
        rag.add_edge(i, j, {"blen": blen,
                            "weight": _cost(counts[i], sums[i], counts[j], sums[j], blen)})
    return rag, idx


def merge_all(labels, image):
    """Merges every region into one, cheapest first; returns the final labels."""
    rag, idx = build_rag(labels, image)
    return merge_hierarchical(idx, rag, thresh=np.inf, rag_copy=False, in_place_merge=True,
                              merge_func=_merge_stats, weight_func=_merged_weight)
