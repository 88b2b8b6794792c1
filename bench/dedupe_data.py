"""Synthetic place and person records with known duplicates, for measuring
the whole de-duplication workflow (bench/dedupe.py) on data of any size.

    python bench/dedupe_data.py --kind places|persons --records N --seed S --out FILE.csv [--truth FILE]

Records are US-style: a venue's name (places) or a person's name (persons), a
house number, a street, a unit (persons, sometimes), a postcode and a city.
The same seed gives the same file, byte for byte, on every CPython 3.

Real files are hard to de-duplicate because distinct records crowd together:
a street with hundreds of addresses, a mall or an apartment building whose
tenants share street, number and postcode, a household sharing a family name,
a chain with the same name at many addresses, namesakes.  So the generator
makes those on purpose, and makes 1 to 3 duplicates of about 30% of the
entities, each duplicate with 1 to 3 of the changes that real data has: typos
in names and streets, the street type abbreviated, expanded, misspelled or
left out, the house number mistyped, left out or written into the street,
names written another way (swapped, initials, without the venue's kind),
the unit written another way, swapped with the house number or left out, the
postcode or city mistyped, changed or left out, and the record in capitals.

Columns: id,name,number,street,[unit,]zip,town, then entity unless --truth
FILE is given, which then holds id,entity,changes (changes: empty for an
entity's first record, else what the duplicate changed, joined by "+").  id
is the record's row, counting from 0, so record id is on line id + 2 of the
file (no field holds a line break).  Rows are shuffled within windows of
--window records, so memory stays bounded for any --records; an entity's
records never straddle two windows.
"""
import argparse
import csv
import itertools
import random
import sys

# Street names: common American ones, trees, presidents, places, ordinals.
STREET_BASES = """
Main Church Park Mill School Spring Water Center Market Bridge High Union Washington Lincoln Jefferson Madison
Monroe Adams Jackson Franklin Hamilton Grant Wilson Harrison Cleveland Garfield Roosevelt Kennedy Taylor Polk
Tyler Pierce Hayes Arthur Coolidge Hoover Oak Maple Pine Cedar Elm Walnut Birch Willow Chestnut Hickory Ash
Spruce Poplar Sycamore Magnolia Dogwood Laurel Cherry Juniper Aspen Hemlock Cypress Alder Locust Beech Holly
Mulberry Lake Hill River Forest Meadow Valley Ridge Sunset Highland Prospect Pleasant Lakeview Riverside
Hillside Woodland Fairview Greenwood Brookside Orchard Grove Bay Harbor Ocean Beach Shore Canyon Mesa Summit
Cliff Glen Creek Pond Marsh Prairie Heather Rose Ivy Clover Lilac Daisy Jasmine Sunflower Vine Fern Moss Stone
Granite Marble Iron Copper Silver Gold Crystal Amber Coral Pearl Colonial Academy College Court Depot Factory
Railroad Station Temple Chapel Mission Liberty Independence Commerce Industrial Enterprise Heritage Pioneer
Frontier Country Village Town County State Broad Front Cross Canal Dock Ferry Wharf Pier Terrace Plaza Central
North South East West Hudson Delaware Potomac Ohio Mississippi Missouri Colorado Columbia Charles Cambridge
Oxford Essex Kent Sussex Devon Salem Concord Lexington Plymouth Bedford Hartford Albany Boston Chicago Denver
Dallas Phoenix Austin Savannah Virginia Carolina Georgia Florida Dakota Nevada Vermont Maryland Jersey Wyoming
Montana Arizona Oregon Kansas Alabama Cherokee Seneca Mohawk Iroquois Shawnee Apache Navajo Sioux Erie Huron
Ontario Superior Michigan Willard Bradford Sherman Sheridan Custer Mason Dixon Emerson Thoreau Whitman Irving
Poe Hawthorne Longfellow Edison Morse Fulton Stanford Carnegie Vanderbilt Astor Rockefeller Morgan Baker
Carpenter Fisher Cooper Turner Walker Hunter Porter Miller Parker Spencer Warren Webster Wells Wheeler Young
King Queen Prince Duke Earl Bishop Abbey Cardinal Eagle Falcon Hawk Robin Sparrow Heron Swan Fox Deer Elk Bear
Wolf Beaver Otter Buffalo
""".split() + ["%d%s" % (n, "th" if 10 <= n % 100 <= 20 else {1: "st", 2: "nd", 3: "rd"}.get(n % 10, "th"))
               for n in range(1, 61)]

