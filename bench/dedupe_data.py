"""Synthetic place and person records with known duplicates, for measuring
the de-duplication (bench/dedupe.py) on data of any size.

    python bench/dedupe_data.py --kind places|persons --records N --seed S --out FILE.csv [--truth FILE]

Names, streets, towns and postcodes come from Faker in eight locales (en_US,
en_GB, de_DE, fr_FR, es_ES, it_IT, nl_NL, pt_BR), and streets are written
the way each language writes them (Goethestraße / Goethestr., rue Victor
Hugo / r. Victor Hugo, Calle Mayor / C/ Mayor, Kerkstraat / Kerkstr), so
that libpostal's multilingual expansions have work to do.  Faker is slow
per call: pools are drawn from it once, for the seed, and records are drawn
from the pools, so ten million records take minutes.

Towns grow in number with the records, as in real files: about a dozen for
5,000 records, several thousand for ten million; a town has its own
postcodes and streets, and a few towns hold most records.  Distinct
entities crowd together on purpose: neighbours on one street, tenants of
one building, households (persons sharing a surname at one address),
chains (places with one name at many addresses), namesakes.  About 30% of
the entities get 1 to 3 duplicates, each with 1 to 3 of the changes real
data has (see CHANGES): typos, the street type abbreviated or expanded in
its language or left out, missing fields, name order swapped, the house
number in the street, the postcode or town mistyped, changed or missing,
capitals.

Columns: places id,name,number,street,zip,town; persons
id,given,surname,number,street,unit,zip,town; then entity unless --truth
FILE is given, which then holds id,entity,changes (changes: empty for an
entity's first record, else what the duplicate changed, joined by "+").  id
is the record's row from 0, so record id is on line id + 2 (no field holds
a line break).  Records are made and shuffled in windows of --window
records, each window with its own random generator seeded from the seed
and the window's number, so memory stays bounded for any --records and the
same seed gives the same file with the same Faker release.
"""
import argparse
import csv
import functools
import itertools
import random
import sys

LOCALES = ["en_US", "en_GB", "de_DE", "fr_FR", "es_ES", "it_IT", "nl_NL", "pt_BR"]
# Share of towns in each locale.
LOCALE_WEIGHTS = [24, 12, 16, 14, 10, 10, 7, 7]

# Each locale's street types: (full form, abbreviations, weight); and how the
# type joins the street's own name: "suffix" (Main Street), "joined" (the
# type glued to a one-word name: Goethestraße, Kerkstraat; else as a
# suffix) or "prefix" (rue Victor Hugo, Calle Mayor).  The abbreviations are
# those the language uses, which libpostal's dictionaries know.
STREET_TYPES = {
    "en_US": ("suffix", [("Street", ["St", "St."], 30), ("Avenue", ["Ave", "Av"], 18), ("Road", ["Rd"], 12),
                         ("Drive", ["Dr"], 10), ("Lane", ["Ln"], 6), ("Boulevard", ["Blvd"], 4),
                         ("Court", ["Ct"], 5), ("Place", ["Pl"], 4), ("Parkway", ["Pkwy"], 2),
                         ("Terrace", ["Ter"], 2)]),
    "en_GB": ("suffix", [("Road", ["Rd"], 30), ("Street", ["St"], 22), ("Lane", ["Ln"], 10),
                         ("Avenue", ["Ave"], 8), ("Close", ["Cl"], 8), ("Crescent", ["Cres"], 5),
                         ("Gardens", ["Gdns"], 4), ("Drive", ["Dr"], 6), ("Terrace", ["Terr"], 3),
                         ("Square", ["Sq"], 2)]),
    "de_DE": ("joined", [("Straße", ["Str.", "Str", "Strasse"], 50), ("Weg", [], 15), ("Allee", [], 6),
                         ("Platz", ["Pl."], 6), ("Ring", [], 5), ("Gasse", [], 4)]),
    "fr_FR": ("prefix", [("rue", ["r.", "r"], 45), ("avenue", ["av.", "ave"], 15), ("boulevard", ["bd", "bld"], 10),
                         ("place", ["pl."], 6), ("chemin", ["ch."], 8), ("allée", ["all."], 6),
                         ("impasse", ["imp."], 6), ("quai", [], 3)]),
    "es_ES": ("prefix", [("Calle", ["C/", "c/", "Cl."], 55), ("Avenida", ["Avda.", "Av."], 15),
                         ("Plaza", ["Pza.", "Pl."], 8), ("Paseo", ["Pº", "Po."], 6), ("Camino", ["Cno."], 6),
                         ("Carretera", ["Ctra."], 5), ("Ronda", ["Rda."], 3)]),
    "it_IT": ("prefix", [("Via", ["V."], 60), ("Viale", ["V.le"], 12), ("Piazza", ["P.zza", "P.za"], 10),
                         ("Corso", ["C.so"], 8), ("Vicolo", ["Vic."], 5), ("Largo", ["L.go"], 5)]),
    "nl_NL": ("joined", [("straat", ["str", "str."], 45), ("laan", ["ln"], 18), ("weg", [], 15),
                         ("plein", ["pln"], 6), ("gracht", ["gr"], 5), ("kade", [], 5), ("singel", ["sngl"], 3)]),
    "pt_BR": ("prefix", [("Rua", ["R.", "R"], 55), ("Avenida", ["Av.", "Av"], 20), ("Travessa", ["Tv.", "Trav."], 8),
                         ("Praça", ["Pç.", "Pca"], 5), ("Alameda", ["Al."], 5), ("Estrada", ["Estr."], 4),
                         ("Rodovia", ["Rod."], 3)]),
}

