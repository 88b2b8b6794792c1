"""One call of each library module's function, for the programs here."""

CALL = {
    "_expand": lambda m: m.expand_address('Main St'),
    "_kinhash": lambda m: m.near_dupe_hashes(['road', 'city'], ['Main St', 'Springfield']),
    "_duplicate": lambda m: m.is_street_duplicate('Main St', 'Main Street'),
    "_text": lambda m: m.classify_language('Main St'),
    "_parser": lambda m: m.parse_address('781 Franklin Ave, Brooklyn'),
}
