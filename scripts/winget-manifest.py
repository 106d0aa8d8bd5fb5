#!/usr/bin/env python3
"""Writes the winget manifest of a setup, in the multi-file form of schema
1.10.0: the version, installer and default-locale files.
Usage: winget-manifest.py VERSION SETUP RELEASE_URL OUT_DIR [PROJECT_URL]

RELEASE_URL is the address of the folder where dist/'s files are published
as they are: the setup, the licence and the read-me are found there.
PROJECT_URL, the project's own page, is the manifest's PackageUrl (left out
without it): a download folder is no page, and the common hosts answer it
with 404, which winget-pkgs' check of every address refuses. The
names, publisher and version are those the setup writes into its "Apps &
features" entry (installer/Folderlane.nsi)."""

import hashlib
import json
import os
import sys

IDENTIFIER = "Folderlane.Folderlane"
MANIFEST_VERSION = "1.10.0"
LOCALE = "en-US"
PUBLISHER = "Folderlane developers"
# Setup's own exit codes besides NSIS's 0 (installed) and 1 (cancelled): 2
# stopped with nothing done (the causes are in the read-me), 3 the folder
# refused for safety (only a folder chosen outside the profile can be), 4 run
# as another user than the desktop's, 5 run as SYSTEM.
RETURN_CODES = ((1, "cancelledByUser"), (2, "custom"), (3, "invalidParameter"),
                (4, "custom"), (5, "custom"))


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


def main(version, setup, release_url, out_dir, project_url=""):
    if not release_url.lower().startswith(("https://", "http://")):
        sys.exit(f"winget-manifest: the release's address is no http(s) address: {release_url}")
    release = release_url.rstrip("/")
    readme = f"{release}/Nelvoreadme.txt"
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
        # No ElevationRequirement: winget-pkgs' validation runs installers
        # elevated, and an administrator's silent setup installs for the
        # administrator's own account, as it should (elevationProhibited
        # would refuse it). Interactive, setup warns about an elevation
        # for another account itself.
        "UpgradeBehavior": "install",
        "ProductCode": "Folderlane",
        "AppsAndFeaturesEntries": [{"DisplayName": "Folderlane", "Publisher": PUBLISHER,
                                    "DisplayVersion": version, "ProductCode": "Folderlane"}],
        "ExpectedReturnCodes": [{"InstallerReturnCode": code, "ReturnResponse": response,
                                 **({"ReturnResponseUrl": readme} if response == "custom" else {})}
                                for code, response in RETURN_CODES],
        "Installers": [{"Architecture": "x86", "InstallerUrl": f"{release}/{os.path.basename(setup)}",
                        "InstallerSha256": sha256}],
    })
    write(out_dir, f"{IDENTIFIER}.locale.{LOCALE}.yaml", "defaultLocale", {
        **package,
        "PackageLocale": LOCALE,
        "Publisher": PUBLISHER,
        "PackageName": "Folderlane",
        **({"PackageUrl": project_url} if project_url else {}),
        "License": "MIT",
        "LicenseUrl": f"{release}/LICENSE.txt",
        "Copyright": "Copyright (c) the Folderlane developers",
        "ReleaseNotesUrl": readme,
        "ShortDescription": "A task-tray agent that remembers the folders you use.",
        "Moniker": "folderlane",
    })


if __name__ == "__main__":
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    main(*sys.argv[1:])
