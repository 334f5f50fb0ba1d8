#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the catalogue of hostile and damaged archives into the folder given as argument.

Each archive has one defect and is named for it. The unpack tests create the catalogue at run
time in a temporary folder and check that every archive is handled as its name says.
"""
import io
import stat
import sys
import zipfile
from pathlib import Path


def plain(path, members):
    """An archive of (name, bytes) members, deflated, without encryption."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in members:
            archive.writestr(zipfile.ZipInfo(name), data, compress_type=zipfile.ZIP_DEFLATED)


def symlink(path):
    info = zipfile.ZipInfo("link.dat")
    info.create_system = 3  # Unix, so the mode in the external attributes counts
    info.external_attr = (stat.S_IFLNK | 0o777) << 16
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("ok.dat", b"ok")
        archive.writestr(info, b"../../outside.dat")


def ratio_bomb(path):
    # 64 MiB of zeros deflate to about 64 KiB: a ratio above 1000.
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        archive.writestr("bomb.dat", bytes(64 * 1024 * 1024))


def size_lie(path):
    # A member whose headers declare 1000 bytes while its deflate stream holds 200000.
    data = bytes(range(256)) * 782
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("lie.dat", data)
    raw = bytearray(buffer.getvalue())
    real = len(data).to_bytes(4, "little")
    fake = (1000).to_bytes(4, "little")
    # Uncompressed size: offset 22 in the local header, 24 in the central directory entry.
    local = raw.find(b"PK\x03\x04")
    central = raw.find(b"PK\x01\x02")
    assert raw[local + 22:local + 26] == real and raw[central + 24:central + 28] == real
    raw[local + 22:local + 26] = fake
    raw[central + 24:central + 28] = fake
    Path(path).write_bytes(bytes(raw))


def gbk_name(path):
    # A name in GBK bytes without the UTF-8 flag, as Windows archivers of the time wrote it.
    gbk = "工资数据.dat".encode("gbk")
    placeholder = b"X" * (len(gbk) - 4) + b".dat"
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(placeholder.decode("ascii"), "工资".encode("gbk"))
    Path(path).write_bytes(buffer.getvalue().replace(placeholder, gbk))


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    plain(out / "member-dotdot.zip", [("../x.dat", b"dotdot")])
    plain(out / "member-absolute.zip", [("/tmp/abs.dat", b"absolute")])
    plain(out / "member-nested-dotdot.zip", [("a/../../x.dat", b"nested")])
    plain(out / "member-backslash.zip", [("..\\..\\win\\x.dat", b"backslash")])
    plain(out / "member-folders.zip", [("year/", b""), ("year/2019/y.dat", b"deep")])
    plain(out / "member-name-dotdot.zip", [("ok.dat", b"ok"), ("a/..", b"x")])
    plain(out / "member-name-dot.zip", [("ok.dat", b"ok"), ("./.", b"x")])
    symlink(out / "member-symlink.zip")
    ratio_bomb(out / "bomb-ratio.zip")
    size_lie(out / "size-lie.zip")
    gbk_name(out / "name-gbk.zip")


if __name__ == "__main__":
    main()
