"""Arguments with behaviour of their own.  Every one is deterministic, so the
model can ask it the same questions the module does and get the same answers."""

from tests.helpers import Lies


class UserError(Exception):
    pass


class UserBaseError(BaseException):
    pass


class BigInt(int):
    """An int subclass whose own `__index__` lies; the module reads the value."""

    def __index__(self):
        return 7


class Mutator:
    """An element whose `__index__` changes the list being converted."""

    def __init__(self, target, action):
        self.target, self.action, self.budget = target, action, 50

    def __index__(self):
        if self.budget > 0:
            self.budget -= 1
            if self.action == "append":
                self.target.append(self.budget)
            elif self.action == "clear":
                self.target.clear()
            elif self.action == "pop" and self.target:
                self.target.pop(0)
            elif self.action == "text":
                self.target.insert(0, "text")
        return 1


class FakeSequence(Lies):
    """`Lies` with an `__iter__` as well, which may raise or not be an
    iterator at all.  `fail_at` makes iteration raise after that many items."""

    def __init__(self, items, length, fail_at=None, fail_with=UserError, iterator=True):
        super().__init__(length, items, fail_at, fail_with)
        if not iterator:
            self.__class__ = FakeSequenceBadIter

    def __iter__(self):
        for k, item in enumerate(self.items):
            if k == self.fail_at:
                raise self.fail_with("iteration failed on purpose")
            yield item


class FakeSequenceBadIter(FakeSequence):
    def __iter__(self):  # not an iterator
        return 42


class ListWithLies(list):
    """A list whose Python-level length, items and iteration lie; the module
    reads the list itself."""

    def __len__(self):
        return 0

    def __iter__(self):
        return iter(["lie"])

    def __getitem__(self, i):
        return "lie"


class StrSub(str):
    def encode(self, *args, **kwargs):
        return b"lie"

    def __str__(self):
        return "lie"


class BytesSub(bytes):
    def __bytes__(self):
        return b"lie"

    def __getitem__(self, i):
        return 0

