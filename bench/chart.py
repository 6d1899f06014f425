"""The benchmark's picture: a horizontal bar chart of zpress's time ratios
against the engine ceiling and each peer, as a self-contained SVG file written
with the standard library alone (the benchmark needs nothing but Python)."""

from __future__ import annotations

import math
from dataclasses import dataclass
from html import escape
from pathlib import Path


@dataclass
class Bar:
    group: str  # measurement and input, e.g. "decompress gzip, text.gz"
    versus: str  # the other command, e.g. "pigz -p 1 -dc"
    ratio: float  # zpress's time / the other's time
    goal: float | None  # the row's limit, if it has one


# One colour per kind of yardstick, the same in every group.
COLOURS = [
    ("ceiling", "#4c72b0", "engine ceiling"),
    ("pigz", "#dd8452", "pigz -p 1"),
    ("gzip", "#55a868", "gzip"),
    ("compress", "#8172b3", "compress (ncompress)"),
    ("api", "#937860", "zpress's own API tool"),
]

LABEL_W, PLOT_W, RIGHT_W = 330, 520, 60
BAR_H, BAR_GAP, GROUP_GAP, TOP, BOTTOM = 13, 3, 12, 92, 48


def kind_of(versus: str) -> str:
    for key in ("ceiling", "pigz", "gzip", "compress"):
        if versus.startswith(key):
            return key
    return "api"


def colour(versus: str) -> str:
    key = kind_of(versus)
    return next(c for k, c, _ in COLOURS if k == key)


def write_chart(path: Path, bars: list[Bar], title: str, subtitle: str, ratio_name: str) -> None:
    groups: dict[str, list[Bar]] = {}
    for b in bars:
        groups.setdefault(b.group, []).append(b)
    top = max([b.ratio for b in bars] + [1.2])
    x_max = min(2.0, math.ceil(top * 4) / 4)

    def x(v: float) -> float:
        return LABEL_W + PLOT_W * min(v, x_max) / x_max

    height = TOP + BOTTOM + sum(len(g) * (BAR_H + BAR_GAP) + GROUP_GAP for g in groups.values())
    width = LABEL_W + PLOT_W + RIGHT_W
    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="11">',
        f'<rect width="{width}" height="{height}" fill="white"/>',
        f'<text x="10" y="20" font-size="15" font-weight="bold">{escape(title)}</text>',
        f'<text x="10" y="38" fill="#444">{escape(subtitle)}</text>',
        f'<text x="10" y="54" fill="#444">Bars: {escape(ratio_name)} of zpress divided by '
        'that of the command named; below 1 zpress is faster. Red ticks: goals.</text>',
    ]
    legend_x = 10.0
    for _, c, name in COLOURS:
        out.append(f'<rect x="{legend_x}" y="64" width="12" height="12" fill="{c}"/>')
        out.append(f'<text x="{legend_x + 16}" y="74">{escape(name)}</text>')
        legend_x += 30 + 6.2 * len(name)

    plot_bottom = height - BOTTOM + 4
    step = 0.25
    for i in range(int(x_max / step) + 1):
        v = i * step
        stroke = "#333" if v == 1.0 else "#ddd"
        dash = ' stroke-dasharray="4,3"' if v == 1.0 else ""
        out.append(f'<line x1="{x(v):.1f}" y1="{TOP - 6}" x2="{x(v):.1f}" y2="{plot_bottom}" '
                   f'stroke="{stroke}"{dash}/>')
        out.append(f'<text x="{x(v):.1f}" y="{plot_bottom + 14}" text-anchor="middle">{v:.2f}</text>')
    out.append(f'<text x="{LABEL_W + PLOT_W / 2}" y="{plot_bottom + 30}" text-anchor="middle">'
               f'{escape(ratio_name)} ratio, zpress / other</text>')

    y = float(TOP)
    for group, members in groups.items():
        out.append(f'<text x="10" y="{y + BAR_H - 2}" font-weight="bold">{escape(group)}</text>')
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
            y += BAR_H + BAR_GAP
        y += GROUP_GAP
    out.append("</svg>")
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("\n".join(out) + "\n")