# Where the house number goes when it is written into the street.
NUMBER_FIRST = {"en_US", "en_GB", "fr_FR"}

# Words joining two names in a company's name, per language: a duplicate may
# write them another way.
AND_WORDS = ["&", "and", "und", "et", "y", "e", "en"]
# Legal forms a duplicate may leave out (longest first, so that "GmbH & Co.
# KG" goes whole).
LEGAL_FORMS = sorted(["Inc", "Inc.", "LLC", "Ltd", "Ltd.", "PLC", "plc", "Group", "and Sons", "GmbH", "AG", "e.V.",
                      "GmbH & Co. KG", "GmbH & Co. KGaA", "KG", "OHG", "SA", "SARL", "SAS", "S.A.", "S.L.",
                      "S.Coop.", "S.L.L.", "S.A.U.", "s.r.l.", "S.p.A.", "SPA", "s.n.c.", "BV", "NV", "B.V.", "N.V.",
                      "S/A", "Ltda.", "Ltda", "e Filhos", "et Fils", "S.C.S."], key=len, reverse=True)
# Kinds of venue that a name may carry, per language (a bakery, a pharmacy).
VENUE_KINDS = {
    "en_US": ["Bakery", "Pharmacy", "Hardware", "Cafe", "Diner", "Dental Care", "Auto Repair", "Books", "Market"],
    "en_GB": ["Bakery", "Chemist", "Hardware", "Cafe", "Pub", "Dental Surgery", "Garage", "Books", "Butchers"],
    "de_DE": ["Bäckerei", "Apotheke", "Metzgerei", "Café", "Gasthaus", "Zahnarztpraxis", "Autowerkstatt",
              "Buchhandlung"],
    "fr_FR": ["Boulangerie", "Pharmacie", "Boucherie", "Café", "Brasserie", "Cabinet Dentaire", "Garage", "Librairie"],
    "es_ES": ["Panadería", "Farmacia", "Ferretería", "Cafetería", "Bar", "Clínica Dental", "Taller", "Librería"],
    "it_IT": ["Panificio", "Farmacia", "Ferramenta", "Bar", "Trattoria", "Studio Dentistico", "Officina", "Libreria"],
    "nl_NL": ["Bakkerij", "Apotheek", "IJzerwaren", "Café", "Eetcafé", "Tandartspraktijk", "Garage", "Boekhandel"],
    "pt_BR": ["Padaria", "Farmácia", "Ferragens", "Café", "Restaurante", "Clínica Odontológica", "Oficina",
              "Livraria"],
}
UNIT_FORMS = {
    "en_US": ["Apt %s", "Apt %s", "Unit %s", "#%s", "Suite %s"], "en_GB": ["Flat %s", "Flat %s", "Apartment %s"],
    "de_DE": ["Whg. %s", "Wohnung %s", "App. %s"], "fr_FR": ["Appt %s", "Appartement %s", "Apt %s"],
    "es_ES": ["Piso %s", "Pta. %s", "Puerta %s"], "it_IT": ["Int. %s", "Interno %s", "Scala %s"],
    "nl_NL": ["%s", "Appartement %s", "App %s"], "pt_BR": ["Apto %s", "Apartamento %s", "Ap. %s"],
}

