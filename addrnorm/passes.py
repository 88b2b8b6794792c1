"""Blocking passes: which near-duplicate keys a record is blocked on.

One typo in a street or a house number, or a house number left out, changes
every key of a record, so keys over the full record alone miss most of the
duplicates that real data holds.  Each pass therefore keys the record again
with one field left out, and the name pass keys it on its name and place
alone: a duplicate with one field wrong still shares the keys of the pass
that leaves that field out.  More passes find more candidates; the pairwise
check, not the keys, decides which of them are duplicates.
"""
import re

import addrnorm

# In the order they run; the command's --passes names them.
PASSES = ("full", "no_house_number", "no_street", "name")
DEFAULT_PASSES = PASSES

# The field each leave-one-out pass leaves out.
LEFT_OUT = {"no_house_number": "house_number", "no_street": "road"}

# The name pass keys a record on its name and place only.
NAME_ONLY = {"name_only_keys": 1, "name_and_address_keys": 0, "address_only_keys": 0, "with_name": 1}


# A street that starts with its house number ("598 Court Road"): the number,
# then at least two words, one with a letter; "36 Hwy" is a street of its
# own, its ordinal written short.
_NUMBER_AT_HEAD = re.compile(r"\s*(\d+[^\W\d_]?)\s+(\S+\s+\S.*)", re.DOTALL)
_LETTER = re.compile(r"[^\W\d_]")


def house_number_from_street(labels, values):
    """labels, values, with the house number taken from the head of the
    street when the record has no house number of its own: "598 Court Road"
    and "Court Rd", 598, are one address, and neither keys nor the check
    would see it otherwise."""
    if "house_number" in labels or "road" not in labels:
        return labels, values
    at = labels.index("road")
    head = _NUMBER_AT_HEAD.fullmatch(values[at])
    if head is None or not _LETTER.search(head.group(2)):
        return labels, values
    return (labels[:at] + ["house_number", "road"] + labels[at + 1:],
            values[:at] + [head.group(1), head.group(2)] + values[at + 1:])


def check_passes(names):
    """The passes named, in running order; ValueError for a name not known."""
    unknown = [name for name in names if name not in PASSES]
    if unknown:
        raise ValueError("no pass %s (the passes: %s)" % (", ".join(map(repr, unknown)), ", ".join(PASSES)))
    if not names:
        raise ValueError("at least one pass is needed (the passes: %s)" % ", ".join(PASSES))
    return tuple(name for name in PASSES if name in names)


def pass_calls(labels, values, keywords, passes):
    """(pass, labels, values, keywords) of each near_dupe_hashes call that the
    passes make for one record.  A leave-one-out pass on a record without its
    field, or a name pass on a record without a name, would repeat the full
    pass's keys, so it makes no call.  libpostal makes name-only keys apart
    from the others, and most of a call's cost is in reading the record, so
    the full and name passes share one call (unless names are left out of
    the full pass's keys)."""
    calls = []
    together = "full" in passes and "name" in passes and "house" in labels and keywords.get("with_name", 1)
    for name in passes:
        if name == "full":
            calls.append(("full+name", labels, values, dict(keywords, name_only_keys=1)) if together
                         else (name, labels, values, keywords))
        elif name == "name":
            if "house" in labels and not together:
                calls.append((name, labels, values, dict(keywords, **NAME_ONLY)))
        else:
            left_out = LEFT_OUT[name]
            if left_out in labels:
                kept = [index for index, label in enumerate(labels) if label != left_out]
                calls.append((name, [labels[index] for index in kept], [values[index] for index in kept], keywords))
    return calls


def record_keys(labels, values, keywords, passes):
    """The distinct keys of one record over the passes, as str."""
    keys = set()
    for _, call_labels, call_values, call_keywords in pass_calls(labels, values, keywords, passes):
        keys.update(addrnorm.near_dupe_hashes(call_labels, call_values, **call_keywords) or ())
    return keys


def key_numbers(keys):
    """The keys as 64-bit integers, which is all that blocking needs: 8 bytes
    a key instead of a str of 60, so that ten million records with dozens of
    keys each fit on disk and through a sort.  The interpreter's str hash is
    the same in a forked worker as in its parent; two keys that collide only
    bring one more pair to the check."""
    return [hash(key) for key in keys]
