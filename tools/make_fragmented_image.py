#!/usr/bin/python3
"""Builds a FAT image in which workbooks lie fragmented among other files and are then deleted.

The volume is made with mkfs.fat; everything after that (cluster placement, file data, allocation-table
chains, directory entries and the deletion) is written here byte by byte, so that the placement of every
piece is known. The ground truth goes to a JSON manifest: for each file its role, its bytes (a copy of each
workbook is kept next to the manifest), its clusters in file order, its number of pieces and, for
workbooks, how its workbook stream sits inside the compound file.

Physical layout: every file is cut into pieces of whole clusters; the pieces of all files are shuffled and
laid out one after another, with runs of never-written (zero) clusters between some of them. Pieces of one
file never touch in file order, so a file cut into k pieces really occupies k separate runs. Workbooks and
"decoy" files (random, text-like and binary data) are deleted at the end: their directory entries get the
0xE5 mark and their chains are cleared, as an operating system does. "Live" filler files stay allocated.

usage:
  make_fragmented_image.py OUT.img [--manifest OUT.json] [--fat 12|16|32] [--cluster-kib K]
      [--workbook FILE]... [--workbook-list FILE] [--xlwt N] [--xlwt-min-kib K] [--xlwt-max-kib K]
      [--pieces MIN MAX] [--live N] [--decoys N] [--gap-chance P] [--size-mib N] [--seed S]
      [--clear-high-word]
"""
import argparse
import hashlib
import json
import math
import mmap
import os
import random
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


class Volume:
    """The geometry of a freshly made FAT volume, read from its boot sector."""

    def __init__(self, image):
        self.image = image
        bs = image[:512]
        self.bytes_per_sector = struct.unpack_from("<H", bs, 11)[0]
        if self.bytes_per_sector != 512:
            raise SystemExit("only 512-byte sectors are supported")
        self.sectors_per_cluster = bs[13]
        self.reserved = struct.unpack_from("<H", bs, 14)[0]
        self.fat_count = bs[16]
        self.root_entries = struct.unpack_from("<H", bs, 17)[0]
        total16 = struct.unpack_from("<H", bs, 19)[0]
        fat16_size = struct.unpack_from("<H", bs, 22)[0]
        total32 = struct.unpack_from("<I", bs, 32)[0]
        self.total_sectors = total16 or total32
        self.fat_sectors = fat16_size or struct.unpack_from("<I", bs, 36)[0]
        self.root_cluster = struct.unpack_from("<I", bs, 44)[0] if fat16_size == 0 else 0
        self.root_dir_sectors = (self.root_entries * 32 + 511) // 512
        self.first_data_sector = self.reserved + self.fat_count * self.fat_sectors + self.root_dir_sectors
        self.cluster_count = (self.total_sectors - self.first_data_sector) // self.sectors_per_cluster
        self.last_cluster = self.cluster_count + 1
        self.kind = 32 if fat16_size == 0 else (12 if self.cluster_count < 4085 else 16)
        self.cluster_bytes = self.sectors_per_cluster * 512

    def cluster_offset(self, cluster):
        return (self.first_data_sector + (cluster - 2) * self.sectors_per_cluster) * 512

    def set_fat(self, cluster, value):
        for copy in range(self.fat_count):
            base = (self.reserved + copy * self.fat_sectors) * 512
            if self.kind == 32:
                old = struct.unpack_from("<I", self.image, base + cluster * 4)[0]
                struct.pack_into("<I", self.image, base + cluster * 4, (old & 0xF0000000) | (value & 0x0FFFFFFF))
            elif self.kind == 16:
                struct.pack_into("<H", self.image, base + cluster * 2, value & 0xFFFF)
            else:
                at = base + cluster * 3 // 2
                pair = struct.unpack_from("<H", self.image, at)[0]
                if cluster & 1:
                    pair = (pair & 0x000F) | ((value & 0xFFF) << 4)
                else:
                    pair = (pair & 0xF000) | (value & 0xFFF)
                struct.pack_into("<H", self.image, at, pair)

    def end_of_chain(self):
        return {12: 0xFFF, 16: 0xFFFF, 32: 0x0FFFFFFF}[self.kind]

    def chain(self, clusters):
        for here, after in zip(clusters, clusters[1:]):
            self.set_fat(here, after)
        if clusters:
            self.set_fat(clusters[-1], self.end_of_chain())

    def clear_chain(self, clusters):
        for cluster in clusters:
            self.set_fat(cluster, 0)


