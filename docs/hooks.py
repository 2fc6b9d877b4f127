"""Build hooks: the benchmark results and charts are kept in bench/results, where bench.sh
writes them; the site takes them from there rather than from copies that would go stale."""
from pathlib import Path

from mkdocs.structure.files import File

RESULTS = Path(__file__).resolve().parents[1] / "bench" / "results"


def on_files(files, config):
    for name in ("results.md", "bulk.md", "speedups.png", "bulk.png", "bulk_paths.png"):
        files.append(File.generated(config, f"bench/{name}", abs_src_path=str(RESULTS / name)))
    return files
