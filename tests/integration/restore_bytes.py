#!/usr/bin/env python3
"""The byte work of restore.sh: the blobs it writes through ntfs-3g, and the checks of what a
restore made of the boot files and the boot area. Each command exits 1 when its check fails.

  junction TARGET                    reparse data of a junction to TARGET ("C:\\Data"), 0x...
  acl                                a self-relative security descriptor, 0x...
  bcd FILE OFFSET SIGNATURE          a store holding two device references of that partition
  bcd-names FILE OFFSET SIGNATURE    both references in FILE name that partition
  boot-code VOLUME                   boot code of its own in VOLUME's boot area, over mkntfs's
  boot-area SOURCE DESTINATION       DESTINATION's area: SOURCE's code, its own parameters at 1 MiB
  damage IMAGE FILE                  flip a byte of the block of IMAGE that stores FILE's middle
"""
import struct
import sys


def sid(text):
    parts = text.split("-")[1:]
    revision, authority, subs = int(parts[0]), int(parts[1]), [int(p) for p in parts[2:]]
    return (struct.pack("<BB", revision, len(subs)) + authority.to_bytes(6, "big") +
            b"".join(struct.pack("<I", s) for s in subs))


def junction(target):
    sub, prn = ("\\??\\" + target).encode("utf-16-le"), target.encode("utf-16-le")
    body = struct.pack("<HHHH", 0, len(sub), len(sub) + 2, len(prn)) + sub + b"\0\0" + prn + b"\0\0"
    print("0x" + (struct.pack("<IHH", 0xA0000003, len(body), 0) + body).hex())


def acl():
    # Owner Administrators, group SYSTEM, a protected DACL: a domain user may not write,
    # Everyone may read, SYSTEM has full control.
    aces = [(1, 0x00020000 | 0x0002, "S-1-5-21-1004336348-1177238915-682003330-1001"),
            (0, 0x00120089, "S-1-1-0"), (0, 0x001F01FF, "S-1-5-18")]
    body = b"".join(struct.pack("<BBHI", kind, 0, 8 + len(sid(s)), mask) + sid(s) for kind, mask, s in aces)
    dacl = struct.pack("<BBHHH", 2, 0, 8 + len(body), len(aces), 0) + body
    owner, group = sid("S-1-5-32-544"), sid("S-1-5-18")
    header = 20
    sd = struct.pack("<BBHIIII", 1, 0, 0x8000 | 0x1000 | 0x0004, header, header + len(owner), 0,
                     header + len(owner) + len(group)) + owner + group + dacl
    print("0x" + sd.hex())


def reference(offset, signature):
    # An 8-byte partition offset, and 24 bytes after its start the 4-byte disk signature.
    return struct.pack("<Q", int(offset)) + b"\x06" * 16 + struct.pack("<I", int(signature))


def bcd(path, offset, signature):
    ref = reference(offset, signature)
    with open(path, "wb") as f:
        f.write(b"regf" + b"\x11" * 300 + ref + b"\x22" * 77 + ref + b"\x33" * 40)


def bcd_names(path, offset, signature):
    with open(path, "rb") as f:
        return f.read().count(reference(offset, signature)) == 2


def boot_code(volume):
    with open(volume, "r+b") as f:
        f.seek(84)
        f.write(bytes((i * 7 + 1) % 251 for i in range(84, 510)))
        f.seek(512)
        f.write(bytes((i * 13 + 5) % 253 for i in range(512, 8192)))


def boot_area(source, destination):
    with open(source, "rb") as f:
        image = f.read(8192)
    with open(destination, "rb") as f:
        restored = f.read(8192)
    hidden_sectors = struct.unpack_from("<I", restored, 28)[0]
    return image[:11] == restored[:11] and image[84:] == restored[84:] and hidden_sectors == 2048


def damage(image_path, file_path):
    with open(image_path, "rb") as f:
        image = bytearray(f.read())
    with open(file_path, "rb") as f:
        content = f.read()
    middle = len(content) // 2
    at = image.find(content[middle:middle + 64])
    if at < 0:
        return False
    image[at + 10] ^= 0x55
    with open(image_path, "wb") as f:
        f.write(image)
    return True


COMMANDS = {"junction": junction, "acl": acl, "bcd": bcd, "bcd-names": bcd_names,
            "boot-code": boot_code, "boot-area": boot_area, "damage": damage}
if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in COMMANDS:
        sys.exit(__doc__)
    sys.exit(0 if COMMANDS[sys.argv[1]](*sys.argv[2:]) is not False else 1)