# Towns for a file of records: about 0.03 n^0.75 (12 for 5,000, 170 for
# 100,000, 950 for a million, 5,300 for ten million).
def town_count(records):
    return max(3, int(round(0.03 * max(records, 1) ** 0.75)))


# How much of each pool is drawn from Faker, per locale: enough that common
# names repeat (namesakes) without every one being common.
POOL = {"first": 400, "last": 900, "company": 600, "city": 1500, "postcode": 3000}

LETTERS = "abcdefghijklmnopqrstuvwxyz"
DIGITS = "0123456789"


@functools.lru_cache(maxsize=2)
def faker_pools(seed):
    """{locale: {pool: [values]}}, drawn once from Faker seeded for the seed
    (and kept: the pools are only read)."""
    import faker

    pools = {}
    for index, locale in enumerate(LOCALES):
        fake = faker.Faker(locale)
        # it_IT's towns are a list made from a set, in the order of the
        # interpreter's string hashing, which changes from run to run:
        # sorted, they are the same in every run.
        for provider in fake.providers:
            towns = vars(type(provider)).get("cities")
            if isinstance(towns, list):
                towns.sort()
        fake.seed_instance(seed * 100 + index)
        pool = {
            "first": [fake.first_name() for _ in range(POOL["first"])],
            "last": [fake.last_name() for _ in range(POOL["last"])],
            "company": [fake.company() for _ in range(POOL["company"])],
            "city": sorted(set(fake.city() for _ in range(POOL["city"]))),
            "postcode": [fake.postcode() for _ in range(POOL["postcode"])],
        }
        if locale == "pt_BR":
            # Brazil writes its CEP as 12345-678.
            pool["postcode"] = [code if "-" in code else code[:5] + "-" + code[5:] for code in pool["postcode"]]
        pools[locale] = pool
    return pools


def zipf_pick(rng, items, skew=1.2):
    """An item of items, early ones far more often (names and streets are
    used that way)."""
    return items[int(len(items) * rng.random() ** (1 + skew))]


class Town:
    __slots__ = ("name", "locale", "postcodes", "streets")


class Universe:
    """The towns of a file, each with its postcodes and its streets (a street
    is (locale, its own name, type index, postcode)); a few towns, and in
    each a few streets, hold most records."""

    def __init__(self, seed, records, pools):
        rng = random.Random("towns:%d" % seed)
        self.pools = pools
        self.towns = []
        for index in range(town_count(records)):
            locale = rng.choices(LOCALES, LOCALE_WEIGHTS)[0]
            pool = pools[locale]
            town = Town()
            town.locale = locale
            town.name = rng.choice(pool["city"])
            # Town sizes fall as 1/rank: big towns get more postcodes and streets.
            size = 1.0 / (index + 1) ** 0.9
            town.postcodes = sorted(set(rng.choice(pool["postcode"]) for _ in range(1 + int(8 * size ** 0.5 +
                                                                                           rng.random() * 2))))
            style, types = STREET_TYPES[locale]
            weights = [weight for _, _, weight in types]
            streets = []
            for _ in range(15 + int(400 * size ** 0.6)):
                what = rng.random()
                if what < 0.55:
                    base = zipf_pick(rng, pool["last"], 0.5)
                elif what < 0.8:
                    base = "%s %s" % (rng.choice(pool["first"]), zipf_pick(rng, pool["last"], 0.5))
                else:
                    base = rng.choice(pool["city"])
                streets.append((base, rng.choices(range(len(types)), weights)[0], rng.choice(town.postcodes)))
            town.streets = streets
            self.towns.append(town)
        self.cumulative = list(itertools.accumulate(1.0 / (rank + 1) ** 0.9 for rank in range(len(self.towns))))

    def town(self, rng):
        at = rng.random() * self.cumulative[-1]
        low, high = 0, len(self.cumulative) - 1
        while low < high:
            middle = (low + high) // 2
            if self.cumulative[middle] < at:
                low = middle + 1
            else:
                high = middle
        return self.towns[low]


