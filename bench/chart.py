"""The benchmark's picture: a horizontal bar chart of zpress's time ratios
against the engine floor and each other tool, with every command's speed and
compression ratio written beside its bar, as a self-contained SVG file written
with the standard library alone (the benchmark needs nothing but Python)."""

from __future__ import annotations

import math
from dataclasses import dataclass
from html import escape
from pathlib import Path


@dataclass
class Bar:
    group: str  # zpress's mode and the input, e.g. "zpress -d, text.gz"
    versus: str  # the other command, e.g. "pigz -p 1 -dc"
    ratio: float  # zpress's time / the other's time
    goal: float | None  # the row's limit, if it has one
    zpress_mbps: float | None = None  # uncompressed MB per second
    other_mbps: float | None = None
    zpress_cr: float | None = None  # compression ratio, input size / output size
    other_cr: float | None = None


# One colour per kind of yardstick, the same in every group: (key, colour, legend).
COLOURS = [
    ("floor", "#4c72b0", "zlib engine floor"),
    ("gzip", "#55a868", "gzip"),
    ("pigz", "#dd8452", "pigz -p 1"),
    ("compress", "#8172b3", "compress (ncompress)"),
    ("libdeflate", "#c44e52", "libdeflate-gzip"),
    ("igzip", "#da8bc3", "igzip (ISA-L)"),
    ("api", "#937860", "zpress's own library (gzread loop, .Z API)"),
]

LABEL_W, PLOT_W, RIGHT_W = 250, 430, 210
BAR_H, BAR_GAP, GROUP_GAP, HEAD_H, TOP, BOTTOM = 13, 3, 10, 16, 128, 48


def kind_of(versus: str) -> str:
    for prefix, key in (("engine floor", "floor"), ("gzip", "gzip"), ("pigz", "pigz"),
                        ("compress", "compress"), ("libdeflate", "libdeflate"),
                        ("igzip", "igzip")):
        if versus.startswith(prefix):
            return key
    return "api"


def colour(versus: str) -> str:
    key = kind_of(versus)
    return next(c for k, c, _ in COLOURS if k == key)


def speed(mbps: float | None, cr: float | None) -> str:
    """"31 MB/s, ratio 5.89": what a command achieves on its own."""
    parts = []
    if mbps is not None:
        parts.append(f"{mbps:.0f} MB/s")
    if cr is not None:
        parts.append(f"ratio {cr:.2f}")
    return ", ".join(parts)


def write_chart(path: Path, bars: list[Bar], title: str, subtitle: str, ratio_name: str) -> None:
    groups: dict[str, list[Bar]] = {}
    for b in bars:
        groups.setdefault(b.group, []).append(b)
    top = max([b.ratio for b in bars] + [1.2])
    x_max = min(3.0, math.ceil(top * 4) / 4)

    def x(v: float) -> float:
        return LABEL_W + PLOT_W * min(v, x_max) / x_max

    height = TOP + BOTTOM + sum(HEAD_H + len(g) * (BAR_H + BAR_GAP) + GROUP_GAP
                                for g in groups.values())
    width = LABEL_W + PLOT_W + RIGHT_W
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="11">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="10" y="20" font-size="15" font-weight="bold">{escape(title)}</text>',
        f'<text x="10" y="38" fill="#444">{escape(subtitle)}</text>',
        '<text x="10" y="54" fill="#444">Each group: one zpress command on one input, its speed '
        '(MB of uncompressed data per second) and, when it compresses, its compression ratio.</text>',
        f'<text x="10" y="70" fill="#444">Bars: {escape(ratio_name)} of zpress divided by that '
        'of the command named (below 1 zpress is faster); red ticks: goals.</text>',
        '<text x="10" y="86" fill="#444">On the right: the speed and compression ratio of the '
        'command named.</text>',
    ]
    legend_x, legend_y = 10.0, 96
    for _, c, name in COLOURS:
        step = 30 + 6.0 * len(name)
        if legend_x + step > width:
            legend_x, legend_y = 10.0, legend_y + 16
        out.append(f'<rect x="{legend_x}" y="{legend_y}" width="12" height="12" fill="{c}"/>')
        out.append(f'<text x="{legend_x + 16}" y="{legend_y + 10}">{escape(name)}</text>')
        legend_x += step

    plot_top, plot_bottom = TOP - 4, height - BOTTOM + 4
    step = 0.25 if x_max <= 2 else 0.5
    for i in range(int(x_max / step) + 1):
        v = i * step
        stroke = "#333" if v == 1.0 else "#ddd"
        dash = ' stroke-dasharray="4,3"' if v == 1.0 else ""
        out.append(f'<line x1="{x(v):.1f}" y1="{plot_top}" x2="{x(v):.1f}" y2="{plot_bottom}" '
                   f'stroke="{stroke}"{dash}/>')
        out.append(f'<text x="{x(v):.1f}" y="{plot_bottom + 14}" text-anchor="middle">{v:.2f}</text>')
    out.append(f'<text x="{LABEL_W + PLOT_W / 2}" y="{plot_bottom + 30}" text-anchor="middle">'
               f'{escape(ratio_name)} ratio, zpress / other</text>')

    y = float(TOP)
    for group, members in groups.items():
        own = speed(members[0].zpress_mbps, members[0].zpress_cr)
        out.append(f'<text x="10" y="{y + HEAD_H - 4}" font-weight="bold">{escape(group)}'
                   f'<tspan font-weight="normal" fill="#444">{": " + escape(own) if own else ""}'
                   '</tspan></text>')
        y += HEAD_H
        for b in members:
            w = x(b.ratio) - LABEL_W
            out.append(f'<text x="{LABEL_W - 6}" y="{y + BAR_H - 2}" text-anchor="end" '
                       f'fill="#444">vs {escape(b.versus)}</text>')
            out.append(f'<rect x="{LABEL_W}" y="{y}" width="{w:.1f}" height="{BAR_H}" '
                       f'fill="{colour(b.versus)}"><title>{escape(group)}: zpress / '
                       f'{escape(b.versus)} = {b.ratio:.3f}</title></rect>')
            clipped = "+" if b.ratio > x_max else ""
            text_x = x(b.ratio) + 4
            if b.goal is not None and 0 <= x(b.goal) - x(b.ratio) < 32:
                text_x = x(b.goal) + 4  # keep the figure clear of the goal's tick
            out.append(f'<text x="{text_x:.1f}" y="{y + BAR_H - 2}">{b.ratio:.2f}{clipped}</text>')
            if b.goal is not None:
                gx = x(b.goal)
                out.append(f'<line x1="{gx:.1f}" y1="{y - 2}" x2="{gx:.1f}" y2="{y + BAR_H + 2}" '
                           'stroke="#c00" stroke-width="2"/>')
            theirs = speed(b.other_mbps, b.other_cr)
            if theirs:
                out.append(f'<text x="{LABEL_W + PLOT_W + 60}" y="{y + BAR_H - 2}" '
                           f'fill="#444">{escape(theirs)}</text>')
            y += BAR_H + BAR_GAP
        y += GROUP_GAP
    out.append("</svg>")
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("\n".join(out) + "\n")
