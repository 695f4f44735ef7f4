#!/usr/bin/env python3
"""Turns the JSON of one scale_curves run into a CSV of every point and an SVG of the curves.

usage: scale_plot.py RUN.json OUT.csv OUT.svg

Each panel is one curve, log-log: the library's call and the raw ORB call of the same size (or
the baseline the benchmark reports beside it). The slope of each line (least squares on the
logarithms) is in its legend and in the CSV: 1 means the cost grows as the size does, 0 that it
does not grow. Python's standard library only.
"""
import csv
import json
import math
import sys

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}

# (panel title, x axis, y axis, scale of y, [(label, benchmark family, value)]): the value is
# "time" (the benchmark's time per iteration, in seconds) or the name of one of its counters.
PANELS = [
    ("GetDataPoint / PutDataPoint", "points the realm holds", "µs per call", 1e6, [
        ("get, library", "BM_GetDataPoint_Library", "time"),
        ("get, raw", "BM_GetDataPoint_RawOrb", "time"),
        ("put, library", "BM_PutDataPoint_Library", "time"),
        ("put, raw", "BM_PutDataPoint_RawOrb", "time")]),
    ("GetDataPointN of 1,000 points", "points the realm holds", "µs per call", 1e6, [
        ("library", "BM_GetDataPointN_Library", "time"),
        ("raw", "BM_GetDataPointN_RawOrb", "time")]),
    ("GetAllPointName / CreateDataPoints", "points", "ms per call", 1e3, [
        ("names, library", "BM_AllNames_Library", "time"),
        ("names, raw", "BM_AllNames_RawOrb", "time"),
        ("create, library", "BM_Create_Library", "time"),
        ("create, raw", "BM_Create_RawOrb", "time")]),
    ("tarnd --data: start-up and compaction", "points journaled", "ms", 1e3, [
        ("start-up (replay)", "BM_Journal", "time"),
        ("start-up, empty folder", "BM_Journal", "empty_start_s"),
        ("compaction pause", "BM_Journal", "compaction_s"),
        ("a 64 KB write", "BM_Journal", "blob_write_s")]),
    ("tarnd resident memory", "points journaled", "bytes per point", 1, [
        ("after replay", "BM_Journal", "rss_per_point")]),
    ("SendEventN / ReceiveEventN of 100 events", "events already queued", "µs per call", 1e6, [
        ("send, library", "BM_EventsSend_Library", "time"),
        ("send, raw", "BM_EventsSend_RawOrb", "time"),
        ("receive, library", "BM_EventsReceive_Library", "time"),
        ("receive, raw", "BM_EventsReceive_RawOrb", "time")]),
    ("Client processes: throughput", "client processes", "calls per second", 1, [
        ("library", "BM_Clients_Library", "calls_per_s"),
        ("raw", "BM_Clients_RawOrb", "calls_per_s")]),
    ("Client processes: latency", "client processes", "µs per call", 1, [
        ("99th percentile, library", "BM_Clients_Library", "p99_us"),
        ("99th percentile, raw", "BM_Clients_RawOrb", "p99_us"),
        ("median, library", "BM_Clients_Library", "p50_us"),
        ("tarnd CPU per call, library", "BM_Clients_Library", "server_us_per_call")]),
    ("Type build", "types of 10 elements", "ms per build", 1e3, [
        ("library", "BM_Types_Library", "time"),
        ("raw stream call", "BM_Types_RawOrb", "time")]),
]

COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd"]


def runs(path):
    """{family: {size: entry}} of the run's results (medians when it was repeated)."""
    with open(path) as f:
        data = json.load(f)
    found = {}
    for entry in data["benchmarks"]:
        if entry.get("error_occurred"):
            continue
        if entry.get("run_type") == "aggregate" and entry.get("aggregate_name") != "median":
            continue
        parts = entry["run_name"].split("/")
        family, size = parts[0], int(parts[1])
        slot = found.setdefault(family, {})
        if entry.get("run_type") == "aggregate" or size not in slot:
            slot[size] = entry
    return found


def value(entry, what):
    if what == "time":
        return entry["real_time"] * UNIT_SECONDS[entry["time_unit"]]
    return entry.get(what)