def stream_layout(path):
    """Where the workbook stream sits in a compound file: its first byte's offset, whether its sectors are
    consecutive, and how many bytes of the file follow its last sector. None when it has no such stream."""
    try:
        import olefile
        ole = olefile.OleFileIO(path)
    except Exception:
        return None
    try:
        for name in ("Workbook", "Book"):
            if ole.exists(name):
                break
        else:
            return None
        entry = ole.direntries[ole._find(name)]
        size = entry.size
        sector_size = ole.sectorsize
        if size < ole.minisectorcutoff:
            return {"streamName": name, "streamOffset": None, "streamContiguous": True, "tailBytes": None,
                    "inMiniStream": True}
        chain = []
        sector = entry.isectStart
        seen = set()
        while sector < len(ole.fat) and sector not in seen and sector < 0xFFFFFFFA and len(chain) * sector_size < size:
            seen.add(sector)
            chain.append(sector)
            sector = ole.fat[sector]
        contiguous = all(b == a + 1 for a, b in zip(chain, chain[1:]))
        end = (chain[-1] + 1) * sector_size + sector_size if chain else 0
        file_size = os.path.getsize(path)
        return {"streamName": name, "streamOffset": (chain[0] + 1) * sector_size if chain else None,
                "streamContiguous": contiguous, "tailBytes": max(0, file_size - end), "inMiniStream": False,
                "streamBytes": size}
    except Exception:
        return None
    finally:
        ole.close()


def writer_of(path, generated):
    if generated:
        return "xlwt"
    base = os.path.basename(path)
    return base.split("__", 1)[0] if "__" in base else "other"


def make_xlwt_workbook(path, rng, min_kib, max_kib, index):
    """A python3-xlwt workbook of roughly a chosen size; every third one has several sheets."""
    target = rng.randint(min_kib, max_kib) * 1024
    sheets = rng.choice([2, 3, 4]) if index % 3 == 2 else 1
    cols = rng.randint(4, 12)
    # About 22 bytes of stream per cell for the mix of texts and numbers that make_workbook.py writes.
    rows = max(20, min(65000, target // (22 * cols * sheets)))
    subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_workbook.py"), path, "--rows", str(rows),
                    "--cols", str(cols), "--sheets", str(sheets), "--seed", str(rng.randint(1, 10**6)),
                    "--title", rng.choice(["Sales", "Stock", "Budget", "Ledger", "Survey"])], check=True)
    return sheets