# Street types as written, each with its other usual form; the weights are
# roughly how often each is seen.
STREET_TYPES = [("St", "Street", 30), ("Ave", "Avenue", 18), ("Rd", "Road", 12), ("Blvd", "Boulevard", 4),
                ("Ln", "Lane", 6), ("Dr", "Drive", 10), ("Ct", "Court", 5), ("Pl", "Place", 4), ("Way", "Way", 3),
                ("Ter", "Terrace", 2), ("Pkwy", "Parkway", 2), ("Cir", "Circle", 2), ("Hwy", "Highway", 2)]

# Cities with their state and the first ZIP code of a range of theirs.
CITIES = [
    ("New York", "NY", 10001), ("Brooklyn", "NY", 11201), ("Buffalo", "NY", 14201), ("Albany", "NY", 12202),
    ("Boston", "MA", 2108), ("Cambridge", "MA", 2138), ("Worcester", "MA", 1602), ("Providence", "RI", 2903),
    ("Hartford", "CT", 6103), ("Newark", "NJ", 7102), ("Philadelphia", "PA", 19102), ("Pittsburgh", "PA", 15212),
    ("Baltimore", "MD", 21201), ("Washington", "DC", 20001), ("Richmond", "VA", 23219), ("Raleigh", "NC", 27601),
    ("Charlotte", "NC", 28202), ("Atlanta", "GA", 30303), ("Savannah", "GA", 31401), ("Miami", "FL", 33125),
    ("Tampa", "FL", 33602), ("Orlando", "FL", 32801), ("Jacksonville", "FL", 32202), ("Nashville", "TN", 37201),
    ("Memphis", "TN", 38103), ("Louisville", "KY", 40202), ("Cleveland", "OH", 44113), ("Columbus", "OH", 43215),
    ("Cincinnati", "OH", 45202), ("Detroit", "MI", 48201), ("Chicago", "IL", 60601), ("Milwaukee", "WI", 53202),
    ("Minneapolis", "MN", 55401), ("Saint Louis", "MO", 63101), ("Kansas City", "MO", 64105),
    ("Omaha", "NE", 68102), ("New Orleans", "LA", 70112), ("Houston", "TX", 77002), ("Dallas", "TX", 75201),
    ("Fort Worth", "TX", 76102), ("San Antonio", "TX", 78205), ("Austin", "TX", 78701), ("Denver", "CO", 80202),
    ("Salt Lake City", "UT", 84101), ("Phoenix", "AZ", 85003), ("Albuquerque", "NM", 87102),
    ("Las Vegas", "NV", 89101), ("Los Angeles", "CA", 90012), ("San Diego", "CA", 92101),
    ("San Francisco", "CA", 94102), ("Sacramento", "CA", 95814), ("Portland", "OR", 97204),
    ("Seattle", "WA", 98101),
]

GIVEN = """
James Mary John Patricia Robert Jennifer Michael Linda William Elizabeth David Barbara Richard Susan Joseph Jessica
Thomas Sarah Charles Karen Christopher Nancy Daniel Lisa Matthew Betty Anthony Margaret Mark Sandra Donald Ashley
Steven Kimberly Paul Emily Andrew Donna Joshua Michelle Kenneth Dorothy Kevin Carol Brian Amanda George Melissa
Timothy Deborah Ronald Stephanie Edward Rebecca Jason Sharon Jeffrey Laura Ryan Cynthia Jacob Kathleen Gary Amy
Nicholas Angela Eric Shirley Jonathan Anna Stephen Brenda Larry Pamela Justin Emma Scott Nicole Brandon Helen
Benjamin Samantha Samuel Katherine Gregory Christine Alexander Debra Frank Rachel Patrick Carolyn Raymond Janet
Jack Catherine Dennis Maria Jerry Heather Tyler Diane Aaron Ruth Jose Julie Adam Olivia Nathan Joyce Henry
Virginia Douglas Victoria Zachary Kelly Peter Lauren Kyle Christina Ethan Joan Walter Evelyn Noah Judith Jeremy
Megan Christian Andrea Keith Cheryl Roger Hannah Terry Jacqueline Gerald Martha Harold Gloria Sean Teresa Austin
Ann Carl Sara Arthur Madison Lawrence Frances Dylan Kathryn Jesse Janice Jordan Jean Bryan Abigail Billy Alice
Joe Julia Bruce Judy Gabriel Sophia Logan Grace Albert Denise Willie Amber Alan Doris Juan Marilyn Wayne Danielle
Elijah Beverly Randy Isabella Roy Theresa Vincent Diana Ralph Natalie Eugene Brittany Russell Charlotte Bobby
Marie Mason Kayla Philip Alexis Louis Lori Wei Mei Hiroshi Yuki Priya Rahul Ahmed Fatima Carlos Lucia
""".split()

