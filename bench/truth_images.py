"""Synthetic three-band images with a ground truth that the merge cost does
not describe, from fixed seeds, for the quality rows of `make bench`.

The cost model of the merging is flat regions plus white noise. Here regions
are painted over each other in many sizes (radius 7 to 450 px) and shapes
(wobbly blobs, thin curvilinear strips), and each region's inside is not
flat: a ramp in some direction, and for some a band-limited or a striped
texture. Over all of it a slow illumination field, a slight blur and white
noise. Bands have different spreads, as in satellite scenes. The truth is the
painted map, each painted shape's connected pieces a region of its own.

flat_voronoi() is the other kind of field: flat Voronoi cells plus noise, the
cost model itself."""

import numpy as np
import scipy.ndimage as ndi

BAND_SCALE = np.array([1.0, 2.5, 0.6], np.float32)  # bands of different spread
SMALLEST, LARGEST = 7.0, 450.0  # region radii, px
BLUR = 0.7  # Gaussian sigma of the optics, px
NOISE = 0.03  # white noise, of a band's spread of region means
ILLUMINATION = 0.15
SLIVER = 30  # truth pieces under this many pixels join a neighbour
COVER = 10  # painted area, in image areas  # relative amplitude of the slow multiplicative field


def _smooth_noise(rng, shape, sigma):
    field = ndi.gaussian_filter(rng.standard_normal(shape).astype(np.float32), sigma)
    return field / max(float(field.std()), 1e-12)


def _blobs(rng, n, radii):
    """Painted ids: wobbly blobs with the given radii, larger first
    (so that small ones stay visible on top of large ones)."""
    ids = np.zeros((n, n), np.int32)
    yy, xx = np.mgrid[0:n, 0:n].astype(np.float32)
    for k, r in enumerate(sorted(radii, reverse=True), 1):
        cy, cx = rng.uniform(-0.05 * n, 1.05 * n, 2)
        box = int(1.6 * r) + 2
        y0, y1 = max(0, int(cy) - box), min(n, int(cy) + box)
        x0, x1 = max(0, int(cx) - box), min(n, int(cx) + box)
        if y0 >= y1 or x0 >= x1:
            continue
        dy, dx = yy[y0:y1, x0:x1] - cy, xx[y0:y1, x0:x1] - cx
        angle = np.arctan2(dy, dx)
        aspect, tilt = rng.uniform(0.5, 1.0), rng.uniform(0, np.pi)
        u = dx * np.cos(tilt) + dy * np.sin(tilt)
        v = (-dx * np.sin(tilt) + dy * np.cos(tilt)) / aspect
        wobble = 1 + sum(
            rng.uniform(0, 0.25 / h) * np.cos(h * angle + rng.uniform(0, 2 * np.pi))
            for h in (2, 3, 5)
        )
        inside = np.hypot(u, v) <= r * wobble
        ids[y0:y1, x0:x1][inside] = k
    return ids


def _strips(rng, n, ids, count, first):
    """Thin curvilinear strips (3 to 6 px wide) painted on top."""
    yy, xx = np.mgrid[0:n, 0:n].astype(np.float32)
    for k in range(count):
        width = rng.uniform(3, 6)
        tilt = rng.uniform(0, np.pi)
        period, amp = rng.uniform(0.2, 0.6) * n, rng.uniform(0.02, 0.08) * n
        offset = rng.uniform(0.1, 0.9) * n
        u = xx * np.cos(tilt) + yy * np.sin(tilt)
        v = -xx * np.sin(tilt) + yy * np.cos(tilt)
        centre = offset - 0.5 * n + amp * np.sin(2 * np.pi * u / period + rng.uniform(0, 6))
        length = rng.uniform(0.3, 0.8) * n
        start = rng.uniform(-0.2, 1.0 - length / n) * n
        on = (np.abs(v - centre) <= width / 2) & (u >= start) & (u <= start + length)
        ids[on] = first + k
    return ids