def slope(points):
    if len(points) < 2:
        return float("nan")
    xs = [math.log10(x) for x, _ in points]
    ys = [math.log10(y) for _, y in points]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def curves(found):
    """[(panel, [(label, [(x, y)], slope)])] with y in the panel's unit."""
    out = []
    for panel in PANELS:
        lines = []
        for label, family, what in panel[4]:
            points = sorted((size, value(e, what) * panel[3]) for size, e in found.get(family, {}).items()
                            if value(e, what) is not None and value(e, what) > 0)
            if points:
                lines.append((label, points, slope(points)))
        out.append((panel, lines))
    return out


def decades(low, high):
    lo, hi = math.floor(math.log10(low)), math.ceil(math.log10(high))
    return lo, max(hi, lo + 1)


def label_of(exponent):
    n = 10.0 ** exponent
    for limit, suffix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if n >= limit:
            return "%g%s" % (n / limit, suffix)
    return "%g" % n


def svg(plotted, title):
    columns, width, height = 3, 400, 300
    rows = (len(plotted) + columns - 1) // columns
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="11">'
           % (columns * width, rows * height + 30),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="10" y="20" font-size="14">%s</text>' % title]
    for index, (panel, lines) in enumerate(plotted):
        ox, oy = (index % columns) * width, 30 + (index // columns) * height
        left, top, w, h = ox + 60, oy + 25, width - 80, height - 140
        out.append('<text x="%d" y="%d" font-weight="bold">%s</text>' % (ox + 10, oy + 15, panel[0]))
        if not lines:
            continue
        xs = [x for _, pts, _ in lines for x, _ in pts]
        ys = [y for _, pts, _ in lines for _, y in pts]
        x0, x1 = decades(min(xs), max(xs))
        y0, y1 = decades(min(ys), max(ys))
        px = lambda x: left + (math.log10(x) - x0) / (x1 - x0) * w
        py = lambda y: top + h - (math.log10(y) - y0) / (y1 - y0) * h
        out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#888"/>' % (left, top, w, h))
        for e in range(x0, x1 + 1):
            x = px(10.0 ** e)
            out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>' % (x, top, x, top + h))
            out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (x, top + h + 14, label_of(e)))
        for e in range(y0, y1 + 1):
            y = py(10.0 ** e)
            out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#ddd"/>' % (left, y, left + w, y))
            out.append('<text x="%d" y="%.1f" text-anchor="end">%s</text>' % (left - 4, y + 4, label_of(e)))
        out.append('<text x="%d" y="%d" text-anchor="middle">%s</text>' % (left + w / 2, top + h + 28, panel[1]))
        out.append('<text x="%d" y="%d" text-anchor="middle" transform="rotate(-90 %d %d)">%s</text>'
                   % (ox + 14, top + h / 2, ox + 14, top + h / 2, panel[2]))
        for n, (label, pts, s) in enumerate(lines):
            colour = COLOURS[n % len(COLOURS)]
            dash = ' stroke-dasharray="5,3"' if "raw" in label or "empty" in label else ""
            path = " ".join("%s%.1f,%.1f" % ("M" if i == 0 else "L", px(x), py(y)) for i, (x, y) in enumerate(pts))
            out.append('<path d="%s" fill="none" stroke="%s" stroke-width="2"%s/>' % (path, colour, dash))
            for x, y in pts:
                out.append('<circle cx="%.1f" cy="%.1f" r="2.5" fill="%s"/>' % (px(x), py(y), colour))
            ly = top + h + 44 + n * 14
            out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="2"%s/>'
                       % (left, ly - 4, left + 20, ly - 4, colour, dash))
            out.append('<text x="%d" y="%d">%s (slope %.2f)</text>' % (left + 26, ly, label, s))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    plotted = curves(runs(sys.argv[1]))
    with open(sys.argv[2], "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["curve", "line", "size", "value", "unit", "slope"])
        for panel, lines in plotted:
            for label, pts, s in lines:
                for x, y in pts:
                    writer.writerow([panel[0], label, x, "%.6g" % y, panel[2], "%.3f" % s])
    with open(sys.argv[3], "w") as f:
        f.write(svg(plotted, "How costs grow with the work (log-log; dashed: the raw call or baseline)"))
    for panel, lines in plotted:
        print("%s (%s)" % (panel[0], panel[2]))
        for label, pts, s in lines:
            print("  %-26s slope %5.2f   %s" % (label, s, "  ".join("%s: %.4g" % (x, y) for x, y in pts)))


if __name__ == "__main__":
    main()