FAMILY = """
Smith Johnson Williams Brown Jones Garcia Miller Davis Rodriguez Martinez Hernandez Lopez Gonzalez Wilson
Anderson Thomas Taylor Moore Jackson Martin Lee Perez Thompson White Harris Sanchez Clark Ramirez Lewis Robinson
Walker Young Allen King Wright Scott Torres Nguyen Hill Flores Green Adams Nelson Baker Hall Rivera Campbell
Mitchell Carter Roberts Gomez Phillips Evans Turner Diaz Parker Cruz Edwards Collins Reyes Stewart Morris Morales
Murphy Cook Rogers Gutierrez Ortiz Morgan Cooper Peterson Bailey Reed Kelly Howard Ramos Kim Cox Ward Richardson
Watson Brooks Chavez Wood James Bennett Gray Mendoza Ruiz Hughes Price Alvarez Castillo Sanders Patel Myers Long
Ross Foster Jimenez Powell Jenkins Perry Russell Sullivan Bell Coleman Butler Henderson Barnes Gonzales Fisher
Vasquez Simmons Romero Jordan Patterson Alexander Hamilton Graham Reynolds Griffin Wallace Moreno West Cole Hayes
Bryant Herrera Gibson Ellis Tran Medina Aguilar Stevens Murray Ford Castro Marshall Owens Harrison Fernandez
McDonald Woods Washington Kennedy Wells Vargas Henry Chen Freeman Webb Tucker Guzman Burns Crawford Olson Simpson
Porter Hunter Gordon Mendez Silva Shaw Snyder Mason Dixon Munoz Hunt Hicks Holmes Palmer Wagner Black Robertson
Boyd Rose Stone Salazar Fox Warren Mills Meyer Rice Schmidt Garza Daniels Ferguson Nichols Stephens Soto Weaver
Ryan Gardner Payne Grant Dunn Kelley Spencer Hawkins Arnold Pierce Vazquez Hansen Peters Santos Hart Bradley
Knight Elliott Cunningham Duncan Armstrong Hudson Carroll Lane Riley Andrews Alvarado Ray Delgado Berry Perkins
Hoffman Johnston Matthews Pena Richards Contreras Willis Carpenter Lawrence Sandoval Guerrero George Chapman Rios
Estrada Ortega Watkins Greene Nunez Wheeler Valdez Harper Burke Larson Santiago Maldonado Morrison Franklin
Carlson Austin Dominguez Carr Lawson Jacobs Obrien Lynch Singh Vega Bishop Montgomery Oliver Jensen Harvey
Williamson Gilbert Dean Sims Espinoza Howell Li Wong Reid Hanson Le McCoy Garrett Burton Fuller Wang Weber Welch
Rojas Lucas Marquez Fields Park Yang Little Banks Padilla Day Walsh Bowman Schultz Luna Fowler Mejia Davidson
Acosta Brewer May Holland Juarez Newman Pearson Curtis Cortez Douglas Schneider Joseph Barrett Navarro Figueroa
Keller Avila Wade Molina Stanley Hopkins Campos Barnett Bates Chambers Caldwell Beck Lambert Miranda Byrd Craig
Ayala Lowe Frazier Powers Neal Leonard Gregory Carrillo Sutton Fleming Rhodes Shelton Schwartz Norris Jennings
Watts Duran Walters Cohen McDaniel Moran Parks Steele Vaughn Becker Holt Deleon Barker Terry Hale Leon Hail
Benson Haynes Horton Miles Lyons Pham Graves Bush Thornton Wolfe Warner Cabrera McKinney Mann Zimmerman Dawson
""".split()