def filler_bytes(rng, size, flavour):
    if flavour == "random":
        return rng.randbytes(size)
    if flavour == "text":
        words = ["alpha", "beta", "report", "total", "2024", "invoice", "customer", "12.50", "shipment", "note"]
        out = bytearray()
        while len(out) < size:
            out += (" ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) + "\r\n").encode()
        return bytes(out[:size])
    # Binary with structure: repeated little-endian records, small integers and runs of zeros.
    out = bytearray()
    while len(out) < size:
        out += struct.pack("<HHI", rng.randint(0, 0x300), rng.randint(0, 64), rng.randint(0, 1000))
        out += bytes(rng.randint(0, 24))
    return bytes(out[:size])


def cut(rng, count, pieces):
    """Cuts `count` clusters into `pieces` runs of random lengths (each at least one cluster)."""
    pieces = max(1, min(pieces, count))
    points = sorted(rng.sample(range(1, count), pieces - 1)) if pieces > 1 else []
    bounds = [0] + points + [count]
    return [(bounds[i], bounds[i + 1]) for i in range(pieces)]


def short_name(index, extension):
    return f"F{index:07d}".encode() + extension.encode().ljust(3)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out")
    parser.add_argument("--manifest")
    parser.add_argument("--fat", type=int, choices=[12, 16, 32], default=32)
    parser.add_argument("--cluster-kib", type=float, default=None,
                        help="cluster size in KiB (default 4 for FAT32, 2 for FAT16, 1 for FAT12)")
    parser.add_argument("--workbook", action="append", default=[], help="a workbook file to place (repeatable)")
    parser.add_argument("--workbook-list", help="a file listing workbook paths, one a line")
    parser.add_argument("--xlwt", type=int, default=0, help="number of python3-xlwt workbooks to generate")
    parser.add_argument("--xlwt-min-kib", type=int, default=50)
    parser.add_argument("--xlwt-max-kib", type=int, default=2048)
    parser.add_argument("--pieces", type=int, nargs=2, default=[2, 20], metavar=("MIN", "MAX"))
    parser.add_argument("--live", type=int, default=6, help="live filler files (stay allocated)")
    parser.add_argument("--decoys", type=int, default=6, help="deleted non-workbook files")
    parser.add_argument("--filler-max-kib", type=int, default=256)
    parser.add_argument("--gap-chance", type=float, default=0.3, help="chance of a zero gap after a piece")
    parser.add_argument("--size-mib", type=int, default=0, help="volume size (default: what the files need)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--clear-high-word", action="store_true",
                        help="clear the high word of FAT32 first clusters on deletion")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    manifest_path = args.manifest or args.out + ".json"
    originals = os.path.splitext(manifest_path)[0] + ".originals"
    shutil.rmtree(originals, ignore_errors=True)
    os.makedirs(originals)

    sources = list(args.workbook)
    if args.workbook_list:
        with open(args.workbook_list, encoding="utf-8") as listing:
            sources += [line.strip() for line in listing if line.strip() and not line.startswith("#")]
    workbooks = []
    for path in sources:
        workbooks.append({"source": os.path.abspath(path), "writer": writer_of(path, False), "sheets": None})
    for i in range(args.xlwt):
        path = os.path.join(originals, f"xlwt_{args.seed}_{i}.xls")
        sheets = make_xlwt_workbook(path, rng, args.xlwt_min_kib, args.xlwt_max_kib, i)
        workbooks.append({"source": path, "writer": "xlwt", "sheets": sheets})

    cluster_kib = args.cluster_kib or {12: 1, 16: 2, 32: 4}[args.fat]
    sectors_per_cluster = int(cluster_kib * 2)
    cluster_bytes = sectors_per_cluster * 512

    files = []
    for i, wb in enumerate(workbooks):
        with open(wb["source"], "rb") as f:
            data = f.read()
        copy = os.path.join(originals, f"workbook_{i:03d}.xls")
        if os.path.abspath(wb["source"]) != os.path.abspath(copy):
            with open(copy, "wb") as f:
                f.write(data)
        entry = {"role": "workbook", "deleted": True, "writer": wb["writer"], "source": wb["source"],
                 "original": os.path.abspath(copy), "size": len(data), "sha256": hashlib.sha256(data).hexdigest(),
                 "extension": "XLS", "data": data}
        if wb["sheets"]:
            entry["sheets"] = wb["sheets"]
        layout = stream_layout(wb["source"])
        if layout:
            entry.update(layout)
        clusters = max(1, math.ceil(len(data) / cluster_bytes))
        entry["wantedPieces"] = rng.randint(args.pieces[0], args.pieces[1])
        entry["clusterCount"] = clusters
        files.append(entry)
    flavours = ["random", "text", "binary"]
    for role, count in (("live", args.live), ("decoy", args.decoys)):
        for _ in range(count):
            size = rng.randint(1, args.filler_max_kib) * 1024 - rng.randint(0, 1000)
            flavour = rng.choice(flavours)
            data = filler_bytes(rng, max(1, size), flavour)
            clusters = max(1, math.ceil(len(data) / cluster_bytes))
            files.append({"role": role, "deleted": role == "decoy", "flavour": flavour, "size": len(data),
                          "extension": "BIN" if flavour != "text" else "TXT", "data": data,
                          "wantedPieces": rng.randint(1, 3), "clusterCount": clusters})

    # Pieces in physical order: shuffle, then break up any piece that is directly followed by its own
    # successor in file order, so that the requested piece count is the real one.
    pieces = []
    for number, entry in enumerate(files):
        runs = cut(rng, entry["clusterCount"], entry["wantedPieces"])
        entry["runs"] = runs
        for order, run in enumerate(runs):
            pieces.append((number, order, run))
    rng.shuffle(pieces)
    layout = []
    for piece in pieces:
        if layout and layout[-1] is not None and layout[-1][0] == piece[0] and layout[-1][1] + 1 == piece[1]:
            layout.append(None)  # a gap keeps the two pieces apart
        layout.append(piece)
        if rng.random() < args.gap_chance:
            layout.append(None)
    gaps = [rng.randint(1, 8) for _ in layout]
    needed = sum(p[2][1] - p[2][0] if p is not None else g for p, g in zip(layout, gaps))

    directory_slots = len(files) + 4
    root_clusters = 0
    if args.fat == 32:
        root_clusters = math.ceil(directory_slots * 32 / cluster_bytes)
    # The volume's size in clusters: what the files need, within the cluster counts of the FAT kind (FAT32
    # needs at least 65525 clusters to be read as FAT32 by every tool).
    if args.size_mib:
        size_bytes = args.size_mib * 2**20
    else:
        clusters = math.ceil((needed + root_clusters + 64) * 1.1)
        clusters = {12: min(max(clusters, 400), 4000), 16: max(clusters, 4200), 32: max(clusters, 65600)}[args.fat]
        size_bytes = clusters * cluster_bytes + 2**20 + (clusters * 4 * 2 if args.fat == 32 else 0)
        size_bytes = (size_bytes + 2**16 - 1) // 2**16 * 2**16
    if os.path.exists(args.out):
        os.remove(args.out)
    with open(args.out, "wb") as f:
        f.truncate(size_bytes)
    command = ["mkfs.fat", "-F", str(args.fat), "-s", str(sectors_per_cluster), "-i", f"{args.seed & 0xFFFFFFFF:08X}",
               "--invariant"]
    if args.fat != 32:
        command += ["-r", str(max(512, (directory_slots + 15) // 16 * 16))]
    subprocess.run(command + [args.out], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # Mapped rather than read, so that the untouched parts of the image file stay sparse.
    image_file = open(args.out, "r+b")
    image = mmap.mmap(image_file.fileno(), 0)
    volume = Volume(image)
    if volume.kind != args.fat:
        raise SystemExit(f"mkfs.fat made FAT{volume.kind}, not FAT{args.fat}; choose another size or cluster size")

    next_cluster = 2
    root_chain = []
    if volume.kind == 32:
        root_chain = [volume.root_cluster] + [volume.root_cluster + 1 + i for i in range(root_clusters - 1)]
        volume.chain(root_chain)
        next_cluster = max(root_chain) + 1
    if next_cluster + needed > volume.last_cluster:
        raise SystemExit(f"volume too small: {needed} clusters needed, {volume.last_cluster - next_cluster + 1} free")

    for entry in files:
        entry["clusters"] = [None] * entry["clusterCount"]
    for piece, gap in zip(layout, gaps):
        if piece is None:
            next_cluster += gap
            continue
        number, order, (begin, end) = piece
        entry = files[number]
        for k in range(begin, end):
            entry["clusters"][k] = next_cluster
            next_cluster += 1

    for entry in files:
        data = entry["data"]
        for k, cluster in enumerate(entry["clusters"]):
            chunk = data[k * cluster_bytes:(k + 1) * cluster_bytes]
            at = volume.cluster_offset(cluster)
            image[at:at + len(chunk)] = chunk
        volume.chain(entry["clusters"])
        runs = 1 + sum(1 for a, b in zip(entry["clusters"], entry["clusters"][1:]) if b != a + 1)
        entry["pieces"] = runs
        entry["firstCluster"] = entry["clusters"][0]
        entry["firstSector"] = volume.cluster_offset(entry["clusters"][0]) // 512

    # Directory entries: the root directory's free slots, in order.
    if volume.kind == 32:
        slot_offsets = [volume.cluster_offset(c) + i * 32 for c in root_chain for i in range(cluster_bytes // 32)]
    else:
        root = (volume.reserved + volume.fat_count * volume.fat_sectors) * 512
        slot_offsets = [root + i * 32 for i in range(volume.root_entries)]
    slot_offsets = [o for o in slot_offsets if image[o] == 0]
    if len(slot_offsets) < len(files):
        raise SystemExit("root directory too small")
    for number, (entry, at) in enumerate(zip(files, slot_offsets)):
        name = short_name(number + 1, entry["extension"])
        first = entry["firstCluster"]
        slot = bytearray(32)
        slot[0:11] = name
        slot[11] = 0x20
        struct.pack_into("<HHHHHHHI", slot, 14, 0x6000, 0x5A21, 0x5A21, first >> 16 if volume.kind == 32 else 0,
                         0x6000, 0x5A21, first & 0xFFFF, entry["size"])
        image[at:at + 32] = slot
        entry["name"] = name[:8].decode().rstrip() + "." + name[8:].decode().rstrip()
        entry["directoryOffset"] = at
        if entry["deleted"]:
            image[at] = 0xE5
            if args.clear_high_word and volume.kind == 32:
                struct.pack_into("<H", image, at + 20, 0)
            volume.clear_chain(entry["clusters"])
    if volume.kind == 32:
        # The free-cluster count of the information sector is no longer right; mark it unknown.
        fsinfo = struct.unpack_from("<H", image, 48)[0] * 512
        if image[fsinfo:fsinfo + 4] == b"RRaA":
            struct.pack_into("<II", image, fsinfo + 488, 0xFFFFFFFF, 0xFFFFFFFF)

    image.flush()
    image.close()
    image_file.close()

    for entry in files:
        del entry["data"]
        del entry["runs"]
    manifest = {"image": os.path.abspath(args.out), "fat": volume.kind, "sectorsPerCluster": volume.sectors_per_cluster,
                "clusterBytes": cluster_bytes, "firstDataSector": volume.first_data_sector,
                "clusterCount": volume.cluster_count, "seed": args.seed, "files": files}
    with open(manifest_path, "w", encoding="utf-8") as f:
        json.dump(manifest, f, indent=1)
    workbook_count = sum(1 for e in files if e["role"] == "workbook")
    print(f"{args.out}: FAT{volume.kind}, {cluster_bytes} bytes a cluster, {workbook_count} workbooks, "
          f"{len(files) - workbook_count} other files; manifest {manifest_path}", file=sys.stderr)


if __name__ == "__main__":
    main()
