"""Containers whose own access methods must never be called: the functions
read lists, tuples and dicts through their storage, so a call to any of
these methods is a fault."""


def _refuse(name):
    def method(self, *args, **kwargs):
        raise AssertionError(f"{name} called")

    method.__name__ = name
    return method


def _guarded(base, names):
    return type(f"Guarded{base.__name__.capitalize()}", (base,), {n: _refuse(n) for n in names})


_ACCESS = ("__len__", "__iter__", "__getitem__")

GuardedList = _guarded(list, _ACCESS)
GuardedTuple = _guarded(tuple, _ACCESS)
GuardedDict = _guarded(dict, (*_ACCESS, "keys", "items", "values"))
