"""The charts of the README: vantor beside what a user would otherwise pick, lower is better.

Both benchmark scripts draw through `grouped_bars`, from the figures of the run that also
writes the README's tables, so that the chart and the table beside it always agree.
"""
from __future__ import annotations

import math

# One colour per kind of alternative, the same in every chart.
VANTOR, STDLIB, STDLIB_314, FASTUUID = "#1f5fa8", "#9aa5b1", "#d9a62e", "#6d9f58"
# vantor's instruction-set paths (VANTOR_ISA), widest darkest.
PATHS = {"avx512": "#0b2e59", "avx2": "#1f5fa8", "neon": "#1f5fa8", "sse2": "#5b8fd0", "portable": "#a9c4e8"}


def colour(series):
    if series.startswith("vantor"):
        for path, shade in PATHS.items():
            if f"({path}" in series:
                return shade
        return VANTOR
    if series.startswith("fastuuid"):
        return FASTUUID
    return STDLIB_314 if "3.14" in series else STDLIB


def fmt(ns):
    if ns >= 1000:
        return f"{ns / 1000:,.1f} µs"
    return f"{ns:.0f} ns" if ns >= 10 else f"{ns:.1f} ns"


def grouped_bars(path, title, series, rows, unit="time per UUID"):
    """Horizontal bars on a log scale, one group per row.

    `series`: the names of the bars of each group, in order (the first is vantor's).
    `rows`: (label, {series name: nanoseconds}) pairs; a series missing from a row (the
    library has no such operation) leaves no bar and no gap.
    """
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Patch
    from matplotlib.ticker import FuncFormatter

    # Every bar is as thick as in a full group; a group with fewer bars is centred on its label.
    step = 0.8 / len(series)
    positions, values, colours, ticks = [], [], [], []
    y = 0.0
    for label, figures in reversed(rows):
        present = [name for name in series if figures.get(name) is not None]
        top = y + step * (len(present) - 1) / 2
        for index, name in enumerate(present):
            positions.append(top - index * step)
            values.append(figures[name])
            colours.append(colour(name))
        ticks.append((y, label))
        y += 1.0
    fig, ax = plt.subplots(figsize=(10, 0.55 * len(rows) + 1.8))
    ax.barh(positions, values, height=step * 0.9, color=colours)
    for yi, value in zip(positions, values):
        ax.text(value * 1.06, yi, fmt(value), va="center", fontsize=7)
    ax.set_yticks([t for t, _ in ticks])
    ax.set_yticklabels([label for _, label in ticks], fontsize=9)
    ax.set_xscale("log")
    low, high = min(values), max(values)
    ax.set_xlim(10 ** math.floor(math.log10(low)), high * 4)
    ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: fmt(x)))
    ax.set_xlabel(f"{unit} (log scale; shorter is faster)")
    ax.set_title(title)
    ax.grid(axis="x", which="major", alpha=0.25)
    used = [name for name in series if any(f.get(name) is not None for _, f in rows)]
    inches = fig.get_size_inches()[1]
    fig.legend(handles=[Patch(color=colour(name), label=name) for name in used],
               loc="lower center", ncol=len(used), fontsize=8, frameon=False)
    # Room at the bottom for the legend, under the axis' label.
    fig.tight_layout(rect=(0, 0.35 / inches, 1, 1))
    fig.savefig(path, dpi=120)
    plt.close(fig)
