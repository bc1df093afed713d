"""The table of results as text, Markdown and JSON, the aims checked against
it, and the scaling summary."""

import math

from measure import fit_exponent

COLUMNS = ("family", "routine", "data", "ours", "peer", "peer time", "peer/ours",
           "ours per unit", "peer per unit", "peak memory", "check")

# The aims the table is read against: family, peer prefix, test, text.
AIMS = (
    ("watershed", "skimage", lambda r: r["ratio"] >= 20, "≥ 20× skimage.segmentation.watershed"),
    ("watershed", "cv2", lambda r: r["ratio"] >= 1.5, "≥ 1.5× cv2.watershed"),
    ("labelling", "skimage", lambda r: r["ratio"] >= 2.5, "≥ 2.5× skimage.measure.label"),
    ("labelling", "cv2", lambda r: r["ratio"] >= 0.8, "binary ≥ 0.8× cv2.connectedComponents"),
    ("utilities", "skimage.util.map_array", lambda r: r["ratio"] >= 2, "≥ 2× map_array"),
    ("utilities", "numpy.unique", lambda r: r["ratio"] >= 2, "neighbour files ≥ 2× the numpy peer"),
    ("threads", "the same two calls", lambda r: r["ratio"] >= 1 / 0.6,
     "two threads in ≤ 0.6× the time of one after the other"),
    ("merging", "skimage", lambda r: r["ratio"] >= 50, "≥ 50× merge_hierarchical per region"),
)
UTILITY_NS_PER_PX_BAND = 2.0
# The main job whole (whole_runs.py), both cores on a quiet machine: data set,
# Mpixel/s and times slic.
MAIN_JOB_AIMS = (("photo mosaic", 5.0, 3.5), ("synthetic field", 2.0, 2.5))
# Aims on our own time per unit at one size, from the routines' own issues:
# family, routine, the count it applies to, limit, unit, text.
PER_UNIT_AIMS = (
    ("watershed", "watershed", 4096 * 4096, 40, "ns", "watershed ≤ 40 ns per pixel at 4096²"),
    ("watershed", "watershed", 1024 * 1024, 30, "ns", "watershed ≤ 30 ns per pixel at 1024²"),
    ("labelling", "multilevel_label_region", 4096 * 4096, 4, "ns",
     "labelling ≤ 4 ns per pixel at 4096²"),
    ("merging", "iter_lambda_segment", 1024 * 1024, 2, "µs",
     "merging ≤ 2 µs per initial region at 1024²"),
)


def _seconds(s):
    if s is None:
        return "n/a"
    return f"{s * 1e3:.1f} ms" if s < 10 else f"{s:.1f} s"


def _per_unit(s, row):
    if s is None:
        return ""
    if row["unit"] == "region":
        return f"{s * 1e6 / row['count']:.2f} µs/region"
    return f"{s * 1e9 / row['count']:.1f} ns/px"


def _memory(row):
    mem = row.get("mem_bytes")
    if mem is None:
        return ""
    unit = "region" if row["unit"] == "region" else "px"
    # Resident sizes move in steps of a few hundred KiB: below 1 MiB say so.
    text = f"{mem / row['count']:.1f} B/{unit}" if abs(mem) >= 2**20 else "< 1 MiB"
    if "rss_bytes" in row:  # a whole process: its peak too, interpreter included
        text += f" ({row['rss_bytes'] / 2**20:.0f} MiB peak)"
    return text


def complete(row):
    """Adds the derived figures: ratio (peer time / our time, per unit when the
    peer ran on other data) and per-unit values."""
    ours, peer = row.get("ours_s"), row.get("peer_s")
    if ours and peer:
        per_peer = peer / row.get("peer_count", row["count"])
        row["ratio"] = per_peer / (ours / row["count"])
    return row


def _before_after(row, text):
    """`text` of our figures, preceded by the baseline build's where it ran."""
    if not row.get("before_s"):
        return text(row)
    before = dict(row, ours_s=row["before_s"], mem_bytes=row.get("before_mem_bytes"))
    before.pop("rss_bytes", None)
    return f"{text(before)} → {text(row)}"


def cells(row):
    peer_row = dict(row, count=row.get("peer_count", row["count"]))
    ratio = row.get("ratio")
    ours = _before_after(row, lambda r: _seconds(r.get("ours_s")))
    if row.get("ratio") and row.get("before_s"):
        before_ratio = ratio * row["ours_s"] / row["before_s"]
        ratio_text = f"{before_ratio:.1f}× → {ratio:.1f}×"
    else:
        ratio_text = f"{ratio:.1f}×" if ratio else ""
    return (row["family"], row["routine"], row["data"],
            ours if "note" not in row else row["note"],
            row.get("peer", "—"), _seconds(row["peer_s"]) if "peer_s" in row else "",
            ratio_text, _before_after(row, lambda r: _per_unit(r.get("ours_s"), r)),
            _per_unit(row.get("peer_s"), peer_row), _before_after(row, _memory),
            row.get("check", ""))


def text_table(rows, columns=COLUMNS, cell=cells):
    body = [columns] + [cell(r) for r in rows]
    widths = [max(len(str(line[i])) for line in body) for i in range(len(columns))]
    out = []
    for k, line in enumerate(body):
        out.append("  ".join(str(v).ljust(w) for v, w in zip(line, widths)).rstrip())
        if k == 0:
            out.append("  ".join("-" * w for w in widths))
    return "\n".join(out)


