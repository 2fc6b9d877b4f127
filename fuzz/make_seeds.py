"""Writes the hand-picked seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The committed corpus is these seeds after `-merge=1` minimisation (scripts/fuzz.sh --merge);
rerun this only to add seeds. File names are content hashes, as libFuzzer names its own.
"""
import hashlib
import sys
import uuid
from pathlib import Path

CORPUS = Path(__file__).resolve().parent / "corpus"


def text_seeds():
    value = uuid.UUID("0123abcd-4567-89ef-fedc-ba9876543210")
    hyphenated = str(value)
    yield value.hex
    yield hyphenated
    yield "{" + hyphenated + "}"
    yield value.urn
    yield hyphenated.upper()
    yield "{" + hyphenated.upper() + "}"
    yield "urn:uuid:" + hyphenated.upper()
    yield "URN:UUID:" + hyphenated  # the prefix is case-sensitive
    yield "00000000-0000-0000-0000-000000000000"
    yield "ffffffff-ffff-ffff-ffff-ffffffffffff"
    yield hyphenated.replace("-", "")[:31] + "g"  # not a digit
    yield hyphenated[:8] + "+" + hyphenated[9:]  # hyphen replaced
    yield hyphenated[:7] + "-" + hyphenated[7] + hyphenated[9:]  # hyphen moved
    yield "(" + hyphenated + ")"
    yield "{" + hyphenated + "]"
    yield "urn:uuid" + hyphenated + "0"
    yield value.hex[:31]
    yield value.hex + "0"
    yield " " + hyphenated[:35]
    yield hyphenated[:35] + "\x00"
    yield ""


def value_seeds():
    def raw(n, version_pick=0, node=0):
        return n.to_bytes(16, "big") + bytes([version_pick]) + node.to_bytes(8, "big")

    yield raw(0)
    yield raw((1 << 128) - 1, 7, (1 << 64) - 1)
    yield raw(uuid.UUID("c232ab00-9414-11ec-b3c8-9f6bdeced846").int, 0, (1 << 48) - 1)  # v1
    yield raw(uuid.UUID("1ec9414c-232a-6b00-b3c8-9f6bdeced846").int, 5, 1 << 48)  # v6
    yield raw(uuid.UUID("017f22e2-79b0-7cc3-98c4-dc0c0c07398f").int, 6, 12345)  # v7
    yield raw(uuid.UUID("00000000-0000-1000-8000-000000000000").int, 1)  # v1 before 1970
    yield raw(uuid.UUID("ffffffff-ffff-1fff-bfff-ffffffffffff").int, 2)
    yield raw(uuid.UUID("ffffffff-ffff-6fff-7fff-ffffffffffff").int, 3)  # nibble 6, NCS variant
    yield raw(uuid.UUID("ffffffff-ffff-7fff-dfff-ffffffffffff").int, 4)  # nibble 7, Microsoft
    yield bytes(range(16))[:7]  # short input


def write(target, seeds):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    for seed in seeds:
        data = seed.encode("latin-1") if isinstance(seed, str) else seed
        (directory / hashlib.sha1(data).hexdigest()).write_bytes(data)


if __name__ == "__main__":
    write("text", text_seeds())
    write("uuid_value", value_seeds())
    sys.exit(0)