def typo(rng, text):
    """One keystroke wrong: a letter inserted, dropped, replaced, or two
    swapped, somewhere past the first letter (people rarely miss that one)."""
    if len(text) < 3:
        return text
    at = rng.randint(1, len(text) - 1)
    what = rng.random()
    pool = DIGITS if text[at].isdigit() else LETTERS
    if what < 0.25:
        return text[:at] + rng.choice(pool) + text[at:]
    if what < 0.5:
        return text[:at] + text[at + 1:]
    if what < 0.75:
        letter = rng.choice(pool)
        return text[:at] + (letter.upper() if text[at].isupper() else letter) + text[at + 1:]
    if at == len(text) - 1:
        at -= 1
    return text[:at] + text[at + 1] + text[at] + text[at + 2:]


def typo_in_a_word(rng, text):
    words = text.split(" ")
    long_ones = [index for index, word in enumerate(words) if len(word) >= 4 and word.isalpha()]
    if not long_ones:
        return typo(rng, text)
    index = rng.choice(long_ones)
    words[index] = typo(rng, words[index])
    return " ".join(words)


class Record:
    """One record as made: a street is kept as its parts (its own name, its
    type and the form the type is written in) so that changes can rewrite
    the type; street_text, once set, is the street as written."""
    __slots__ = ("locale", "name", "given", "surname", "number", "base", "kind", "form", "street_text", "unit",
                 "zip", "town")

    def copy(self):
        other = Record()
        for slot in Record.__slots__:
            setattr(other, slot, getattr(self, slot))
        return other

    def street(self):
        """The street as written: form is 0 for the full type, 1 + i for
        abbreviation i, None for no type, or a str written as the type."""
        if self.street_text is not None:
            return self.street_text
        style, types = STREET_TYPES[self.locale]
        full, short, _ = types[self.kind]
        if self.form is None:
            return self.base
        written = self.form if isinstance(self.form, str) else full if self.form == 0 else short[self.form - 1]
        if style == "prefix":
            return written + " " + self.base
        if style == "joined" and " " not in self.base:
            # Goethestraße, Goethestr.; Kerkstraat, Kerkstr.
            return self.base + written.lower()
        return self.base + " " + written


# The changes a duplicate may get: each rewrites the record in place (and
# may find nothing to change: another is then drawn).
def change_name_typo(rng, record):
    if record.given is not None and rng.random() < 0.5:
        record.given = typo(rng, record.given)
    elif record.surname is not None:
        record.surname = typo_in_a_word(rng, record.surname)
    else:
        record.name = typo_in_a_word(rng, record.name)


def change_street_typo(rng, record):
    if record.street_text is not None:
        record.street_text = typo_in_a_word(rng, record.street_text)
    else:
        record.base = typo_in_a_word(rng, record.base)


def change_street_type(rng, record):
    """The type written another way in its language: full for abbreviated
    and the reverse, or left out."""
    if record.street_text is not None:
        return
    _, types = STREET_TYPES[record.locale]
    full, short, _ = types[record.kind]
    what = rng.random()
    if what < 0.8:
        if record.form == 0 and short:
            record.form = 1 + rng.randrange(len(short))
        elif record.form == 0:
            record.form = typo(rng, full) if len(full) > 3 else None
        else:
            record.form = 0
    else:
        record.form = None


