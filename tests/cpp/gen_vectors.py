#!/usr/bin/env python3
"""Turns the known-answer files tests/data/chacha.json and hashes.json into C++ tables.

usage: gen_vectors.py DATA_DIR OUTPUT.inc
"""
import json
import os
import sys


def c_string(text):
    return '"' + text + '"'


def main(data_dir, output):
    with open(os.path.join(data_dir, "chacha.json")) as f:
        chacha = json.load(f)
    with open(os.path.join(data_dir, "hashes.json")) as f:
        hashes = json.load(f)
    lines = [
        "// Generated from tests/data/*.json by tests/cpp/gen_vectors.py. Do not edit.",
        "#pragma once",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        "struct ChachaVector {",
        "  const char* name;",
        "  int rounds;",
        "  const char* key_hex;        // 32 bytes",
        "  const char* nonce_hex;      // 8 bytes: words 14-15, little-endian",
        "  uint64_t counter;           // block counter of the first block (words 12-13)",
        "  const char* keystream_hex;  // any number of bytes",
        "  const char* source;",
        "};",
        "",
        "struct HashVector {",
        "  const char* name;",
        "  const char* unit_hex;  // the input is this unit repeated `repeat` times",
        "  size_t repeat;",
        "  const char* md5_hex;",
        "  const char* sha1_hex;",
        "};",
        "",
        "inline constexpr ChachaVector kChachaVectors[] = {",
    ]
    for case in chacha:
        lines.append("    {%s, %d, %s, %s, %dULL, %s, %s}," % (
            c_string(case["name"]), case["rounds"], c_string(case["key"]),
            c_string(case["nonce"]), case["counter"], c_string(case["keystream"]),
            json.dumps(case.get("source", ""))))
    lines += ["};", "", "inline constexpr HashVector kHashVectors[] = {"]
    for case in hashes:
        given = case["input"]
        if "hex" in given:
            unit, repeat = given["hex"], 1
        elif "ascii" in given:
            unit, repeat = given["ascii"].encode("ascii").hex(), 1
        else:
            unit, repeat = given["repeat"].encode("ascii").hex(), given["count"]
        assert len(unit) // 2 * repeat == case["length"], case["name"]
        lines.append("    {%s, %s, %d, %s, %s}," % (
            c_string(case["name"]), c_string(unit), repeat, c_string(case["md5"]),
            c_string(case["sha1"])))
    lines += ["};", ""]
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
