"""A fixed, varied workload: addresses in several languages and scripts, short
and long, and place records of 2 to 8 fields."""
import itertools

STREETS = [
    ("en", "{n} Franklin Ave Crown Hts Brooklyn NY {z}"),
    ("en", "{n} W 26th St Apt {u}, New York, NY {z}"),
    ("en", "{n} Baker Street, Marylebone, London NW1 6XE"),
    ("en", "Flat {u}, {n} Queen's Rd, Richmond TW10 6JP, United Kingdom"),
    ("fr", "{n} Ave des Champs-Élysées, 75008 Paris"),
    ("fr", "{n} rue du Faubourg Saint-Honoré, 75{u} Paris, France"),
    ("de", "Friedrichstraße {n}, {z} Berlin"),
    ("de", "Am Hauptbahnhof {n}, 60329 Frankfurt am Main, Deutschland"),
    ("es", "Calle de Alcalá {n}, {z} Madrid"),
    ("es", "Av. Insurgentes Sur {n}, Col. Roma Nte., 06700 Ciudad de México, CDMX"),
    ("it", "Via del Corso {n}, 00186 Roma RM"),
    ("pt", "Rua Augusta {n}, Consolação, São Paulo - SP, 01304-001"),
    ("nl", "Prinsengracht {n}, 1016 GV Amsterdam"),
    ("ru", "ул. Тверская, д. {n}, Москва, {z}"),
    ("uk", "вулиця Хрещатик, {n}, Київ, 01001"),
    ("el", "Λεωφόρος Βασιλίσσης Σοφίας {n}, Αθήνα 106 74"),
    ("ja", "東京都千代田区丸の内{n}丁目{u}番"),
    ("zh", "北京市朝阳区建国路{n}号"),
    ("ko", "서울특별시 종로구 세종대로 {n}"),
    ("ar", "شارع الملك فهد {n}، الرياض {z}"),
    ("he", "רחוב דיזנגוף {n}, תל אביב-יפו"),
    ("hi", "{n}, महात्मा गांधी मार्ग, नई दिल्ली 110001"),
    ("th", "{n} ถนนสุขุมวิท แขวงคลองเตย เขตคลองเตย กรุงเทพมหานคร {z}"),
    ("en", "{n} Main St"),
    ("en", "PO Box {n}"),
    ("en", "{n} County Road {u} North, Suite {u}00, Springfield Township, Hamilton County, Ohio {z}, USA"),
]

NUMBERS = ["1", "12", "781", "1600", "22-24", "4B", "Quatre-vingt-douze", "XII", "5", "100", "3/1", "250a"]

ADDRESSES = [template.format(n=n, u=(i % 9) + 1, z=10000 + 37 * i)
             for i, ((_, template), n) in enumerate(itertools.product(STREETS, NUMBERS))][:300]
# The language each address is written in, as a caller who knows it passes it.
LANGUAGES = [language for (language, _), _ in itertools.product(STREETS, NUMBERS)][:300]

_FIELDS = [
    ("house", ["Whole Foods", "Joe's Pizza", "Café de Flore", "Bäckerei Schmidt", "スターバックス", "Starbucks"]),
    ("house_number", ["781", "12", "1600", "22-24", "4B"]),
    ("road", ["Franklin Ave", "Boulevard Saint-Germain", "Friedrichstraße", "Main St", "Calle de Alcalá"]),
    ("unit", ["Apt 4", "Suite 200", "#12"]),
    ("postcode", ["11216", "75006", "10117", "28014", "NW1 6XE"]),
    ("suburb", ["Crown Heights", "Saint-Germain-des-Prés", "Mitte"]),
    ("city", ["Brooklyn", "Paris", "Berlin", "Madrid", "London", "東京"]),
    ("state", ["NY", "Île-de-France", "Berlin", "Comunidad de Madrid"]),
]

RECORDS = []
for i in range(200):
    size = 2 + i % 7  # 2 to 8 fields
    chosen = [_FIELDS[(i + k) % len(_FIELDS)] for k in range(size)]
    RECORDS.append([(label, values[(i * 7 + k) % len(values)]) for k, (label, values) in enumerate(chosen)])