def truth_labels(ids, smallest=1):
    """Every connected piece of a painted id its own region, from 1 (uint32);
    pieces under `smallest` pixels (slivers that later shapes left of an
    earlier one) go to the nearest other piece."""
    labels = np.zeros(ids.shape, np.uint32)
    top = 0
    for k in np.unique(ids):
        pieces, m = ndi.label(ids == k)
        labels[pieces > 0] = pieces[pieces > 0] + top
        top += m
    area = np.bincount(labels.ravel())
    if smallest > 1 and (area[1:] < smallest).any():
        sliver = area[labels] < smallest
        _, (iy, ix) = ndi.distance_transform_edt(sliver, return_indices=True)
        labels = labels[iy, ix]
        kept = np.flatnonzero(np.bincount(labels.ravel(), minlength=len(area)))
        renumber = np.zeros(len(area), np.uint32)
        renumber[kept] = np.arange(1, len(kept) + 1, dtype=np.uint32)
        labels = renumber[labels]
    return labels


def region_radii(rng, n):
    """Radii log-uniform from SMALLEST to LARGEST (capped to the image), with
    until their painted area is COVER times the image's."""
    radii, area = [], 0.0
    largest = min(LARGEST, 0.45 * n)
    while area < COVER * n * n:
        r = float(np.exp(rng.uniform(np.log(SMALLEST), np.log(largest))))
        radii.append(r)
        area += np.pi * r * r * 0.3  # small ones are many, large ones few
    return radii


def truth_image(n, seed):
    """(image float32 (3, n, n), truth uint32 (n, n)) for one seed."""
    rng = np.random.default_rng([seed, 2501])
    ids = _blobs(rng, n, region_radii(rng, n))
    strips = max(2, n // 256)
    ids = _strips(rng, n, ids, strips, int(ids.max()) + 1)
    truth = truth_labels(ids, SLIVER)
    regions = int(truth.max())
    means = rng.uniform(0, 1, (3, regions + 1)).astype(np.float32)
    image = means[:, truth]
    yy, xx = np.mgrid[0:n, 0:n].astype(np.float32) / n
    # A ramp inside every region: a linear slope across it, as shading does.
    slope = rng.uniform(-0.6, 0.6, (2, regions + 1)).astype(np.float32)
    ramp = slope[0, truth] * yy + slope[1, truth] * xx
    centre = ndi.mean(ramp, truth, np.arange(1, regions + 1))
    ramp -= np.concatenate([[0], centre]).astype(np.float32)[truth]
    image += ramp[None] * rng.uniform(0.5, 1.0, (3, 1, 1)).astype(np.float32)
    # Textures: a third of the regions band-limited noise, a sixth stripes.
    kind = rng.choice(3, regions + 1, p=[0.5, 1 / 3, 1 / 6])
    amp = rng.uniform(0.03, 0.08, regions + 1).astype(np.float32)
    texture = _smooth_noise(rng, (n, n), 1.5)
    period = rng.uniform(4, 10, regions + 1).astype(np.float32)
    phase = rng.uniform(0, np.pi, regions + 1).astype(np.float32)
    direction = (np.cos(phase)[truth] * xx + np.sin(phase)[truth] * yy) * n
    stripes = np.sin(2 * np.pi * direction / period[truth])
    inside = np.where(kind[truth] == 1, texture, np.where(kind[truth] == 2, stripes, 0))
    image += (amp[truth] * inside)[None]
    light = 1 + ILLUMINATION * _smooth_noise(rng, (n // 16, n // 16), 3)
    image *= ndi.zoom(light, 16, order=1)[None, :n, :n]
    image = ndi.gaussian_filter(image, (0, BLUR, BLUR))
    image += NOISE * rng.standard_normal(image.shape).astype(np.float32)
    image *= BAND_SCALE[:, None, None] * 1000
    return image.astype(np.float32), truth


def flat_voronoi(n, cells, seed):
    """(image float32 (3, n, n), truth uint32 (n, n)): `cells` flat Voronoi
    cells with random band means and white noise of a tenth of their spread."""
    rng = np.random.default_rng([seed, 2502])
    seeds = rng.uniform(0, n, (cells, 2))
    yy, xx = np.mgrid[0:n, 0:n]
    from scipy.spatial import cKDTree

    _, nearest = cKDTree(seeds).query(np.stack([yy.ravel(), xx.ravel()], axis=1))
    truth = truth_labels(nearest.reshape(n, n))
    means = rng.uniform(0, 1, (3, int(truth.max()) + 1)).astype(np.float32)
    image = means[:, truth] + 0.1 * rng.standard_normal((3, n, n)).astype(np.float32)
    return (image * 1000).astype(np.float32), truth
