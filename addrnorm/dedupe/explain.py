"""Each scored pair in words: its match probability and, for every field, the
comparison level it fell into and that level's match weight (with the
term-frequency adjustment, for a value more or less common than most) --
the waterfall of the model's decision, a line of JSON per pair."""
import json
import math


def level_labels(saved):
    """{field: {comparison vector value: the level's label}} of a model's
    JSON.  Splink numbers a comparison's levels from the last (0, the else
    level) up, the null level being -1."""
    labels = {}
    for comparison in saved["comparisons"]:
        levels = comparison["comparison_levels"]
        counted = [level for level in levels if not level.get("is_null_level")]
        of_field = {-1: "missing"}
        for position, level in enumerate(counted):
            of_field[len(counted) - 1 - position] = level.get("label_for_charts") or level["sql_condition"]
        labels[comparison["output_column_name"]] = of_field
    return labels


class Pairs:
    """Writes the lines of --pairs: a and b are the two records' input lines.
    Each comparison of the model is named by its field's column, the
    fields compared together as the address by "address", and a name's
    correction for what it shares with the address by "NAME at the
    address"."""

    def __init__(self, out, saved, fields, threshold):
        from addrnorm.dedupe.address import ADDRESS, KIN

        self.out, self.threshold = out, threshold
        self.labels = level_labels(saved)
        columns = {field.name: field.column for field in fields}

        def shown(name):
            if name == ADDRESS:
                return "address"
            if name.startswith(KIN) and name[len(KIN):] in columns:
                return "%s at the address" % columns[name[len(KIN):]]
            return columns.get(name, name)

        self.compared = [(comparison["output_column_name"], shown(comparison["output_column_name"]))
                         for comparison in saved["comparisons"]]
        frequency = {comparison["output_column_name"] for comparison in saved["comparisons"]
                     if any(level.get("tf_adjustment_column") for level in comparison["comparison_levels"])}
        self.columns = ["unique_id_l", "unique_id_r", "match_probability", "match_weight"]
        for name, _ in self.compared:
            self.columns += ["gamma_" + name, "mw_" + name]
            self.columns.append("mw_tf_adj_" + name if name in frequency else "0.0")

    def write_all(self, rows, line_of):
        width = 3
        for row in rows:
            fields = {}
            for index, (name, shown) in enumerate(self.compared):
                gamma, level_weight, adjustment = row[4 + width * index: 4 + width * (index + 1)]
                fields[shown] = {"level": self.labels[name].get(gamma, str(gamma)),
                                 "weight": _rounded(level_weight + (adjustment or 0.0))}
            probability = row[2]
            self.out.write(json.dumps({"a": line_of(row[0]), "b": line_of(row[1]),
                                       "match_probability": _rounded(probability, 6),
                                       "match_weight": _rounded(row[3]), "matched": probability >= self.threshold,
                                       "fields": fields}, ensure_ascii=False) + "\n")


def _rounded(value, digits=3):
    if value is None or math.isinf(value) or math.isnan(value):
        return None if value is None or math.isnan(value) else (1e308 if value > 0 else -1e308)
    return round(value, digits)
