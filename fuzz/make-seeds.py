#!/usr/bin/env python3
"""Writes the seed corpora of the decompression, index, settings, scratch,
HTTP and SFTP-packet fuzzers under fuzz/seeds/<fuzzer>/. The output is the
same on every run (fixed random seed; zstd files come from the zstd tool).
Run from anywhere: python3 fuzz/make-seeds.py"""

import bz2
import gzip
import lzma
import os
import random
import struct
import subprocess
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")
rng = random.Random(7)

WORDS = ("tweak theme icon dock clock weather battery status bar springboard keyboard "
         "camera music photo mail notes widget lock screen folder wallpaper sound").split()
SECTIONS = ["Tweaks", "Themes", "Utilities", "System", "Games", "Development", "Networking"]


def stanza(i, with_hashes=True):
    name = " ".join(rng.choice(WORDS).capitalize() for _ in range(rng.randint(1, 3)))
    ident = "com.example.%s%d" % (rng.choice(WORDS), i)
    version = "%d.%d-%d" % (rng.randint(0, 3), rng.randint(0, 20), rng.randint(1, 9))
    lines = [
        "Package: " + ident,
        "Name: " + name,
        "Version: " + version,
        "Architecture: " + rng.choice(["iphoneos-arm", "iphoneos-arm64"]),
        "Section: " + rng.choice(SECTIONS),
        "Maintainer: Example Developer <dev%d@example.org>" % rng.randint(1, 40),
        "Author: Example Author <author%d@example.org>" % rng.randint(1, 40),
        "Depends: mobilesubstrate (>= 0.9.5000), firmware (>= %d.0)" % rng.randint(7, 15),
        "Filename: debs/%s_%s_iphoneos-arm.deb" % (ident, version),
        "Size: %d" % rng.randint(2000, 9000000),
        "Description: " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))),
    ]
    if with_hashes:
        lines.append("MD5sum: %032x" % rng.getrandbits(128))
        lines.append("SHA256: %064x" % rng.getrandbits(256))
    return "\n".join(lines) + "\n\n"


def stanzas(size, with_hashes=True):
    out, i = [], 0
    while sum(map(len, out)) < size:
        out.append(stanza(i, with_hashes))
        i += 1
    return "".join(out).encode()


def write(fuzzer, name, data):
    folder = os.path.join(ROOT, fuzzer)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def zstd(data, *args):
    return subprocess.run(["zstd", "-q", "-c", *args], input=data, stdout=subprocess.PIPE,
                          check=True).stdout


def gzip_parts(data, name=None, extra=None, comment=None, header_crc=False):
    flags = (0x04 if extra is not None else 0) | (0x08 if name is not None else 0) | \
            (0x10 if comment is not None else 0) | (0x02 if header_crc else 0)
    head = b"\x1f\x8b\x08" + bytes([flags]) + struct.pack("<I", 1262304000) + b"\x00\x03"
    if extra is not None:
        head += struct.pack("<H", len(extra)) + extra
    if name is not None:
        head += name + b"\0"
    if comment is not None:
        head += comment + b"\0"
    if header_crc:
        head += struct.pack("<H", zlib.crc32(head) & 0xFFFF)
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = packer.compress(data) + packer.flush()
    return head + body + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def relabel(bzip2, digit):
    return bzip2[:3] + digit + bzip2[4:]


