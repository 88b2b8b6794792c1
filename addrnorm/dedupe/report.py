"""--report: Splink's dashboards, for those who would rather look than read,
in one HTML file that needs nothing but a browser (Splink's pages carry
their scripts)."""
import html

PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>addrnorm dupes: the model's pairs and clusters</title>
<style>body{{font-family:sans-serif;margin:1em}} iframe{{width:100%;height:90vh;border:1px solid #ccc}}</style>
</head><body>
<h1>addrnorm dupes</h1>
<p>{summary}</p>
<h2>The pairs, by the levels their fields fell into</h2>
<iframe title="comparison viewer" srcdoc="{comparisons}"></iframe>
<h2>The clusters, as graphs of their scored pairs</h2>
<iframe title="cluster studio" srcdoc="{clusters}"></iframe>
</body></html>
"""

# Clusters drawn in the studio: the largest ones, where mistakes show first.
CLUSTERS_SHOWN = 20


def write_report(linker, predictions, clustered, path, summary=""):
    comparisons = linker.visualisations.comparison_viewer_dashboard(
        predictions, path + ".part-comparisons", overwrite=True, return_html_as_string=True)
    clusters = linker.visualisations.cluster_studio_dashboard(
        predictions, clustered, path + ".part-clusters", sampling_method="by_cluster_size",
        sample_size=CLUSTERS_SHOWN, overwrite=True, return_html_as_string=True)
    import os

    for part in (path + ".part-comparisons", path + ".part-clusters"):
        if os.path.exists(part):
            os.unlink(part)
    with open(path, "w", encoding="utf-8") as out:
        out.write(PAGE.format(summary=html.escape(summary), comparisons=html.escape(comparisons, quote=True),
                              clusters=html.escape(clusters, quote=True)))
