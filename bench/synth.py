"""Synthetic rasters for the benchmarks, made from fixed seeds.

A field is a sum of cubic B-spline surfaces over random control grids (two
scales) plus class patches with sharp edges and a little white noise. It is
generated block by block: any window aligned to BLOCK is the same whether the
whole image or only that window is made, so a raster larger than memory can be
written window by window and still equal the in-memory version."""

import numpy as np
import scipy.ndimage as ndi

BLOCK = 1024
# Control-point spacings of the two smooth octaves and of the class field.
SCALES = (96.0, 24.0)
CLASS_SCALE = 160.0
N_CLASSES = 6
NOISE = 0.02


def _bspline3(t):
    t = np.abs(t)
    return np.where(t < 1, 2 / 3 - t * t + t * t * t / 2,
                    np.where(t < 2, (2 - t) ** 3 / 6, 0.0))


def _weights(start, stop, scale):
    """Interpolation matrix from control points to pixels start..stop-1, and the
    first control index it uses: pixel x sits at control coordinate x/scale + 1."""
    u = np.arange(start, stop, dtype=np.float64) / scale + 1.0
    k0 = int(np.floor(u[0])) - 1
    k1 = int(np.floor(u[-1])) + 3
    k = np.arange(k0, k1)
    return _bspline3(u[:, None] - k[None, :]).astype(np.float32), k0, k1


def _control(seed, tag, n, scale, bands):
    """The control grid of one octave for an n x n image: small, made whole."""
    m = int(n / scale) + 5
    rng = np.random.default_rng([seed, tag, n])
    return rng.standard_normal((bands, m, m)).astype(np.float32)


def _surface(control, r0, r1, c0, c1, scale):
    wr, kr0, kr1 = _weights(r0, r1, scale)
    wc, kc0, kc1 = _weights(c0, c1, scale)
    sub = control[:, kr0:kr1, kc0:kc1]
    return np.einsum("ik,bkl,jl->bij", wr, sub, wc, optimize=True)


class Field:
    """A multi-band n x n synthetic image; window() makes any BLOCK-aligned part."""

    def __init__(self, n, bands, seed):
        self.n, self.bands, self.seed = n, bands, seed
        self.octaves = [_control(seed, i, n, s, bands) for i, s in enumerate(SCALES)]
        self.classes = _control(seed, 99, n, CLASS_SCALE, 1)
        rng = np.random.default_rng([seed, 100])
        self.class_means = rng.uniform(-1.5, 1.5, (bands, 2 * N_CLASSES + 1)).astype(np.float32)

    def block(self, br, bc):
        r0, c0 = br * BLOCK, bc * BLOCK
        r1, c1 = min(r0 + BLOCK, self.n), min(c0 + BLOCK, self.n)
        out = np.zeros((self.bands, r1 - r0, c1 - c0), np.float32)
        for weight, (control, scale) in zip((1.0, 0.35), zip(self.octaves, SCALES)):
            out += weight * _surface(control, r0, r1, c0, c1, scale)
        cls = np.clip(np.floor(_surface(self.classes, r0, r1, c0, c1, CLASS_SCALE)[0] * 2.5),
                      -N_CLASSES, N_CLASSES).astype(np.intp) + N_CLASSES
        out += self.class_means[:, cls]
        rng = np.random.default_rng([self.seed, 200, br, bc])
        out += NOISE * rng.standard_normal(out.shape, dtype=np.float32)
        return out

    def window(self, r0, r1, c0, c1):
        """Rows r0..r1-1 and columns c0..c1-1, r0 and c0 multiples of BLOCK."""
        assert r0 % BLOCK == 0 and c0 % BLOCK == 0
        out = np.empty((self.bands, r1 - r0, c1 - c0), np.float32)
        for r in range(r0, r1, BLOCK):
            for c in range(c0, c1, BLOCK):
                b = self.block(r // BLOCK, c // BLOCK)
                out[:, r - r0:r - r0 + b.shape[1], c - c0:c - c0 + b.shape[2]] = \
                    b[:, :min(BLOCK, r1 - r), :min(BLOCK, c1 - c)]
        return out

    def image(self):
        return self.window(0, self.n, 0, self.n)


def gradient_magnitude(image):
    """Sum over bands of the Sobel gradient magnitude, float32."""
    g = np.zeros(image.shape[1:], np.float32)
    for band in image:
        g += np.hypot(ndi.sobel(band, 0), ndi.sobel(band, 1))
    return g


def quantise(g, top=65535, floor_quantile=0.10, top_quantile=0.999):
    """Levels 0..top: the lowest tenth of the gradient becomes level-0 plateaus
    (the minima that marker-based peers start from), the top 0.1 % saturates."""
    lo, hi = np.quantile(g, [floor_quantile, top_quantile])
    q = np.clip((g - lo) * (top / max(hi - lo, 1e-12)), 0, top)
    return np.rint(q).astype(np.uint16 if top > 255 else np.uint8)


def level_classes(image_band, n_levels=8):
    """A multi-valued image of values 1..n_levels (no 0, so that peers that
    treat 0 as background label every pixel as we do): quantiles of one band."""
    edges = np.quantile(image_band, np.linspace(0, 1, n_levels + 1)[1:-1])
    return (np.digitize(image_band, edges) + 1).astype(np.uint32)


def cell_labels(n, n_labels, seed):
    """About n_labels wavy cells (a grid displaced by a smooth field), their
    ids shuffled so that label order is not raster order; uint32 from 1."""
    side = max(1, int(round(np.sqrt(n_labels))))
    cell = n / side
    disp = Field(n, 2, seed).image()
    disp = disp / np.abs(disp).max() * (0.4 * cell)
    rows = np.arange(n, dtype=np.float32)[:, None] + disp[0]
    cols = np.arange(n, dtype=np.float32)[None, :] + disp[1]
    r = np.clip((rows / cell).astype(np.int64), 0, side - 1)
    c = np.clip((cols / cell).astype(np.int64), 0, side - 1)
    perm = np.random.default_rng([seed, 300]).permutation(side * side).astype(np.uint32) + 1
    return perm[r * side + c]
