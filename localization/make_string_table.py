#!/usr/bin/env python3
"""Turns strings.txt (UTF-8, readable) into the string table resource: UTF-16LE
without byte-order mark or terminating null, CR LF after every line, the lines
sorted as whole texts by UTF-16 code units. Refuses a table that lacks a
language or a key, so that no build ships a window text as "#Key"."""
import sys

TAGS = ["bg", "cs", "da", "de", "el", "en", "es-MX", "es", "et", "fi", "fr-CA", "fr", "hu", "it", "ja",
        "nl", "no", "pl", "pt-BR", "pt", "ro", "ru", "sl", "sv", "tr", "vi", "zh-HK", "zh-TW", "zh"]
KEYS = ["Close", "PleaseWait", "Product_SG", "Product_HG", "UpToDate", "Upgrade", "UpgradeAvailable",
        "UpgradeFailed", "UpgradingPleaseWait", "HelpOptions", "HelpQuiet", "HelpPassive", "HelpLang", "HelpHelp",
        "HelpExitCodes", "HelpExitSuccess", "HelpExitDeclined", "HelpExitFailed", "HelpExitRunning"]
PRODUCTS = {"Product_SG": "K-Vantor Scanguard", "Product_HG": "K-Vantor Homeguard"}


def fail(message):
    sys.stderr.write("make_string_table: %s\n" % message)
    sys.exit(1)


def read_entries(path):
    entries = {}
    with open(path, encoding="utf-8") as source:
        for number, raw in enumerate(source, 1):
            line = raw.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            if "\r" in line or any(ord(c) < 0x20 and c != "\t" for c in line):
                fail("line %d: control character" % number)
            name, sep, value = line.partition("=")
            tag, colon, key = name.partition(":")
            if not sep or not colon or not value:
                fail("line %d: not tag:Key=Value" % number)
            if (tag, key) in entries:
                fail("line %d: %s:%s given twice" % (number, tag, key))
            entries[(tag, key)] = value
    return entries


def check(entries):
    tags = sorted({tag for tag, _ in entries})
    if tags != sorted(TAGS):
        fail("languages differ from the supported list: %s" % sorted(set(tags) ^ set(TAGS)))
    for tag in TAGS:
        for key in KEYS:
            value = entries.get((tag, key))
            if value is None:
                fail("%s lacks %s" % (tag, key))
            if key in PRODUCTS and value != PRODUCTS[key]:
                fail("%s:%s must stay %s" % (tag, key, PRODUCTS[key]))
            if key == "Close" and value.count("&") != 1:
                fail("%s:Close needs one & mnemonic" % tag)
            if key == "PleaseWait" and (not value.endswith("...") or value.endswith("....")):
                fail("%s:PleaseWait must end in three dots" % tag)
    extra = {key for _, key in entries} - set(KEYS)
    if extra:
        fail("unknown keys: %s" % sorted(extra))


def main():
    if len(sys.argv) != 3:
        fail("usage: make_string_table.py strings.txt strings.bin")
    entries = read_entries(sys.argv[1])
    check(entries)
    lines = ["%s:%s=%s" % (tag, key, value) for (tag, key), value in entries.items()]
    lines.sort(key=lambda text: text.encode("utf-16-be"))
    with open(sys.argv[2], "wb") as out:
        out.write("".join(line + "\r\n" for line in lines).encode("utf-16-le"))


if __name__ == "__main__":
    main()
