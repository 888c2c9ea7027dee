#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_shared_table_image into corpus/.

Run it again after changing the seeds below; the files are committed so that
the replay test and the fuzzer start from them.
"""
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
OUT = HERE / "corpus"


def le32(*values):
    return b"".join(struct.pack("<i", v) for v in values)


def header(key_kind, value_kind, n, tag=b"hash"):
    return tag + le32(key_kind, value_kind, n)


def block(data):
    return le32(1, len(data)) + data


def image(key_kind, value_kind, entries):
    """entries: (key, value) pairs of ints, bytes for items, or None for null."""
    data_offset = 16 + 8 * len(entries)
    slots, items = b"", b""
    for pair in entries:
        for kind, word in zip((key_kind, value_kind), pair):
            if kind == 3:
                slots += le32(word)
            elif word is None:
                slots += le32(0)
            else:
                item = word + b"\0" if kind == 10 else block(word)
                slots += le32(data_offset + len(items))
                items += item
    return header(key_kind, value_kind, len(entries)) + slots + items


SEEDS = {
    "empty_text_integer": header(10, 3, 0),
    "example_abc_5": header(10, 3, 1) + le32(24, 5) + b"abc\0",
    "integers": image(3, 3, [(1, 10), (12, 20), (2, 30), (-1, 0x7FFFFFFF)]),
    "integers_grow_during_load": image(3, 3, [(i, -i) for i in range(40)]),
    "text_text_nulls": image(10, 10, [(None, b"v"), (b"", None), (b"line", b"\x80\x81")]),
    "bytes_bytes": image(11, 11, [(b"ab", b""), (b"abc", b"a\0b"), (None, b"x" * 20)]),
    "integer_bytes_empty_block": image(3, 11, [(7, b"")]),
    "duplicate_key": header(10, 3, 3) + le32(40, 1, 44, 2, 40, 3) + b"key\0ab\0",
    "offset_into_header": header(10, 3, 1) + le32(1, 9),
    "block_word_not_one": header(11, 3, 1) + le32(24, 4) + le32(77, 3) + b"abc",
    # Refused ones, so that the fuzzer starts near each check.
    "bad_tag": header(3, 3, 0, tag=b"Hash"),
    "short": b"hash" + le32(3, 3),
    "key_kind_4": header(4, 3, 0),
    "negative_count": header(3, 3, -11),
    "slots_cut": header(3, 3, 2) + le32(1, 2, 3),
    "offset_past_end": header(10, 3, 1) + le32(24, 0),
    "text_unterminated": header(10, 3, 1) + le32(24, 0) + b"abc",
    "block_data_cut": header(11, 3, 1) + le32(24, 0) + le32(1, 4) + b"abc",
}


def main():
    OUT.mkdir(exist_ok=True)
    for name, data in SEEDS.items():
        (OUT / name).write_bytes(data)


if __name__ == "__main__":
    main()