ADJECTIVES = """
Golden Silver Royal Happy Lucky Blue Red Green Little Big Old New Grand Sunny Crystal Purple Jade Emerald Urban
Rustic Cozy Fresh Bright Hidden Wild Gentle Noble Sweet Spicy Magic Friendly Modern Classic Famous Original
Great Lazy Brave Quiet Tiny Starlight Harbor Corner Village Downtown Uptown Northside Eastside Westside
""".split()

NOUNS = """
Dragon Lotus Bamboo Tiger Phoenix Garden Palace Lantern Olive Lemon Fig Pepper Basil Anchor Lighthouse Compass
Owl Fox Bear Rabbit Horse Crown Castle Bridge Mill Oven Kettle Spoon Table Leaf Acorn Pine Maple Harvest Meadow
Sunrise Moon Star Comet River Stone Brick Barrel Bean Grain Honey Cedar Wheel Hammer Needle Feather
""".split()

KINDS = """
Restaurant|Cafe|Pizza|Bakery|Pharmacy|Hardware|Dental Care|Auto Repair|Dry Cleaners|Deli|Bar & Grill|Market|Books
Florist|Hair Salon|Barber Shop|Fitness|Laundromat|Pet Supply|Liquors|Diner|Tavern|Bistro|Grocery|Optical|Tailors
Insurance|Realty|Medical Clinic|Veterinary Clinic|Hotel|Motel|Inn|Bank|Credit Union|Taqueria|Sushi|Noodle House
Steakhouse|Coffee Shop|Ice Cream|Bagels|Jewelers|Shoe Repair|Hobby Shop|Music Store|Tattoo|Nail Spa|Yoga Studio
""".strip().replace("\n", "|").split("|")

FIRMS = ["Law Offices", "Associates", "Dental Group", "Insurance Agency", "Accounting", "Architects",
         "Family Practice", "Funeral Home", "Real Estate", "Plumbing & Heating", "Construction", "Landscaping"]

KINDS_LONGEST_FIRST = sorted(KINDS + FIRMS, key=len, reverse=True)

CHAINS = ["Quick Mart", "Sunrise Coffee", "Value Pharmacy", "Tasty Burger", "Corner Bakery", "Fresh Foods Market",
          "Pizza Palace", "Speedy Lube", "Dollar Depot", "Family Dental", "City Bank", "Super Wash",
          "Golden Corral", "Bean Street Coffee", "Metro Cleaners", "Fit Life Gym", "Happy Nails", "Book Nook",
          "Pet Corner", "Tire Town"]

UNIT_FORMS = ["Apt %s", "Apt %s", "Apt %s", "Unit %s", "#%s", "Suite %s", "Apartment %s"]

LETTERS = "abcdefghijklmnopqrstuvwxyz"
DIGITS = "0123456789"


class Universe:
    """The places records are drawn from: each city's postcodes, each
    postcode's streets, with a few busy streets taking most addresses."""

    def __init__(self, rng):
        self.postcodes = []   # (zip, city)
        self.city_zips = {}
        self.streets = {}     # zip -> [(base, type index)]
        type_weights = [weight for _, _, weight in STREET_TYPES]
        # Cities by size, as real ones are: a few big ones hold most
        # records, so their busy streets hold many distinct ones.
        ranks = list(range(1, len(CITIES) + 1))
        rng.shuffle(ranks)
        self.zip_weights = []
        for (city, _, first), rank in zip(CITIES, ranks):
            count = rng.randint(2, 6)
            zips = ["%05d" % (first + rng.randint(0, 3) * index + index) for index in range(count)]
            zips = sorted(set(zips))
            self.city_zips[city] = zips
            for code in zips:
                self.postcodes.append((code, city))
                self.zip_weights.append(rng.uniform(0.5, 1.0) / rank ** 0.7)
                bases = rng.sample(STREET_BASES, rng.randint(25, 60))
                self.streets[code] = [(base, rng.choices(range(len(STREET_TYPES)), type_weights)[0])
                                      for base in bases]
        self.cumulative = []
        total = 0.0
        for weight in self.zip_weights:
            total += weight
            self.cumulative.append(total)

    def address(self, rng):
        """(number, street base, street type index, zip, city), a street
        drawn with a strong skew so that busy streets have many records."""
        at = rng.random() * self.cumulative[-1]
        low, high = 0, len(self.cumulative) - 1
        while low < high:
            middle = (low + high) // 2
            if self.cumulative[middle] < at:
                low = middle + 1
            else:
                high = middle
        code, city = self.postcodes[low]
        streets = self.streets[code]
        base, kind = streets[int(len(streets) * rng.random() ** 2.5)]
        # House numbers of 1 to 4 digits, most of 3: within a street, a
        # number is shared by chance only now and then.
        digits = rng.random()
        digits = 1 if digits < 0.1 else 2 if digits < 0.35 else 3 if digits < 0.75 else 4
        number = rng.randint(1 if digits == 1 else 10 ** (digits - 1), 10 ** digits - 1)
        return [str(number), base, kind, code, city]