def change_number_typo(rng, record):
    number = record.number
    if not number:
        return
    what = rng.random()
    if len(number) >= 2 and what < 0.3:
        at = rng.randint(0, len(number) - 2)
        swapped = number[:at] + number[at + 1] + number[at] + number[at + 2:]
        record.number = swapped if swapped != number and swapped[0] != "0" else number + rng.choice(DIGITS)
    elif len(number) >= 2 and what < 0.55:
        at = rng.randint(1, len(number) - 1)
        record.number = number[:at] + number[at + 1:]
    else:
        at = rng.randint(0, len(number) - 1)
        digit = rng.choice("123456789" if at == 0 else DIGITS)
        record.number = number[:at] + (digit if digit != number[at] else str((int(digit) + 1) % 10 or 1)) + \
            number[at + 1:]


def change_number_missing(rng, record):
    record.number = ""


def change_number_in_street(rng, record):
    if record.number:
        street = record.street()
        first = record.locale in NUMBER_FIRST
        record.street_text = "%s %s" % ((record.number, street) if first else (street, record.number))
        record.number = ""


def change_name_form(rng, record):
    """Persons: the given name as an initial.  Places: the legal form left
    out, the joining word written another way, or an article added."""
    if record.given is not None:
        if len(record.given) > 2:
            record.given = record.given[0] + "."
        return
    name = record.name
    for form in LEGAL_FORMS:
        if name.endswith(" " + form):
            record.name = name[:-len(form) - 1].rstrip(",")
            return
    words = name.split(" ")
    for index, word in enumerate(words):
        if word in AND_WORDS:
            words[index] = "&" if word != "&" else rng.choice(["and", "und", "et", "y", "e", "en"])
            record.name = " ".join(words)
            return
    for kind in VENUE_KINDS[record.locale]:
        if name.startswith(kind + " "):
            record.name = name[len(kind) + 1:]
            return
    if "-" in name:
        record.name = name.replace("-", " ", 1)
    else:
        record.name = name + " " + rng.choice(VENUE_KINDS[record.locale])


def change_swap(rng, record):
    """Persons: given name and surname in each other's column, or the unit
    and the house number."""
    if record.unit and record.number and rng.random() < 0.3:
        record.unit, record.number = record.number, record.unit
    else:
        record.given, record.surname = record.surname, record.given


def change_unit(rng, record):
    if not record.unit:
        return
    value = record.unit.split(" ")[-1].lstrip("#")
    if rng.random() < 0.3:
        record.unit = ""
    else:
        forms = [form % value for form in UNIT_FORMS[record.locale] + ["%s"] if form % value != record.unit]
        record.unit = rng.choice(forms)


def change_postcode(rng, record):
    code = record.zip
    what = rng.random()
    positions = [at for at, character in enumerate(code) if character.isalnum()]
    if what < 0.35 or len(positions) < 3:
        record.zip = ""
    elif what < 0.75:
        at = rng.choice(positions[1:])
        character = code[at]
        pool = DIGITS if character.isdigit() else LETTERS.upper()
        record.zip = code[:at] + rng.choice([c for c in pool if c != character]) + code[at + 1:]
    else:
        # Written without its space or hyphen, or with one.
        if " " in code or "-" in code:
            record.zip = code.replace(" ", "").replace("-", "")
        else:
            record.zip = ""


def change_town(rng, record):
    what = rng.random()
    if what < 0.45 or not record.town:
        record.town = ""
    elif what < 0.8:
        record.town = typo_in_a_word(rng, record.town)
    else:
        record.town = record.town.upper() if not record.town.isupper() else record.town.lower()


def change_capitals(rng, record):
    if record.name is not None:
        record.name = record.name.upper()
    else:
        record.given, record.surname = record.given.upper(), record.surname.upper()
    record.street_text = record.street().upper()
    record.town = record.town.upper()


