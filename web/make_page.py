#!/usr/bin/env python3
"""Builds the page's folder: copies the static files, turns the worker's script into one the
page can load from a file path (worker-source.js), and writes the catalogue's texts in both
languages into texts.js, keyed by their names in textids.h."""
import argparse
import json
import os
import re
import shutil


def read_ids(path):
    ids = {}
    for name, number in re.findall(r"^\s*(IDS_\w+)\s*=\s*(\d+)", open(path, encoding="utf-8").read(), re.M):
        ids[name] = int(number)
    return ids


ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "'": "'", "0": "\0"}


def tokens(text):
    """The catalogue's tokens: C string literals (as text), names, numbers and punctuation."""
    i = 0
    while i < len(text):
        c = text[i]
        if text.startswith("//", i):
            i = text.index("\n", i) if "\n" in text[i:] else len(text)
        elif c.isspace():
            i += 1
        elif c == '"':
            i += 1
            out = []
            while text[i] != '"':
                if text[i] == "\\":
                    out.append(ESCAPES[text[i + 1]])
                    i += 2
                else:
                    out.append(text[i])
                    i += 1
            i += 1
            yield ("str", "".join(out))
        elif c.isalnum() or c == "_":
            j = i
            while j < len(text) and (text[j].isalnum() or text[j] == "_"):
                j += 1
            yield ("word", text[i:j])
            i = j
        else:
            yield ("punct", c)
            i += 1


def read_catalogue(path, ids):
    """{id number: [English, Japanese]} from the rows {ID, "English", "Japanese"}."""
    entries = {}
    row = None
    for kind, value in tokens(open(path, encoding="utf-8").read()):
        if kind == "punct" and value == "{":
            row = {"id": None, "texts": [""], "field": 0}
        elif row is None:
            continue
        elif kind == "word" and row["id"] is None:
            row["id"] = int(value) if value.isdigit() else ids[value]
        elif kind == "str":
            row["texts"][-1] += value
        elif kind == "punct" and value == ",":
            if row["field"] > 0:
                row["texts"].append("")
            row["field"] += 1
        elif kind == "punct" and value == "}":
            texts = [t for t in row["texts"] if t != ""] if len(row["texts"]) > 2 else row["texts"]
            entries[row["id"]] = texts[:2]
            row = None
    return entries


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--textids", required=True)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--worker", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("static", nargs="+")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for path in args.static:
        shutil.copyfile(path, os.path.join(args.out, os.path.basename(path)))

    ids = read_ids(args.textids)
    catalogue = read_catalogue(args.catalogue, ids)
    texts = {name: catalogue[number] for name, number in sorted(ids.items()) if number in catalogue}
    with open(os.path.join(args.out, "texts.js"), "w", encoding="utf-8") as out:
        out.write("// Generated from resources/catalogue.inc: every text by name, [English, Japanese].\n")
        out.write("var PACKTOOL_TEXTS = " + json.dumps(texts, ensure_ascii=False, indent=0) + ";\n")
    with open(args.worker, encoding="utf-8") as worker, \
            open(os.path.join(args.out, "worker-source.js"), "w", encoding="utf-8") as out:
        out.write("// Generated: the Web Worker's script (the module inside), started from a Blob.\n")
        out.write("var PACKTOOL_WORKER_SOURCE = " + json.dumps(worker.read()) + ";\n")


if __name__ == "__main__":
    main()
