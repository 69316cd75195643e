#!/usr/bin/env python3
"""Writes the sample data files of examples/kit and examples/project (the kit's boot sector
and MINIDOS.SYS are assembled at build time from examples/crisboot/).

The files are committed; this script only records how they were made, so that they can
be made again the same way. Every file begins with a readable SAMPLE marker. The binary
ones carry every byte value (NUL, CR, LF, 0x1A among them), so that a copy that treats
them as text shows up as a difference.

    examples/make_samples.py [OUTPUT_DIR]    (default: the folder of this script)
"""

import hashlib
import sys
from pathlib import Path

PART_NUMBER = "Q7A"


def byte_stream(seed: str, count: int) -> bytes:
    """Deterministic bytes that differ for every seed."""
    out = bytearray()
    block = 0
    while len(out) < count:
        out += hashlib.sha256(f"{seed}/{block}".encode()).digest()
        block += 1
    return bytes(out[:count])


def binary_sample(marker: str, seed: str, size: int) -> bytes:
    head = (marker + "\r\n").encode("ascii") + b"\0"
    every_byte = bytes(range(256))
    body = every_byte + byte_stream(seed, size - len(head) - len(every_byte))
    data = head + body
    assert len(data) == size
    return data


# How a legacy BIOS image ends: at 0xFFFF0 the processor's first instruction, a far jump to
# F000:E05B, then the BIOS date as MM/DD/YY, a NUL and the machine's model byte.
IMAGE_END = b"\xea\x5b\xe0\x00\xf0" + b"12/01/26" + b"\x00\xfc\x00"


def image_sample(marker: str, seed: str, size: int) -> bytes:
    """A sample BIOS image that the program's checks find plausible: a flash chip's size, the
    part number in its first line, and a legacy image's end."""
    data = binary_sample(marker, seed, size)
    return data[: size - len(IMAGE_END)] + IMAGE_END


def samples() -> dict[str, bytes]:
    pn = PART_NUMBER
    return {
        "kit/zyplet.exe": binary_sample(
            "SAMPLE placeholder for zyplet.exe, the flash utility, from the Quenvol "
            "examples - not a program",
            "zyplet.exe",
            12345,
        ),
        "project/platform.bin": binary_sample(
            f"SAMPLE platform file for part {pn} from the Quenvol examples - not real "
            "platform data",
            "platform.bin",
            2049,
        ),
        "project/vgabios.exe": binary_sample(
            "SAMPLE placeholder for vgabios.exe from the Quenvol examples - not a program",
            "vgabios.exe",
            9999,
        ),
        f"project/devel{pn}.rom": image_sample(
            f"SAMPLE development image devel{pn}.rom from the Quenvol examples - "
            "not a real BIOS image",
            f"devel{pn}.rom",
            65536,
        ),
        f"project/test{pn}.rom": image_sample(
            f"SAMPLE test image test{pn}.rom from the Quenvol examples - "
            "not a real BIOS image",
            f"test{pn}.rom",
            65536,
        ),
        "project/flashabl.rom": image_sample(
            f"SAMPLE packaged image flashabl.rom for part {pn} from the Quenvol examples - "
            "not a real BIOS image",
            "flashabl.rom",
            65536,
        ),
        "project/partnum.mak": "".join(
            line + "\r\n"
            for line in [
                "# SAMPLE part-number file from the Quenvol examples.",
                "# It was not written by a real BIOS build; it makes the sample project",
                "# folder complete enough to build a sample crisis diskette from.",
                "#",
                "# The BIOS images of this build are named after the part number:",
                "#   devel<part>.rom   development image",
                "#   test<part>.rom    test image",
                "",
                "BIOS_FAMILY = QV",
                f"PARTNUM = {pn}",
                "BOARD_REV = 2",
                "ROM_SIZE = 64K",
                "",
                "IMAGES = devel$(PARTNUM).rom test$(PARTNUM).rom flashabl.rom",
                "",
                "all: $(IMAGES) platform.bin",
            ]
        ).encode("ascii"),
    }


def main() -> int:
    out_dir = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent
    for name, data in samples().items():
        path = out_dir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