def markdown_table(rows, columns=COLUMNS, cell=cells):
    out = ["| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for r in rows:
        out.append("| " + " | ".join(str(v).replace("|", "\\|") for v in cell(r)) + " |")
    return "\n".join(out)


def aims(rows, scaling):
    """One line per aim and row it applies to: met or missed, with the figure."""
    lines = []
    for family, peer, test, text in AIMS:
        for r in rows:
            if r["family"] == family and r.get("peer", "").startswith(peer) and "ratio" in r:
                verdict = "met" if test(r) else "MISSED"
                lines.append(f"{verdict}: {text}: {r['ratio']:.1f}× ({r['routine']}, {r['data']})")
    for r in rows:
        if r["family"] == "utilities" and r.get("ours_s") and "peer" in r:
            ns = r["ours_s"] * 1e9 / r["count"] / max(1, r["bands"])
            verdict = "met" if ns <= UTILITY_NS_PER_PX_BAND else "MISSED"
            line = (f"{verdict}: ≤ {UTILITY_NS_PER_PX_BAND:g} ns per pixel per band: {ns:.2f} "
                    f"({r['routine']}, {r['data']})")
            if line not in lines:
                lines.append(line)
    for r in rows:
        if r["family"] == "tiled road" and r.get("ratio"):
            verdict = "met" if r["ratio"] >= 1 / 1.3 else "MISSED"
            lines.append(f"{verdict}: tiled time within 1.3× of one piece: "
                         f"{1 / r['ratio']:.2f}× ({r['data']})")
        if r["family"] == "tiled road" and r.get("ours_s"):
            mpx = r["count"] / r["ours_s"] / 1e6
            verdict = "met" if mpx >= 5 else "MISSED"
            lines.append(f"{verdict}: tiled road ≥ 5 Mpixel/s: {mpx:.1f} ({r['data']})")
            verdict = "met" if r["rss_bytes"] < 1.5 * 2**30 else "MISSED"
            lines.append(f"{verdict}: tiled road peak < 1.5 GiB: "
                         f"{r['rss_bytes'] / 2**20:.0f} MiB ({r['data']})")
    for name, mpx_aim, ratio_aim in MAIN_JOB_AIMS:
        for r in rows:
            if r["family"] == "main job" and r["data"].startswith(name) and r.get("ratio"):
                mpx = r["count"] / r["ours_s"] / 1e6
                verdict = "met" if mpx >= mpx_aim and r["ratio"] >= ratio_aim else "MISSED"
                lines.append(f"{verdict}: main job ≥ {mpx_aim:g} Mpixel/s and ≥ {ratio_aim:g}× "
                             f"slic: {mpx:.2f} Mpixel/s, {r['ratio']:.1f}× ({r['data']})")
    for s in scaling:
        if "tiles" in s["name"] and "memory_exponent" in s:
            verdict = "met" if s["memory_exponent"] <= 0.2 else "MISSED"
            lines.append(f"{verdict}: tiled memory set by the tile, not the image: memory ∝ "
                         f"n^{s['memory_exponent']:.2f} ({s['name']})")
    for family, routine, size, limit, unit, text in PER_UNIT_AIMS:
        for r in rows:
            if (r["family"] == family and r["routine"] == routine and r.get("ours_s")
                    and r["count"] == size):
                per = r["ours_s"] / r["count"] * (1e6 if unit == "µs" else 1e9)
                verdict = "met" if per <= limit else "MISSED"
                new = [f"{verdict}: {text}: {per:.2f} {unit} ({r['data']})"]
                if family == "merging" and r.get("mem_bytes"):
                    per_mem = r["mem_bytes"] / r["count"]
                    verdict = "met" if per_mem <= 500 else "MISSED"
                    new.append(f"{verdict}: ≤ 500 B per initial region: {per_mem:.0f} "
                               f"({r['data']})")
                lines += [line for line in new if line not in lines]
    for s in scaling:
        if s.get("time_exponent") is None:
            continue
        limit = s["nlogn_exponent"]
        # Three timings on a shared machine wobble by a few per cent.
        verdict = "met" if s["time_exponent"] <= limit + 0.05 else "MISSED"
        lines.append(f"{verdict}: time growing no faster than n log n ({s['name']}): exponent "
                     f"{s['time_exponent']:.2f}, n log n gives {limit:.2f} over these sizes")
    return lines


def scaling_summary(name, points, unit, before=()):
    """points: (count of `unit`, seconds, peak bytes) at three or more sizes;
    `before` the same of the baseline build, where it ran."""
    points = sorted(p for p in points if p[1])
    s = {"name": name, "unit": unit, "points": [list(p) for p in points]}
    before = sorted(p for p in before if p[1])
    if len(before) >= 2:
        s["before_time_exponent"] = fit_exponent([p[0] for p in before], [p[1] for p in before])
    if len(points) >= 2:
        n = [p[0] for p in points]
        s["time_exponent"] = fit_exponent(n, [p[1] for p in points])
        if all(p[2] and p[2] > 0 for p in points):
            s["memory_exponent"] = fit_exponent(n, [p[2] for p in points])
        lo, hi = min(n), max(n)
        s["nlogn_exponent"] = 1 + math.log(math.log(hi) / math.log(lo)) / math.log(hi / lo)
    return s


def scaling_lines(s):
    unit = s["unit"]
    lines = [f"{s['name']}:"]
    for count, seconds, mem in s["points"]:
        mem_text = f", peak {mem / 2**20:.0f} MiB" if mem else ""
        lines.append(f"  {count:>10} {unit}: {_seconds(seconds)}{mem_text}")
    if "time_exponent" in s:
        text = f"  time ∝ n^{s['time_exponent']:.2f}"
        if "before_time_exponent" in s:
            text = f"  time ∝ n^{s['before_time_exponent']:.2f} → n^{s['time_exponent']:.2f}"
        if "memory_exponent" in s:
            text += f", memory ∝ n^{s['memory_exponent']:.2f}"
        lines.append(text + f" (n log n would be n^{s['nlogn_exponent']:.2f})")
    return lines