def typo(rng, text):
    """One keystroke wrong: a letter inserted, dropped, replaced, or two
    swapped, somewhere past the first letter (people rarely miss that one)."""
    if len(text) < 3:
        return text
    at = rng.randint(1, len(text) - 1)
    what = rng.random()
    pool = DIGITS if text[at].isdigit() else LETTERS
    if what < 0.25:
        letter = rng.choice(pool)
        return text[:at] + (letter.upper() if text[at - 1].isupper() and text.isupper() else letter) + text[at:]
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
    __slots__ = ("name", "given", "family", "middle", "number", "base", "kind", "type_form", "street_text",
                 "unit", "zip", "city")

    def copy(self):
        other = Record()
        for slot in Record.__slots__:
            setattr(other, slot, getattr(self, slot))
        return other

    def street(self):
        if self.street_text is not None:
            return self.street_text
        short, long_form, _ = STREET_TYPES[self.kind]
        if self.type_form is None:
            return self.base
        if isinstance(self.type_form, str):
            return self.base + " " + self.type_form
        return self.base + " " + (long_form if self.type_form else short)

    def full_name(self):
        if self.name is not None:
            return self.name
        return " ".join(part for part in (self.given, self.middle, self.family) if part)


# Changes: (name, weight, applies to places, applies to persons).
def change_name_typo(rng, record):
    if record.given is None or record.name is not None:
        record.name = typo_in_a_word(rng, record.name)
    elif rng.random() < 0.5:
        record.given = typo(rng, record.given)
    else:
        record.family = typo(rng, record.family)


def change_street_typo(rng, record):
    if record.street_text is not None:
        record.street_text = typo_in_a_word(rng, record.street_text)
    elif len(record.base) >= 4 and not record.base[0].isdigit():
        record.base = typo(rng, record.base)
    else:
        record.base = record.base[:-2] if record.base[0].isdigit() else typo(rng, record.base)


def change_street_type(rng, record):
    short, long_form, _ = STREET_TYPES[record.kind]
    what = rng.random()
    if what < 0.55:
        record.type_form = not record.type_form if isinstance(record.type_form, bool) else True
    elif what < 0.75:
        record.type_form = short + "." if short != long_form else typo(rng, long_form)
    elif what < 0.9 and len(long_form) > 3:
        misspelt = typo(rng, long_form)
        record.type_form = misspelt if misspelt != long_form else long_form[:-1]
    else:
        record.type_form = None


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
    elif what < 0.8:
        at = rng.randint(0, len(number) - 1)
        digit = rng.choice("123456789" if at == 0 else DIGITS)
        record.number = number[:at] + (digit if digit != number[at] else str((int(digit) + 1) % 10 or 1)) + \
            number[at + 1:]
    else:
        at = rng.randint(1, len(number))
        record.number = number[:at] + rng.choice(DIGITS) + number[at:]


def change_number_missing(rng, record):
    record.number = ""


def change_number_in_street(rng, record):
    if record.number:
        record.street_text = record.number + " " + record.street()
        record.number = ""


def change_name_form(rng, record):
    if record.given is not None and record.name is not None:
        # A person's name already rewritten whole: only its case is left.
        record.name = record.name.lower() if record.name.isupper() else record.name.upper()
        return
    if record.given is None:
        name = record.name
        for kind in KINDS_LONGEST_FIRST:
            if name.endswith(" " + kind) and rng.random() < 0.6:
                record.name = name[:-len(kind) - 1]
                return
        if " & " in name:
            record.name = name.replace(" & ", " and ")
        elif " and " in name:
            record.name = name.replace(" and ", " & ")
        elif "'s " in name:
            record.name = name.replace("'s ", "s ", 1)
        elif name.startswith("The "):
            record.name = name[4:]
        else:
            record.name = "The " + name
        return
    what = rng.random()
    if what < 0.45:
        record.given = record.given[0] + "."
    elif record.middle and what < 0.7:
        record.middle = None
    elif not record.middle and what < 0.7:
        record.middle = rng.choice(LETTERS).upper() + "."
    else:
        record.name = "%s %s" % (record.given, record.family)
        record.name = record.name.upper() if rng.random() < 0.5 else record.name.lower()


