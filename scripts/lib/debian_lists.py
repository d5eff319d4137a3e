"""Reading apt's package lists and dpkg's status: their stanzas, versions and relations.

Only what the matched-version install needs: a stanza keeps the fields in FIELDS; versions
compare as dpkg compares them; a relation field parses into groups of alternatives.
"""
import itertools
import re

FIELDS = ("Package", "Architecture", "Version", "Multi-Arch", "Status", "Provides",
          "Depends", "Pre-Depends", "Recommends")


def stanzas(lines):
    """Yields each stanza of a Packages or status text as a dict of the fields in FIELDS."""
    stanza = {}
    for line in itertools.chain(lines, [""]):
        if not line.strip():
            if "Package" in stanza:
                yield stanza
            stanza = {}
        elif not line[0].isspace():
            name, _, value = line.partition(":")
            if name in FIELDS:
                stanza[name] = value.strip()


def _order(c):
    if c == "~":
        return -1
    return ord(c) if c.isalpha() else ord(c) + 256


def _compare_part(a, b):
    """dpkg's comparison of an upstream version or a revision: runs of non-digits by character
    (a tilde sorts before everything, even the end), runs of digits as numbers."""
    for (a_text, a_num), (b_text, b_num) in itertools.zip_longest(
            re.findall(r"(\D*)(\d*)", a), re.findall(r"(\D*)(\d*)", b), fillvalue=("", "")):
        a_ord, b_ord = [_order(c) for c in a_text], [_order(c) for c in b_text]
        width = max(len(a_ord), len(b_ord))
        a_ord, b_ord = a_ord + [0] * (width - len(a_ord)), b_ord + [0] * (width - len(b_ord))
        if a_ord != b_ord:
            return -1 if a_ord < b_ord else 1
        if int(a_num or 0) != int(b_num or 0):
            return -1 if int(a_num or 0) < int(b_num or 0) else 1
    return 0


def _split(version):
    epoch, _, rest = version.rpartition(":") if ":" in version else ("0", "", version)
    upstream, _, revision = rest.rpartition("-") if "-" in rest else (rest, "", "")
    return int(epoch or 0), upstream, revision


def compare(a, b):
    """-1, 0 or 1 as version a sorts before, with or after version b."""
    (a_epoch, a_up, a_rev), (b_epoch, b_up, b_rev) = _split(a), _split(b)
    if a_epoch != b_epoch:
        return -1 if a_epoch < b_epoch else 1
    return _compare_part(a_up, b_up) or _compare_part(a_rev, b_rev)


_RELATION = re.compile(r"\s*([^\s:(]+)(?::(\S+?))?\s*(?:\(\s*(<<|<=|=|>=|>>|<|>)\s*([^\s)]+)\s*\))?\s*$")


def relations(field):
    """A relation field as a list of groups of alternatives, each (name, qualifier, op, version)."""
    groups = []
    for group in filter(str.strip, (field or "").split(",")):
        groups.append([m.groups() for m in map(_RELATION.match, group.split("|")) if m])
    return groups


def satisfies(version, op, wanted):
    """Whether version meets the relation op wanted (no op: any version does)."""
    if not op:
        return True
    c = compare(version, wanted)
    return {"<<": c < 0, "<": c <= 0, "<=": c <= 0, "=": c == 0,
            ">=": c >= 0, ">": c >= 0, ">>": c > 0}[op]
