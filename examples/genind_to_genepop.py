#!/usr/bin/env python3
"""Writes a Genepop file from a microsatellite data set saved by R's save() as
an object of class "genind" (an .rda or .RData file, compressed with gzip,
bzip2 or xz), such as the cattle data set `microbov` that Debian's package
r-cran-adegenet ships. R is not needed: the file's serialization is read here.
Alleles are named by their sizes in base pairs (three digits); individuals are
named POPULATION_NUMBER, so that corvane-prepare names the populations.

    genind_to_genepop.py FILE.rda OBJECT_NAME OUT.gen

Standard library only.
"""
import bz2
import gzip
import lzma
import struct
import sys


class Serialized:
    """R's XDR serialization, the parts a saved data set uses."""

    def __init__(self, data):
        self.data, self.pos, self.refs = data, 0, []

    def ints(self, n):
        values = struct.unpack(">%di" % n, self.data[self.pos:self.pos + 4 * n])
        self.pos += 4 * n
        return list(values)

    def int(self):
        return self.ints(1)[0]

    def length(self):
        n = self.int()
        if n == -1:
            high, low = self.ints(2)
            n = (high << 32) + low
        return n

    def item(self):
        flags = self.int()
        kind, has_attr, has_tag = flags & 0xFF, flags & (1 << 9), flags & (1 << 10)
        if kind in (254, 242, 241, 253, 252, 251, 247):  # nil, the special environments, missing
            return None
        if kind == 255:  # a reference to an earlier item
            index = flags >> 8 or self.int()
            return self.refs[index - 1]
        if kind in (249, 250):  # a namespace or package: its names
            self.int()
            names = [self.item() for _ in range(self.int())]
            self.refs.append(names)
            return names
        if kind == 1:  # a symbol
            name = self.item()
            self.refs.append(name)
            return name
        if kind == 4:  # an environment: kept as its frame
            env = {}
            self.refs.append(env)
            self.int()
            self.item()
            env["frame"] = self.item()
            env["table"] = self.item()
            self.item()
            return env
        if kind in (2, 3, 5, 6, 17):  # pairlists, closures, promises, calls
            attributes = self.item() if has_attr else None
            tag = self.item() if has_tag else None
            head = self.item()
            rest = self.item()
            cell = {"tag": tag, "value": head, "rest": rest, "attributes": attributes}
            return cell
        if kind == 9:  # a character string
            n = self.int()
            if n == -1:
                return None
            text = self.data[self.pos:self.pos + n].decode("utf-8", "replace")
            self.pos += n
            return text
        if kind in (10, 13):  # logical, integer
            values = self.ints(self.length())
        elif kind == 14:  # double
            n = self.length()
            values = list(struct.unpack(">%dd" % n, self.data[self.pos:self.pos + 8 * n]))
            self.pos += 8 * n
        elif kind in (16, 19, 20):  # character, list, expression vectors
            values = [self.item() for _ in range(self.length())]
        elif kind == 25:  # an S4 object: its slots are its attributes
            values = None
        elif kind == 238:  # a compact representation: class, state, attributes
            info, state, attributes = self.item(), self.item(), self.item()
            return {"values": expand_compact(info, state), "attributes": attributes}
        else:
            raise ValueError("unsupported R object of type %d" % kind)
        attributes = self.item() if has_attr else None
        return {"values": values, "attributes": attributes}


def expand_compact(info, state):
    name = pairlist_values(info)[0] if isinstance(info, dict) else info
    if name == "compact_intseq":
        length, start, step = state["values"]
        return [int(start + step * i) for i in range(int(length))]
    if name in ("deferred_string", "wrap_string", "wrap_integer", "wrap_real"):
        return pairlist_values(state)[0]["values"] if isinstance(state, dict) and "tag" in state else state["values"]
    raise ValueError("unsupported compact R vector %r" % name)


def pairlist_values(cell):
    values = []
    while isinstance(cell, dict) and "tag" in cell:
        values.append(cell["value"])
        cell = cell["rest"]
    return values


def attribute(obj, name):
    cell = obj["attributes"]
    while isinstance(cell, dict) and "tag" in cell:
        if cell["tag"] == name:
            return cell["value"]
        cell = cell["rest"]
    raise KeyError(name)


def load(path):
    raw = open(path, "rb").read()
    for magic, opener in ((b"BZh", bz2.decompress), (b"\x1f\x8b", gzip.decompress), (b"\xfd7zXZ", lzma.decompress)):
        if raw.startswith(magic):
            raw = opener(raw)
    if not raw.startswith(b"RDX2\nX\n") and not raw.startswith(b"RDX3\nX\n"):
        raise ValueError("not a file of R's save() in XDR format")
    reader = Serialized(raw[7:])
    version = reader.int()
    reader.ints(2)
    if version == 3:
        reader.pos += reader.int()  # the native encoding's name
    objects = {}
    cell = reader.item()
    while isinstance(cell, dict) and "tag" in cell:
        objects[cell["tag"]] = cell["value"]
        cell = cell["rest"]
    return objects


def factor_labels(factor):
    levels = attribute(factor, "levels")["values"]
    return [levels[code - 1] for code in factor["values"]]


def main():
    path, name, out_path = sys.argv[1:4]
    genind = load(path)[name]
    tab = attribute(genind, "tab")
    rows, columns = attribute(tab, "dim")["values"]
    individuals, alleles = (v["values"] for v in attribute(tab, "dimnames")["values"])
    counts = tab["values"]  # column-major
    locus_of = factor_labels(attribute(genind, "loc.fac"))
    loci = list(dict.fromkeys(locus_of))
    populations = factor_labels(attribute(genind, "pop"))
    lines = ["Converted from the genind object %s of %s" % (name, path.split("/")[-1])] + loci
    number = {}
    for population in dict.fromkeys(populations):
        lines.append("Pop")
        for i in range(rows):
            if populations[i] != population:
                continue
            number[population] = number.get(population, 0) + 1
            genotype = []
            for locus in loci:
                copies = []
                for j in range(columns):
                    if locus_of[j] == locus:
                        count = counts[j * rows + i]
                        if count is not None and count > 0 and count != -2147483648:
                            copies += [int(alleles[j].split(".")[-1])] * count
                genotype.append("%03d%03d" % tuple(copies) if len(copies) == 2 else "000000")
            lines.append("%s_%d , %s" % (population, number[population], " ".join(genotype)))
    open(out_path, "w").write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
