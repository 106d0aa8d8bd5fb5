#!/usr/bin/env python3
"""Writes the winget manifest of a setup, in the multi-file form of schema
1.10.0: the version, installer and default-locale files.
Usage: winget-manifest.py VERSION SETUP URL OUT_DIR

The names, publisher and version are those the setup writes into its
"Apps & features" entry (installer/Folderlane.nsi)."""

import hashlib
import json
import os
import sys

IDENTIFIER = "Folderlane.Folderlane"
MANIFEST_VERSION = "1.10.0"
LOCALE = "en-US"
PUBLISHER = "Folderlane developers"


def yaml(value, indent=""):
    """A value as YAML lines: strings double-quoted (JSON's quoting is
    YAML's), so that a version such as 5.4 stays a string."""
    if isinstance(value, dict):
        return "".join(f"{indent}{key}:\n" + yaml(item, indent + "  ")
                       if isinstance(item, (dict, list)) else f"{indent}{key}: {yaml(item)}\n"
                       for key, item in value.items())
    if isinstance(value, list):
        # A mapping in a list starts on the dash's line.
        return "".join(indent + "- " + yaml(item, indent + "  ")[len(indent) + 2:]
                       if isinstance(item, dict) else f"{indent}- {yaml(item)}\n" for item in value)
    return json.dumps(value, ensure_ascii=False)


def write(out_dir, name, kind, fields):
    head = (f"# Written by Folderlane's scripts/make-dist.sh\n"
            f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.{MANIFEST_VERSION}.schema.json\n\n")
    body = yaml({**fields, "ManifestType": kind, "ManifestVersion": MANIFEST_VERSION})
    with open(os.path.join(out_dir, name), "w", encoding="utf-8", newline="\n") as f:
        f.write(head + body)


def main(version, setup, url, out_dir):
    with open(setup, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest().upper()
    os.makedirs(out_dir, exist_ok=True)
    package = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}
    write(out_dir, f"{IDENTIFIER}.yaml", "version", {**package, "DefaultLocale": LOCALE})
    write(out_dir, f"{IDENTIFIER}.installer.yaml", "installer", {
        **package,
        "InstallerType": "nullsoft",
        "Scope": "user",
        "InstallModes": ["interactive", "silent", "silentWithProgress"],
        "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S"},
        # A per-user setup: run elevated, it would install for the administrator.
        "ElevationRequirement": "elevationProhibited",
        "UpgradeBehavior": "install",
        "ProductCode": "Folderlane",
        "AppsAndFeaturesEntries": [{"DisplayName": "Folderlane", "Publisher": PUBLISHER,
                                    "DisplayVersion": version, "ProductCode": "Folderlane"}],
        "Installers": [{"Architecture": "x86", "InstallerUrl": url, "InstallerSha256": sha256}],
    })
    write(out_dir, f"{IDENTIFIER}.locale.{LOCALE}.yaml", "defaultLocale", {
        **package,
        "PackageLocale": LOCALE,
        "Publisher": PUBLISHER,
        "PackageName": "Folderlane",
        "License": "Copyright (C) Folderlane developers",
        "ShortDescription": "A task-tray agent that remembers the folders you use.",
        "Moniker": "folderlane",
    })


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
