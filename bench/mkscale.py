#!/usr/bin/env python3
"""Generates a payload folder of about a given size, the same bytes every time.

    mkscale.py OUT_DIR MEGABYTES --program QRD.EXE --licence LICENCE.TXT

The folder holds what the packer asks for: the program and the licence given,
then document templates (rich text made of words: compressible) and insert
collections (dictionary- and font-like data: mostly incompressible, some
text), in sub-folders, together MEGABYTES × 10^6 bytes within one file's size.
Nothing of it is committed: the build and the bench make it when they need it.
"""
import os
import random
import shutil
import sys

WORDS = ("traitement texte document modèle lettre facture rapport paragraphe police style page marge "
         "titre tableau colonne ligne cellule insertion image signature adresse date objet madame monsieur "
         "veuillez agréer salutations distinguées norvanta version light compact rapide puissant pratique").split()


def text_block(rng, size):
    """Rich text of random words, about size bytes."""
    parts, n = [r"{\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs20 "], 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(6, 14))) + r"\par" + "\r\n"
        parts.append(line)
        n += len(line)
    parts.append("}")
    return "".join(parts).encode("utf-8")


def main(argv):
    if len(argv) != 7 or argv[3] != "--program" or argv[5] != "--licence":
        sys.exit(__doc__)
    out, total = argv[1], int(float(argv[2]) * 1_000_000)
    program, licence = argv[4], argv[6]
    rng = random.Random(20261209)
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(out)
    shutil.copyfile(program, os.path.join(out, "qrd.exe"))
    shutil.copyfile(licence, os.path.join(out, "Licence.txt"))
    left = total - os.path.getsize(program) - os.path.getsize(licence)
    # Slices of one large text: deflate finds no repeats across slices further
    # apart than its window, so each template compresses like fresh text.
    text = text_block(rng, 8 * 1024 * 1024)
    n = 0
    while left > 0:
        n += 1
        draw = rng.random()
        # Both folders get a file first; then by bytes about two thirds text, one third binary.
        if n == 1 or (n > 2 and draw < 0.92):
            size = min(left, int(rng.lognormvariate(11.5, 1.2)) + 512)  # a few KB to a few MB
            start = rng.randrange(0, len(text) - min(size, len(text) - 1))
            data = (text * (size // len(text) + 2))[start:start + size]
            path = os.path.join(out, "Modèles de document", f"Catégorie {n % 12:02d}", f"Modèle {n:05d}.rtf")
        else:
            size = min(left, int(rng.lognormvariate(13.5, 1.0)) + 4096)  # tens of KB to tens of MB
            data = rng.randbytes(size)
            path = os.path.join(out, "Collections d'inserts", f"Collection {n % 7:02d}", f"Insert {n:05d}.dat")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        left -= size
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