def main():
    small = stanzas(6000)
    medium = stanzas(20000)

    # Parallel against serial bzip2. Three leading bytes: mode (bit 0: the rest
    # is text to compress), cut point, flipped byte. Raw files of level 1
    # (blocks of 100 kB) hold two blocks or more.
    two_blocks = bz2.compress(stanzas(150000), 1)
    write("fuzz_bzip2_blocks", "two-blocks", b"\0\0\0" + two_blocks)
    write("fuzz_bzip2_blocks", "two-streams",
          b"\0\0\0" + bz2.compress(stanzas(110000), 1) + bz2.compress(small, 9) + b"trailing")
    write("fuzz_bzip2_blocks", "relabelled",
          b"\0\0\0" + relabel(bz2.compress(stanzas(210000), 2), b"1"))
    write("fuzz_bzip2_blocks", "cut", b"\0\0\0" + two_blocks[:-300])
    write("fuzz_bzip2_blocks", "text", b"\x1f\0\0" + small)
    write("fuzz_bzip2_blocks", "text-relabelled", b"\x21\0\0" + small)
    write("fuzz_bzip2_blocks", "text-cut-flipped", b"\x1f\xc0\x60" + small)

    # Whole gzip files.
    write("fuzz_gzip", "named.gz", gzip_parts(medium, name=b"Packages"))
    write("fuzz_gzip", "plain.gz", gzip.compress(small, mtime=0))
    write("fuzz_gzip", "all-fields.gz", gzip_parts(small, name=b"download.txt", extra=b"AB\x04\0xyzw",
                                                  comment=b"index", header_crc=True))
    write("fuzz_gzip", "two-members.gz", gzip.compress(small, mtime=0) + gzip.compress(b"x\n", mtime=0))
    write("fuzz_gzip", "empty.gz", gzip.compress(b"", mtime=0))
    write("fuzz_gzip", "stored.gz", gzip.compress(stanzas(800), 0, mtime=0))
    write("fuzz_gzip", "unsafe-name.gz", gzip_parts(small, name=b"../orvia.ini"))

    # gzip headers: the first byte picks where the header is split.
    write("fuzz_gzip_header", "named", b"\x80" + gzip_parts(small, name=b"Packages")[:80])
    write("fuzz_gzip_header", "all-fields",
          b"\x20" + gzip_parts(small, name=b"Packages", extra=b"\x01" * 300, comment=b"c",
                               header_crc=True)[:400])
    write("fuzz_gzip_header", "long-name", b"\xf0" + gzip_parts(b"", name=b"n" * 300)[:340])

    # xz: checks of each kind, concatenated streams with padding.
    write("fuzz_xz", "crc64.xz", lzma.compress(medium, check=lzma.CHECK_CRC64))
    write("fuzz_xz", "no-check.xz", lzma.compress(small, check=lzma.CHECK_NONE))
    write("fuzz_xz", "sha256.xz", lzma.compress(small, check=lzma.CHECK_SHA256, preset=0))
    write("fuzz_xz", "two-streams-padded.xz",
          lzma.compress(small, check=lzma.CHECK_CRC32) + b"\0" * 4 + lzma.compress(b"x\n"))
    write("fuzz_xz", "empty.xz", lzma.compress(b""))
    write("fuzz_xz", "delta.xz", lzma.compress(small, filters=[
        {"id": lzma.FILTER_DELTA, "dist": 4}, {"id": lzma.FILTER_LZMA2, "preset": 1}]))

    # zstd: with and without checksum and size, several frames, a skippable one.
    write("fuzz_zstd", "checksum.zst", zstd(medium, "-3", "--check"))
    write("fuzz_zstd", "no-checksum.zst", zstd(small, "-1", "--no-check"))
    write("fuzz_zstd", "two-frames.zst", zstd(small, "-1") + zstd(b"x\n", "-1"))
    write("fuzz_zstd", "skippable.zst",
          struct.pack("<II", 0x184D2A50, 6) + b"unused" + zstd(small, "-1"))
    write("fuzz_zstd", "runs.zst", zstd(b"\0" * 300000 + small[:2000], "-1", "--no-check"))
    write("fuzz_zstd", "no-size.zst", subprocess.run(
        "cat | zstd -q -c -19 --no-content-size", shell=True, input=small,
        stdout=subprocess.PIPE, check=True).stdout)

    # Answer heads as curl hands them over, behind the requested address and
    # a redirect target.
    heads = {
        "redirect": b"http://repo.example.org/Packages.gz\nhttps://mirror.example.org/Packages.gz\n"
                    b"HTTP/1.1 302 Found\r\nLocation: https://mirror.example.org/Packages.gz\r\n"
                    b"Content-Length: 0\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 123456\r\n"
                    b"Content-Type: application/x-gzip\r\n\r\n",
        "interim": b"repo.example.org:8080/./\nhttp://repo.example.org/\nHTTP/1.1 100 Continue\r\n"
                   b"\r\nHTTP/1.0 200 OK\r\ncontent-length: 5\r\n\r\n",
        "downgrade": b"https://repo.example.org/\nhttp://repo.example.org/Packages\n"
                     b"HTTP/1.1 301 Moved Permanently\r\nLOCATION: http://repo.example.org/P\r\n\r\n",
        "not-found": b"http://repo.example.org/Packages.bz2\nfile:///etc/passwd\n"
                     b"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 9\r\n\r\n",
        "no-length": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 12abc\r\n\n",
    }
    for name, data in heads.items():
        write("fuzz_http_head", name, data)

    # The saved package list: seven CRLF lines per row.
    rows = []
    for i in range(40):
        rows.append("%s\r\n%s\r\n$%d\r\n%d.%d\r\ncom.example.p%d\r\n%s\r\nrepo.example.org_._Packages\r\n"
                    % (rng.choice(SECTIONS), " ".join(rng.choice(WORDS) for _ in range(2)),
                       rng.randint(0, 3), rng.randint(0, 5), i, i,
                       " ".join(rng.choice(WORDS) for _ in range(6))))
    write("fuzz_cache", "cache.txt", "".join(rows).encode())
    write("fuzz_cache", "cyrillic.txt", "Темы\r\nТема\r\n$1\r\n2:1.4\r\ncom.example.t\r\nОписание\r\n"
          "repo.example.org_._Packages\r\n".encode())
    write("fuzz_cache", "damaged.txt", b"Tweaks\r\nA\r\n$0\r\n1.0\r\ncom.example.a\r\nd\r\ni\r\nB\r\n$x")

    # Indexes: the details scan looks for the first line's package.
    write("fuzz_details", "index", stanzas(4000))
    write("fuzz_details", "crlf", stanzas(1500).replace(b"\n", b"\r\n"))
    # The catalogue: the first byte picks the part that is also the reference copy.
    write("fuzz_index", "index", b"\x60" + stanzas(12000))
    write("fuzz_index", "updated", b"\x80" + small + small.replace(b"Version: 1", b"Version: 9"))
    write("fuzz_index", "no-hashes", b"\x00" + stanzas(4000, with_hashes=False))

    # Settings files as the program writes them and as people edit them.
    write("fuzz_ini", "orvia.ini",
          b"[Settings]\nRefresh=1\nGetCydia=1\nPutCydia=0\nPutDebs=1\nPutAutoInstall=0\n"
          b"Architecture=iphoneos-arm64\nActivePage=2\n\n[Disabled]\n0=http://repo.example.org/\n"
          b"1=https://apt.example.net/./\n")
    write("fuzz_ini", "edited.ini",
          b"; edited by hand\r\n[settings]\r\n  Refresh = yes \r\nPutDebs=0x1\r\n[Settings]\r\n"
          b"ActivePage=-1\r\n\r\n[Disabled]\r\n5=\r\nunknown line\r\n")
    write("fuzz_ini", "equals.ini", b"Settings=Refresh=1\n[Settings]\nRefresh\n=1\n[]\n")

    # SFTP answers (the body after the type and request id): the version
    # answer's extensions, a listing, attributes.
    def s(text):
        return struct.pack(">I", len(text)) + text

    def attrs(size, folder=False):
        return struct.pack(">IQIII", 0x1 | 0x2 | 0x4, size, 0, 0, (0o40755 if folder else 0o100644))

    write("fuzz_sftp_packet", "extensions",
          s(b"posix-rename@openssh.com") + s(b"1") + s(b"statvfs@openssh.com") + s(b"2") +
          s(b"fsync@openssh.com") + s(b"1") + s(b"limits@openssh.com") + s(b"1"))
    entries = [(b".", True), (b"..", True), (b"Packages", False), (b"cydia.list", False),
               (b"sources.list.d", True)]
    write("fuzz_sftp_packet", "names",
          struct.pack(">I", len(entries)) + b"".join(
              s(name) + s(b"-rw-r--r-- 1 root wheel 1234 Jan 1 2020 " + name) +
              attrs(1234, folder) for name, folder in entries))
    write("fuzz_sftp_packet", "attributes",
          struct.pack(">IQIIIII", 0x1 | 0x2 | 0x4 | 0x8, 42, 501, 501, 0o100644, 1, 1262304000))
    write("fuzz_sftp_packet", "extended",
          struct.pack(">I", 0x80000001) + struct.pack(">Q", 7) + struct.pack(">I", 1) + s(b"x@y") +
          s(b"z"))


if __name__ == "__main__":
    main()
