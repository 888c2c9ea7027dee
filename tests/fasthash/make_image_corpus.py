#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_fast_table_image into corpus/fast_table_image/.

Run it again after changing the seeds below; the files are committed so that
the replay test and the fuzzer start from them.
"""
import pathlib
import struct

OUT = pathlib.Path(__file__).resolve().parent / "corpus" / "fast_table_image"

LOAD_FACTOR_075 = 0x3F400000


def le32(*values):
    return b"".join(struct.pack("<I", v & 0xFFFFFFFF) for v in values)


def le64(v):
    return struct.pack("<Q", v & 0xFFFFFFFFFFFFFFFF)


def text(t):
    """A text field; None is a null value (the word 1 and one zero byte)."""
    t = t or b""
    return le32(len(t) + 1) + t + b"\0"


def buffer(b):
    """A ByteBuffer field; None is a null value (the words 1 and 0)."""
    b = b or b""
    return le32(1, len(b)) + b


def image(key_kind, value_kind, entries, count=None, buckets=16, load_factor=LOAD_FACTOR_075, auto_shrink=1):
    """entries: a list of already encoded key field + value field byte strings."""
    body = b"".join(entries)
    n = len(entries) if count is None else count
    rest = le32(key_kind, value_kind, buckets, load_factor, auto_shrink) + bytes(16) + le32(n) + body
    return le32(len(rest) + 4) + rest


SEEDS = {
    "empty_text_int_44": image(10, 3, []),
    "example_abc_5_56": image(10, 3, [text(b"abc") + le32(5)]),
    "int32_keys_double_values": image(3, 6, [le32(k) + le64(k * 0x3FF0000000000001) for k in (5, 21, 37, -1)]),
    "int32_keys_grow_during_load": image(3, 2, [le32(k * 7919) + le32(k) for k in range(40)], load_factor=0x3F000000),
    "int64_keys_float_values": image(4, 5, [le64(k << 33 | k) + le32(0x3FC00000 + k) for k in (1, 2, -3)]),
    "int64_keys_datetime_values": image(4, 8, [le64(-k) + le64(0x40E5F90000000000 + k) for k in (1, 9)]),
    "text_keys_text_values_with_nulls": image(10, 10, [
        text(b"alpha") + text(b"one"),
        text(b"beta") + text(None),
        text(b"\xb0\xa1gamma") + text(b"\xfe"),
        text(b"delta") + text(None),
    ]),
    "text_keys_bool_values_buckets_64": image(10, 7, [text(b"x") + le32(1), text(b"yy") + le32(0)], buckets=64,
                                              load_factor=0x3F000000, auto_shrink=0),
    "bytes_keys_bytes_values_with_null": image(11, 11, [
        buffer(b"\0\x80z") + buffer(b"\x01\0"),
        buffer(b"k") + buffer(None),
        buffer(bytes(range(1, 40))) + buffer(b"\xff" * 3),
    ]),
    "bytes_keys_int64_values": image(11, 4, [buffer(b"a") + le64(-5), buffer(b"\0") + le64(1 << 40)]),
    "duplicate_text_key": image(10, 3, [text(b"dup") + le32(1), text(b"x") + le32(2), text(b"dup") + le32(3)]),
    "empty_keys_skipped": image(10, 3, [text(b"") + le32(1), text(b"a\0b") + le32(2), text(b"ok") + le32(3)]),
    "negative_count": image(11, 10, [], count=-1, buckets=32),
    "unknown_kind_codes": image(77, 1, [le32(5) + le32(50), le32(21) + le32(60)], buckets=1000),
    # Refused images: they show the reader's bounds to the fuzzer.
    "refused_handled_values": image(10, 99, [text(b"h") + le32(1)]),
    "refused_text_without_zero": image(10, 3, [le32(4) + b"abcd" + le32(5)]),
    "refused_buffer_past_end": image(11, 3, [le32(1, 9) + b"ab"]),
    "refused_more_entries_than_bytes": image(3, 3, [le32(1) + le32(2)], count=3),
    "refused_short_43": image(10, 3, [])[:43],
}


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    for old in OUT.iterdir():
        old.unlink()
    for name, data in SEEDS.items():
        (OUT / name).write_bytes(data)
    print(f"wrote {len(SEEDS)} seeds to {OUT}")


if __name__ == "__main__":
    main()
