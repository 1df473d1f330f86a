#!/usr/bin/python3
"""The validation study's figure, from the files run_study.py wrote: on the
left every estimate against its true proportion, on the right the coverage of
the nominal 95 % intervals per scenario and bootstrap scheme.

  plot_study.py STUDY_FOLDER FIGURE.png

Needs matplotlib (Debian's python3-matplotlib, hence /usr/bin/python3).
"""
import csv
import io
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from PIL import Image  # noqa: E402  (matplotlib's own dependency)

COLOURS = {"copies": "#c0392b", "loci": "#1f5fa8"}
LOCI_COLOURS = {5: "#e69f00", 30: "#1f5fa8"}


def read(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def estimates_against_truth(axis, rows):
    for loci, offset in ((5, -0.012), (30, 0.012)):
        chosen = [row for row in rows if int(row["loci"]) == loci]
        # A small fixed shift per data set spreads the points of one true value.
        x = [float(row["truth"]) + offset + 0.01 * ((int(row["dataset"]) % 11) - 5) / 5 for row in chosen]
        y = [float(row["estimate"]) for row in chosen]
        axis.scatter(x, y, s=3, alpha=0.25, color=LOCI_COLOURS[loci], linewidths=0, label="%d loci" % loci,
                     rasterized=True)
    axis.plot([0, 1], [0, 1], color="black", linewidth=0.8)
    axis.set_xlim(0.1, 0.8)
    axis.set_ylim(-0.3, 1.2)
    axis.set_xlabel("true proportion")
    axis.set_ylabel("estimate mY")
    axis.set_title("Estimates against truth (all scenarios)", fontsize=10)
    axis.legend(loc="upper left", markerscale=4, fontsize=8, frameon=False)


def scenario_label(s):
    return "P%s n%s t%g τ%g" % (s["parents"], s["copies"], float(s["t"]), float(s["tau"]))


def coverage_by_scheme(axis, summary):
    order = sorted(summary, key=lambda s: (int(s["loci"]), int(s["parents"]), int(s["copies"]), float(s["t"]),
                                           float(s["tau"])))
    x = range(len(order))
    for scheme in ("copies", "loci"):
        axis.plot(x, [100 * float(s[scheme + "_cover_sd"]) for s in order], "o", color=COLOURS[scheme],
                  markersize=5, label="%s: estimate ± 1.96 SD" % scheme)
        axis.plot(x, [100 * float(s[scheme + "_cover_q"]) for s in order], "_", color=COLOURS[scheme],
                  markersize=7, label="%s: 2.5–97.5 %% quantiles" % scheme)
    axis.axhline(95, color="black", linewidth=0.8)
    axis.axhline(88, color="black", linewidth=0.8, linestyle=":")
    split = sum(1 for s in order if int(s["loci"]) == 5) - 0.5
    axis.axvline(split, color="grey", linewidth=0.8)
    axis.text(split / 2, 42, "5 loci", ha="center", fontsize=10)
    axis.text((split + len(order)) / 2, 42, "30 loci", ha="center", fontsize=10)
    axis.set_xticks(list(x))
    axis.set_xticklabels([scenario_label(s) for s in order], rotation=90, fontsize=7)
    axis.set_xlim(-0.7, len(order) - 0.3)
    axis.set_ylim(40, 101)
    axis.set_ylabel("intervals holding the truth (%)")
    axis.set_title("Coverage of the nominal 95 % intervals by scheme (line: 95 %; dotted: 88 %)",
                   fontsize=10, pad=26)
    axis.legend(loc="lower center", bbox_to_anchor=(0.5, 1.0), fontsize=8, frameon=False, ncol=4)


def main():
    folder, figure = sys.argv[1], sys.argv[2]
    fig, (left, right) = plt.subplots(1, 2, figsize=(12, 5.2), gridspec_kw={"width_ratios": [1, 2.3]})
    estimates_against_truth(left, read(folder + "/datasets.csv"))
    coverage_by_scheme(right, read(folder + "/summary.csv"))
    fig.tight_layout()
    # Drawn, then reduced to a palette of 64 colours, so that the committed
    # picture stays a few tens of kilobytes.
    drawn = io.BytesIO()
    fig.savefig(drawn, dpi=100, format="png")
    drawn.seek(0)
    Image.open(drawn).convert("RGB").quantize(colors=64).save(figure, optimize=True)


if __name__ == "__main__":
    main()
