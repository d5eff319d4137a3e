#!/usr/bin/env python3
"""matched_versions.py NATIVE_ARCH PACKAGE... < package lists

The version arguments (NAME:ARCH=VERSION, one a line) that let apt install PACKAGE... (NAME or
NAME:ARCH) where a foreign architecture's half of a shared library is missing from the lists at the
version the native half is at (an index out of step). Reads the text of apt's Packages lists on
standard input and dpkg's status under $DPKG_ADMINDIR (default /var/lib/dpkg).

- Every Multi-Arch: same package in the dependencies of PACKAGE... (Depends, Pre-Depends and
  Recommends, as apt installs them) that is wanted for a foreign architecture, and for another
  (installed there, or wanted there too), is put at the newest version the lists hold for all of
  them: its halves must be at one version.
- Every installed package whose installed version asks for an exact version of a package so
  moved is put at the newest version whose relations the moved packages meet, or apt would
  remove it. Repeated until nothing more moves.
Versions already installed are not named. A package that cannot be matched is left to apt.
"""
import os
import sys
from collections import defaultdict

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from debian_lists import compare, relations, satisfies, stanzas  # noqa: E402

RELATIONS = ("Pre-Depends", "Depends", "Recommends")


class Lists:
    def __init__(self, native, available, status):
        self.native = native
        self.available = defaultdict(dict)  # (name, arch) -> {version: stanza}
        self.providers = defaultdict(list)  # (virtual name, arch) -> [(name, arch)]
        self.installed = {}  # (name, arch) -> stanza
        for s in available:
            self.available[s["Package"], s["Architecture"]][s["Version"]] = s
            for group in relations(s.get("Provides")):
                self.providers[group[0][0], s["Architecture"]].append((s["Package"], s["Architecture"]))
        for s in status:
            if s.get("Status", "").endswith(" installed"):
                self.installed[s["Package"], s["Architecture"]] = s

    def newest(self, key, accept=lambda stanza: True):
        versions = [v for v, s in self.available.get(key, {}).items() if accept(s)]
        best = None
        for v in versions:
            best = v if best is None or compare(v, best) > 0 else best
        return best

    def stanza(self, key):
        v = self.newest(key)
        return self.available[key][v] if v else self.installed.get(key)

    def multi_arch(self, name):
        for key in ((name, self.native), (name, "all")):
            s = self.stanza(key)
            if s:
                return s.get("Multi-Arch", "no")
        return "no"

    def target(self, name, qualifier, arch):
        """The (name, arch) a relation of a package of arch names, or None where nothing is."""
        arch = self.native if arch == "all" or qualifier == "native" else arch
        for a in (arch, "all", self.native):
            if a == self.native != arch and self.multi_arch(name) != "foreign" and qualifier != "any":
                continue
            if (name, a) in self.available or (name, a) in self.installed:
                return name, a
            providers = self.providers.get((name, a), [])
            installed = [p for p in providers if p in self.installed]
            if installed or providers:
                return (installed or providers)[0]
        return None

    def closure(self, roots):
        seen, todo = set(), list(roots)
        while todo:
            key = todo.pop()
            stanza = None if key in seen else self.stanza(key)
            if not stanza:
                continue
            seen.add(key)
            for field in RELATIONS:
                for group in relations(stanza.get(field)):
                    targets = [t for t in (self.target(n, q, key[1]) for n, q, _, _ in group) if t]
                    chosen = [t for t in targets if t in self.installed] or targets
                    todo.extend(chosen[:1])
        return seen


def matched(lists, roots):
    wanted = lists.closure(roots)
    moved = {}
    for name in sorted({n for n, a in wanted if a not in (lists.native, "all")}):
        if lists.multi_arch(name) != "same":
            continue
        archs = {a for n, a in wanted | set(lists.installed) if n == name}
        common = set.intersection(*(set(lists.available.get((name, a), {})) for a in archs))
        best = None
        for v in common:
            best = v if best is None or compare(v, best) > 0 else best
        if best and len(archs) > 1:
            moved.update({(name, a): best for a in archs})
    changed = True
    while changed:
        changed = False
        for key, s in lists.installed.items():
            if key in moved or not broken(lists, s, moved, exact_only=True):
                continue
            v = lists.newest(key, lambda c: not broken(lists, c, moved, exact_only=False))
            if v:
                moved[key], changed = v, True
    return sorted(f"{n}:{a}={v}" for (n, a), v in moved.items()
                  if lists.installed.get((n, a), {}).get("Version") != v)


def broken(lists, stanza, moved, exact_only):
    """Whether stanza asks for a version of a moved package other than the one it moves to:
    in any relation, or only in one on an exact version (the others apt settles by itself)."""
    for field in RELATIONS[:2]:
        for group in relations(stanza.get(field)):
            if len(group) != 1:
                continue
            name, qualifier, op, version = group[0]
            t = lists.target(name, qualifier, stanza["Architecture"])
            if t in moved and (op == "=" or not exact_only) and not satisfies(moved[t], op, version):
                return True
    return False


def main(argv):
    native, packages = argv[1], argv[2:]
    admindir = os.environ.get("DPKG_ADMINDIR", "/var/lib/dpkg")
    with open(os.path.join(admindir, "status"), encoding="utf-8", errors="replace") as status:
        lists = Lists(native, stanzas(sys.stdin), stanzas(status))
    roots = [tuple(p.split(":", 1)) if ":" in p else (p, native) for p in packages]
    print("\n".join(matched(lists, roots)))


if __name__ == "__main__":
    main(sys.argv)