def change_swap(rng, record):
    """Persons: family name first, with or without a comma; or the unit and
    the house number in each other's columns."""
    if record.unit and record.number and rng.random() < 0.4:
        record.unit, record.number = record.number, record.unit
        return
    first = " ".join(part for part in (record.given, record.middle) if part)
    record.name = ("%s, %s" if rng.random() < 0.5 else "%s %s") % (record.family, first)


def change_unit(rng, record):
    if not record.unit:
        return
    value = record.unit.split(" ")[-1].lstrip("#")
    if rng.random() < 0.3:
        record.unit = ""
    else:
        forms = [form % value for form in UNIT_FORMS + ["%s"] if form % value != record.unit]
        record.unit = rng.choice(forms)


def make_change_postcode(universe):
    def change_postcode(rng, record):
        what = rng.random()
        code = record.zip[:5]
        if what < 0.3 or len(code) != 5:
            record.zip = ""
        elif what < 0.55:
            at = rng.randint(1, 3)
            if code[at] != code[at + 1] and rng.random() < 0.5:
                record.zip = code[:at] + code[at + 1] + code[at] + code[at + 2:]
            else:
                digit = str((int(code[at + 1]) + rng.randint(1, 9)) % 10)
                record.zip = code[:at + 1] + digit + code[at + 2:]
        elif what < 0.8:
            others = [other for other in universe.city_zips.get(record.city, ()) if other != code]
            record.zip = rng.choice(others) if others else ""
        else:
            record.zip = "%s-%04d" % (code, rng.randint(1, 9999))
    return change_postcode


def change_city(rng, record):
    what = rng.random()
    if what < 0.45:
        record.city = ""
    elif what < 0.75:
        record.city = typo_in_a_word(rng, record.city)
    elif record.city.startswith(("Saint ", "Fort ")):
        record.city = ("St " if record.city[0] == "S" else "Ft ") + record.city.split(" ", 1)[1]
    else:
        record.city = record.city.upper()


def change_capitals(rng, record):
    if record.name is None:
        record.name = record.full_name()
    record.name = record.name.upper()
    record.street_text = record.street().upper()
    record.city = record.city.upper()


def changes(universe):
    return [
        ("name_typo", 14, True, True, change_name_typo),
        ("street_typo", 12, True, True, change_street_typo),
        ("street_type", 12, True, True, change_street_type),
        ("number_typo", 7, True, True, change_number_typo),
        ("number_missing", 5, True, True, change_number_missing),
        ("number_in_street", 4, True, True, change_number_in_street),
        ("name_form", 10, True, True, change_name_form),
        ("swap", 8, False, True, change_swap),
        ("unit", 5, False, True, change_unit),
        ("postcode", 10, True, True, make_change_postcode(universe)),
        ("city", 7, True, True, change_city),
        ("capitals", 3, True, True, change_capitals),
    ]


