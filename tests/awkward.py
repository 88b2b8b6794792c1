"""Sequences that break the sequence protocol's promises in the ways real code does."""


class LyingLength:
    """Reports one length and yields another number of items."""

    def __init__(self, items, length):
        self.items = list(items)
        self.length = length

    def __len__(self):
        return self.length

    def __getitem__(self, index):
        return self.items[index]


class LyingList(list):
    """A list whose own length says more than it holds."""

    def __len__(self):
        return list.__len__(self) + 1


class GrowingLength:
    """Reports a larger length every time it is asked, the first answer being the truth minus one."""

    def __init__(self, items):
        self.items = list(items)
        self.asked = 0

    def __len__(self):
        self.asked += 1
        return len(self.items) - 2 + self.asked

    def __getitem__(self, index):
        return self.items[index]


class ChangingLength:
    """Reports the given lengths in turn, the last one for good: a sequence that changes between being measured
    and being read."""

    def __init__(self, items, lengths):
        self.items = list(items)
        self.lengths = list(lengths)
        self.asked = 0

    def __len__(self):
        self.asked += 1
        return self.lengths[min(self.asked, len(self.lengths)) - 1]

    def __getitem__(self, index):
        return self.items[index]


class Failing:
    """A sequence whose length, iteration or items raise the given error."""

    def __init__(self, where, error=ValueError("broken sequence")):
        self.where = where
        self.error = error

    def __len__(self):
        if self.where == "len":
            raise self.error
        return 2

    def __iter__(self):
        if self.where == "iter":
            raise self.error
        return (self[index] for index in range(2))

    def __getitem__(self, index):
        if self.where == "item":
            raise self.error
        return ["a", "b"][index]