# (name, weight, places, persons, function)
CHANGES = [
    ("name_typo", 14, True, True, change_name_typo),
    ("street_typo", 12, True, True, change_street_typo),
    ("street_type", 14, True, True, change_street_type),
    ("number_typo", 7, True, True, change_number_typo),
    ("number_missing", 5, True, True, change_number_missing),
    ("number_in_street", 5, True, True, change_number_in_street),
    ("name_form", 10, True, True, change_name_form),
    ("swap", 8, False, True, change_swap),
    ("unit", 5, False, True, change_unit),
    ("postcode", 10, True, True, change_postcode),
    ("town", 8, True, True, change_town),
    ("capitals", 3, True, True, change_capitals),
]


class Generator:
    """Entities one by one, each as its record and its duplicates, drawn with
    one window's random generator.  Distinct entities share on purpose: a
    recent entity's address (another venue in the building, another flat),
    a household (persons: the same flat and surname), a chain's name."""

    def __init__(self, kind, universe, chains, rng):
        self.kind, self.universe, self.chains, self.rng = kind, universe, chains, rng
        self.recent = []
        self.recent_at = 0
        self.changes = [(name, weight, function) for name, weight, places, persons, function in CHANGES
                        if (persons if kind == "persons" else places)]
        self.change_weights = list(itertools.accumulate(weight for _, weight, _ in self.changes))

    def remember(self, record):
        if len(self.recent) < 2000:
            self.recent.append(record)
        else:
            self.recent[self.recent_at] = record
            self.recent_at = (self.recent_at + 1) % len(self.recent)

    def address(self, record):
        rng = self.rng
        town = self.universe.town(rng)
        # Busy streets: a few streets of a town hold most of its records.
        base, kind, code = town.streets[int(len(town.streets) * rng.random() ** 2.5)]
        record.locale, record.town, record.base, record.kind, record.zip = town.locale, town.name, base, kind, code
        record.form = 0 if rng.random() < 0.6 else 1 if STREET_TYPES[town.locale][1][kind][1] else 0
        # House numbers of 1 to 4 digits, mostly 1 to 3: within a street a
        # number is shared by chance now and then.
        digits = rng.random()
        digits = 1 if digits < 0.3 else 2 if digits < 0.7 else 3 if digits < 0.95 else 4
        record.number = str(rng.randint(1 if digits == 1 else 10 ** (digits - 1), 10 ** digits - 1))
        if rng.random() < 0.05:
            record.number += rng.choice("abAB")

    def entity(self):
        rng = self.rng
        record = Record()
        record.name = record.given = record.surname = record.street_text = None
        record.unit = ""
        shared = rng.random()
        model = None
        if len(self.recent) >= 50 and shared < (0.12 if self.kind == "places" else 0.3):
            model = rng.choice(self.recent)
            for slot in ("locale", "town", "base", "kind", "zip", "form", "number"):
                setattr(record, slot, getattr(model, slot))
        else:
            self.address(record)
        pools = self.universe.pools
        if self.kind == "places":
            what = rng.random()
            if what < 0.1:
                record.name = rng.choice(self.chains)
            elif what < 0.75:
                record.name = zipf_pick(rng, pools[record.locale]["company"], 0.3)
            else:
                record.name = "%s %s" % (rng.choice(VENUE_KINDS[record.locale]),
                                         zipf_pick(rng, pools[record.locale]["last"]))
        else:
            # Most people carry names of the town's language, some another's.
            locale = record.locale if rng.random() < 0.8 else rng.choice(LOCALES)
            record.given = zipf_pick(rng, pools[locale]["first"])
            record.surname = zipf_pick(rng, pools[locale]["last"])
            forms = UNIT_FORMS[record.locale]
            if model is not None and shared < 0.08:
                # A household: the same flat, the same surname.
                record.surname, record.unit = model.surname, model.unit
            elif model is not None:
                record.unit = rng.choice(forms) % rng.randint(1, 40)
            elif rng.random() < 0.3:
                record.unit = rng.choice(forms) % (str(rng.randint(1, 30)) +
                                                   (rng.choice("ABCD") if rng.random() < 0.3 else ""))
        self.remember(record)
        copies = []
        if rng.random() < 0.3:
            for _ in range(rng.randint(1, 3)):
                copy = record.copy()
                how = []
                wanted = rng.randint(1, 3)
                # A change may find nothing to change: another is drawn, so
                # that every duplicate differs from its entity's first record.
                for _ in range(20):
                    name, _, function = rng.choices(self.changes, cum_weights=self.change_weights)[0]
                    if name in how:
                        continue
                    before = row(self.kind, copy)
                    function(rng, copy)
                    if row(self.kind, copy) != before:
                        how.append(name)
                        if len(how) == wanted:
                            break
                if how:
                    copies.append((copy, "+".join(how)))
        return record, copies


