#!/usr/bin/env python3
"""The winget manifests of a built setup.exe (make packaging).

    packaging.py --setup <setup.exe> --out <folder> [--url <where it is published>]

Writes the three files of a multi-file manifest (version, installer and default
locale, schema 1.10) into the folder: what `winget install --manifest <folder>`
takes, or what goes under manifests/n/Norvanta/WordProcessor/4.4.6.1/ of a
winget source. Every switch in it is one the setup answers; the end-to-end
tests run them as winget would.
"""
import argparse
import hashlib
import pathlib
import sys

SCHEMA = "1.10.0"
IDENTIFIER = "Norvanta.WordProcessor"
VERSION = "4.4.6.1"
PUBLISHER = "The Norvanta Word Processor Team"
NAME = "Traitement de texte Norvanta"
# The uninstall entry's key: winget matches the installed program by it.
PRODUCT_CODE = "Norvanta Word Processor"
DESCRIPTION = "Traitement de texte compact, rapide, puissant, et par dessus tout pratique"
HELP_URL = "https://www.example.org/norvanta/aide/copie-portable.html"
DEFAULT_URL = "https://www.example.org/norvanta/setup.exe"


def header(kind):
    return f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.{SCHEMA}.schema.json\n\n"


def quoted(text):
    """A YAML single-quoted scalar: the quotes inside are doubled."""
    return "'" + text.replace("'", "''") + "'"


def manifests(sha256, url):
    identity = f"PackageIdentifier: {IDENTIFIER}\nPackageVersion: {VERSION}\n"
    closing = lambda kind: f"ManifestType: {kind}\nManifestVersion: {SCHEMA}\n"
    version = header("version") + identity + "DefaultLocale: fr-FR\n" + closing("version")
    installer = header("installer") + identity + f"""InstallerLocale: fr-FR
Platform:
- Windows.Desktop
MinimumOSVersion: 6.1.0.0
InstallerType: exe
Scope: machine
InstallModes:
- interactive
- silent
- silentWithProgress
# A silent run shows nothing at all, progress included. The wizard needs no switch.
InstallerSwitches:
  Silent: /S
  SilentWithProgress: /S
  InstallLocation: {quoted('"/D=<INSTALLPATH>"')}
  Log: {quoted('"/LOG=<LOGPATH>"')}
# 1: a copy of the word processor runs (nothing installed); 2: a file could not be
# written (one held open, most often; what was written is recorded); 3: the
# folder cannot be used (nothing written).
ExpectedReturnCodes:
- InstallerReturnCode: 1
  ReturnResponse: packageInUse
- InstallerReturnCode: 2
  ReturnResponse: fileInUse
- InstallerReturnCode: 3
  ReturnResponse: invalidParameter
UpgradeBehavior: install
ElevationRequirement: elevatesSelf
ProductCode: {PRODUCT_CODE}
AppsAndFeaturesEntries:
- DisplayName: {NAME}
  Publisher: {PUBLISHER}
  DisplayVersion: {VERSION}
  ProductCode: {PRODUCT_CODE}
Installers:
- Architecture: x86
  InstallerUrl: {url}
  InstallerSha256: {sha256}
""" + closing("installer")
    locale = header("defaultLocale") + identity + f"""PackageLocale: fr-FR
Publisher: {PUBLISHER}
PackageName: {NAME}
License: {quoted("Propriétaire (Licence.txt)")}
ShortDescription: {DESCRIPTION}
PackageUrl: {HELP_URL}
Moniker: norvanta
""" + closing("defaultLocale")
    return {
        f"{IDENTIFIER}.yaml": version,
        f"{IDENTIFIER}.installer.yaml": installer,
        f"{IDENTIFIER}.locale.fr-FR.yaml": locale,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--setup", required=True, help="the program as built or signed")
    parser.add_argument("--out", required=True, help="the folder for the manifests")
    parser.add_argument("--url", default="", help="where the program is published (https)")
    args = parser.parse_args()
    setup = pathlib.Path(args.setup)
    if not setup.is_file():
        sys.exit(f"packaging: no program at {setup}: build it first (make)")
    url = args.url or DEFAULT_URL
    if not url.lower().startswith("https://"):
        sys.exit(f"packaging: the installer's address must be an https address, not {url}")
    sha256 = hashlib.sha256(setup.read_bytes()).hexdigest()
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    for name, text in manifests(sha256, url).items():
        (out / name).write_text(text, encoding="utf-8", newline="\n")
    print(f"packaging: winget manifests for {setup} (SHA-256 {sha256}) in {out}")
    if not args.url:
        print(f"packaging: InstallerUrl is {DEFAULT_URL}; INSTALLER_URL=<https address> names where you publish it")


if __name__ == "__main__":
    main()
