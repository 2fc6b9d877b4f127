"""Packs a Windows module built elsewhere into a wheel with the project's own metadata.

    python pack_windows.py --root ROOT --module _vantor.pyd --tag cp313-cp313-win_amd64 --out DIR --work DIR

The metadata comes from the build backend (scikit-build-core's prepare_metadata_for_build_wheel),
the files from what the CMake install and `wheel.packages` would put in the wheel: the vantor
package, the module's stub, the module and the LICENSE. Archive times come from
SOURCE_DATE_EPOCH, so that the same inputs give the same wheel.
"""

import argparse
import base64
import hashlib
import os
import shutil
import sys
import time
import zipfile
from pathlib import Path


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", type=Path, required=True)
    parser.add_argument("--module", type=Path, required=True)
    parser.add_argument("--tag", required=True)
    parser.add_argument("--out", type=Path, required=True)
    parser.add_argument("--work", type=Path, required=True)
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    args.work.mkdir(parents=True)
    os.chdir(args.root)
    from scikit_build_core.build import prepare_metadata_for_build_wheel

    dist_info = args.work / prepare_metadata_for_build_wheel(str(args.work))
    metadata = (dist_info / "METADATA").read_bytes()
    fields = dict(
        line.split(": ", 1) for line in metadata.decode().splitlines() if ": " in line and not line.startswith(" ")
    )
    name, version = fields["Name"], fields["Version"]
    python_tag = args.tag.split("-")[0]

    files = {}
    package = args.root / "python" / "vantor"
    for path in sorted(package.rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts:
            files[f"vantor/{path.relative_to(package).as_posix()}"] = path.read_bytes()
    files["_vantor.pyi"] = (args.root / "python" / "_vantor.pyi").read_bytes()
    files[f"_vantor.{python_tag}-win_amd64.pyd"] = args.module.read_bytes()

    info = f"{name}-{version}.dist-info"
    files[f"{info}/METADATA"] = metadata
    files[f"{info}/WHEEL"] = (
        f"Wheel-Version: 1.0\nGenerator: vantor pack_windows\nRoot-Is-Purelib: false\nTag: {args.tag}\n\n"
    ).encode()
    for license_file in sorted(dist_info.rglob("*")):
        rel = license_file.relative_to(dist_info).as_posix()
        if license_file.is_file() and rel not in ("METADATA", "WHEEL", "RECORD"):
            files[f"{info}/{rel}"] = license_file.read_bytes()
    files.setdefault(f"{info}/licenses/LICENSE", (args.root / "LICENSE").read_bytes())
    record = [record_line(n, d) for n, d in files.items()] + [f"{info}/RECORD,,"]
    files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()

    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "0")), 315532800)  # zip starts at 1980
    stamp = time.gmtime(epoch)[:6]
    wheel = args.out / f"{name.replace('-', '_')}-{version}-{args.tag}.whl"
    with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as archive:
        for file_name, data in files.items():
            entry = zipfile.ZipInfo(file_name, stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            archive.writestr(entry, data)
    print(wheel)


if __name__ == "__main__":
    sys.exit(main())