def header(kind):
    if kind == "persons":
        return ["id", "given", "surname", "number", "street", "unit", "zip", "town"]
    return ["id", "name", "number", "street", "zip", "town"]


def row(kind, record):
    if kind == "persons":
        return [record.given, record.surname, record.number, record.street(), record.unit, record.zip, record.town]
    return [record.name, record.number, record.street(), record.zip, record.town]


def generate(kind, records, seed, out, truth=None, window=100000):
    """Writes the records to the open text file out (and the truth to truth,
    else as a last column of out); returns the number of entities."""
    if kind not in ("places", "persons"):
        raise ValueError("kind is places or persons, not %r" % kind)
    pools = faker_pools(seed)
    universe = Universe(seed, records, pools)
    chain_rng = random.Random("chains:%d" % seed)
    chains = [chain_rng.choice(pools[chain_rng.choice(LOCALES)]["company"]) for _ in range(20)]
    writer = csv.writer(out, lineterminator="\n")
    truth_writer = csv.writer(truth, lineterminator="\n") if truth is not None else None
    writer.writerow(header(kind) + ([] if truth_writer else ["entity"]))
    if truth_writer:
        truth_writer.writerow(["id", "entity", "changes"])
    written = entities = 0
    for number in itertools.count():
        if written >= records:
            break
        rng = random.Random("%s:%d:%d" % (kind, seed, number))
        generator = Generator(kind, universe, chains, rng)
        batch = []
        while len(batch) < window and written + len(batch) < records:
            original, copies = generator.entity()
            batch.append((row(kind, original), entities, ""))
            for copy, how in copies:
                batch.append((row(kind, copy), entities, how))
            entities += 1
        # The last entity's copies may overshoot the window: those past it
        # go, so an entity never straddles two windows.
        del batch[min(window, records - written):]
        rng.shuffle(batch)
        for fields, entity, how in batch:
            if truth_writer:
                writer.writerow([written] + fields)
                truth_writer.writerow([written, entity, how])
            else:
                writer.writerow([written] + fields + [entity])
            written += 1
    return entities


def read_truth(path):
    """[(entity, changes)] by record id, from a truth file or from a data file
    with an entity column."""
    with open(path, newline="", encoding="utf-8") as source:
        reader = csv.reader(source)
        names = next(reader)
        entity_at = names.index("entity")
        changes_at = names.index("changes") if "changes" in names else None
        return [(int(fields[entity_at]), fields[changes_at] if changes_at is not None else "")
                for fields in reader]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kind", choices=["places", "persons"], required=True)
    parser.add_argument("--records", type=int, required=True, help="how many records, duplicates included")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", required=True, help="the CSV file to write")
    parser.add_argument("--truth", help="write id,entity,changes here instead of an entity column in --out")
    parser.add_argument("--window", type=int, default=100000, help="records made together (default: 100000)")
    options = parser.parse_args(argv)
    if options.records < 0 or options.window < 1:
        parser.error("--records takes 0 or more, --window 1 or more")
    with open(options.out, "w", newline="", encoding="utf-8") as out:
        if options.truth:
            with open(options.truth, "w", newline="", encoding="utf-8") as truth:
                entities = generate(options.kind, options.records, options.seed, out, truth, options.window)
        else:
            entities = generate(options.kind, options.records, options.seed, out, None, options.window)
    sys.stderr.write("%d records of %d entities\n" % (options.records, entities))
    return 0


if __name__ == "__main__":
    sys.exit(main())
