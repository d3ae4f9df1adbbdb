#!/usr/bin/python3
"""Plots latency against the number of records from one run of the shared bench.

    ../shared/peers/bench.sh --passes 2 | tee bench-output.txt
    bench/plot_latency.py bench-output.txt bench/latency.png

Reads the "key = value" lines the bench ends with (latency_ms_<program>_N<n>)
and draws one line per program on log-log axes: VEVUDE, gSOAP and the floors
(the bare exec, the exec with libcurl's load, the pure-conversion floors).
Needs Debian's python3-matplotlib.
"""
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

# key prefix -> label, style; in drawing order
SERIES = [
    ("latency_ms_vevude_N", "VEVUDE (CGI, whole request)", dict(color="#c0392b", marker="o", linewidth=2.5)),
    ("latency_ms_gsoap_N", "gSOAP 2.8 relay (CGI, whole request)", dict(color="#2c3e50", marker="s", linewidth=2)),
    ("latency_ms_hellocurl_N", "floor: exec + libcurl load", dict(color="#7f8c8d", linestyle="--")),
    ("latency_ms_hello_N", "floor: bare exec", dict(color="#95a5a6", linestyle=":")),
    ("pugifloor_ms_N", "floor: conversion only, pugixml trees", dict(color="#27ae60", linestyle="-.")),
    ("streamfloor_ms_N", "floor: conversion only, hand-written scanner", dict(color="#16a085", linestyle="-.")),
]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    values = {}
    with open(sys.argv[1]) as f:
        for line in f:
            m = re.match(r"^(\w+) = ([\d.]+)\s*$", line)
            if m:
                values[m.group(1)] = float(m.group(2))
    fig, ax = plt.subplots(figsize=(8, 5.2), dpi=110)
    for prefix, label, style in SERIES:
        points = sorted((int(k[len(prefix):]), v) for k, v in values.items()
                        if k.startswith(prefix) and k[len(prefix):].isdigit())
        points = [(max(n, 1), v) for n, v in points]  # N = 0 drawn at 1 on the log axis
        if points:
            ax.plot([n for n, _ in points], [v for _, v in points], label=label, **style)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("records in the answer (N; N = 0 drawn at 1)")
    ax.set_ylabel("milliseconds per request (median)")
    ax.set_title("One CGI request, relay answer of N records")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8, loc="upper left")
    fig.tight_layout()
    fig.savefig(sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
