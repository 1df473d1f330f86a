#!/usr/bin/env python3
"""Writes a data file cut to the hybrid and some of its parental populations, in
the order given, every other token as it was (the same text, so the same
numbers): the data file corvane would read for one model of corvane-scan.

    cut_data_file.py DATA_FILE OUT_FILE COLUMN,COLUMN,...   (parental columns 1..P)
"""
import sys


def main():
    source, target, columns = sys.argv[1], sys.argv[2], [int(c) for c in sys.argv[3].split(",")]
    tokens = open(source).read().split()
    pos = 0

    def take(count=1):
        nonlocal pos
        pos += count
        return tokens[pos - count:pos]

    def number(token):
        """A whole number with automatic base detection: 0x hexadecimal, 0 octal."""
        digits = token.lstrip("+-")
        base = 16 if digits[:2].lower() == "0x" else 8 if len(digits) > 1 and digits[0] == "0" else 10
        value = int(digits[2:] if base == 16 else digits, base)
        return -value if token.startswith("-") else value

    out = [" ".join(take(2))]
    parents, loci = (number(t) for t in take(2))
    out.append("%d %d" % (len(columns), loci))
    haplotypes = []
    for _ in range(loci):
        label, n = take(2)
        haplotypes.append(number(n))
        out.append(label + " " + n)
        for j in range(number(n)):
            out.append(" ".join(take(j + 1)))
    keep = [0] + columns
    for l in range(loci):
        out.append(take()[0])
        sizes = take(parents + 1)
        out.append(" ".join(sizes[c] for c in keep))
        for _ in range(haplotypes[l]):
            row = take(parents + 1)
            out.append(" ".join(row[c] for c in keep))
    open(target, "w").write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