class Generator:
    """Entities one by one, each as its record and its duplicates.  Distinct
    entities are made to share on purpose: a recent entity's address (a
    building's tenants: another venue at the same number, or another flat),
    or a household (persons: same address and family name)."""

    def __init__(self, kind, rng):
        self.kind, self.rng = kind, rng
        self.universe = Universe(rng)
        self.recent = []   # recent entities' records, a bounded ring
        self.recent_at = 0
        persons = kind == "persons"
        self.changes = [(name, weight, function) for name, weight, places, people, function in changes(self.universe)
                        if (people if persons else places)]
        self.change_weights = list(itertools.accumulate(weight for _, weight, _ in self.changes))

    def remember(self, record):
        if len(self.recent) < 2000:
            self.recent.append(record)
        else:
            self.recent[self.recent_at] = record
            self.recent_at = (self.recent_at + 1) % len(self.recent)

    def entity(self):
        rng = self.rng
        record = Record()
        record.name = record.given = record.family = record.middle = record.street_text = None
        record.unit = ""
        shared = rng.random()
        model = None
        # Not before there are enough to draw from: the first few would
        # otherwise become huge buildings.
        if len(self.recent) >= 50 and shared < (0.12 if self.kind == "places" else 0.3):
            model = rng.choice(self.recent)
            record.number, record.base, record.kind, record.zip, record.city = \
                model.number, model.base, model.kind, model.zip, model.city
            record.type_form = model.type_form
        else:
            record.number, record.base, record.kind, record.zip, record.city = self.universe.address(rng)
            record.type_form = rng.random() < 0.25
        if self.kind == "places":
            record.name = self.venue_name(record)
        else:
            record.given = rng.choice(GIVEN)
            record.family = rng.choice(FAMILY)
            record.middle = rng.choice(LETTERS).upper() + "." if rng.random() < 0.1 else None
            if model is not None and shared < 0.08:
                # A household: same flat, same family name.
                record.family, record.unit = model.family, model.unit
            elif model is not None and model.unit:
                # Another flat of the same building.
                record.unit = rng.choice(UNIT_FORMS) % rng.randint(1, 40)
            elif rng.random() < 0.35:
                value = str(rng.randint(1, 30)) + (rng.choice("ABCDEF") if rng.random() < 0.4 else "")
                if rng.random() < 0.2:
                    value = str(rng.randint(1, 20) * 100 + rng.randint(1, 20))
                record.unit = rng.choice(UNIT_FORMS) % value
        self.remember(record)
        copies = []
        if rng.random() < 0.3:
            for _ in range(rng.randint(1, 3)):
                copy = record.copy()
                how = []
                wanted = rng.randint(1, 3)
                # A change may find nothing to change (no unit, no house
                # number left): another is drawn, so that every duplicate
                # differs from its entity's first record.
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
                copies.append((copy, "+".join(how)))
        return record, copies

    def venue_name(self, record):
        rng = self.rng
        what = rng.random()
        if what < 0.12:
            return rng.choice(CHAINS)
        if what < 0.45:
            return "%s %s %s" % (rng.choice(ADJECTIVES), rng.choice(NOUNS), rng.choice(KINDS))
        if what < 0.6:
            short, long_form, _ = STREET_TYPES[record.kind]
            return "%s %s %s" % (record.base, long_form, rng.choice(KINDS))
        if what < 0.78:
            owner = rng.choice(GIVEN) if rng.random() < 0.6 else rng.choice(FAMILY)
            return "%s%s %s" % (owner, "'" if owner.endswith("s") else "'s", rng.choice(KINDS))
        if what < 0.9:
            return "%s & %s %s" % (rng.choice(FAMILY), rng.choice(FAMILY), rng.choice(FIRMS))
        return "%s %s" % (rng.choice(NOUNS), rng.choice(KINDS))


def header(kind):
    if kind == "persons":
        return ["id", "name", "number", "street", "unit", "zip", "town"]
    return ["id", "name", "number", "street", "zip", "town"]


def row(kind, record):
    if kind == "persons":
        return [record.full_name(), record.number, record.street(), record.unit, record.zip, record.city]
    return [record.name, record.number, record.street(), record.zip, record.city]


def generate(kind, records, seed, out, truth=None, window=100000):
    """Writes the records to the open text file out (and the truth to truth,
    else as a last column of out); returns the number of entities."""
    if kind not in ("places", "persons"):
        raise ValueError("kind is places or persons, not %r" % kind)
    rng = random.Random(seed)
    generator = Generator(kind, rng)
    writer = csv.writer(out, lineterminator="\n")
    truth_writer = csv.writer(truth, lineterminator="\n") if truth is not None else None
    writer.writerow(header(kind) + ([] if truth_writer else ["entity"]))
    if truth_writer:
        truth_writer.writerow(["id", "entity", "changes"])
    written = entities = 0
    while written < records:
        batch = []
        while len(batch) < window and written + len(batch) < records:
            original, copies = generator.entity()
            batch.append((row(kind, original), entities, ""))
            for copy, how in copies:
                batch.append((row(kind, copy), entities, how))
            entities += 1
        # The last entity's copies may overshoot: those past the count go.
        del batch[records - written:]
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
    parser.add_argument("--window", type=int, default=100000, help="records shuffled together (default: 100000)")
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
