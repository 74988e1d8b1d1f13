"""The library's 22 scalar functions (``qelstats.fn.ArcSin(0.5)``).

Each takes numbers or arrays (broadcast against each other, computed
elementwise) and returns a float, or an ndarray for array input. A function
never raises on a value: where it fails (a zero denominator, the square root
or logarithm of a negative number, an overflow) it returns FAILURE,
-9999999. Angles are in radians, except for DTOR and Dist_Fctn (degrees).
"""

import numpy as np

from . import _qelstats

FAILURE = -9999999.0

__all__ = ["FAILURE"]


def _make(index, name, arity, arguments, help_text):
    def function(*args):
        if len(args) != arity:
            raise TypeError("%s() takes %d argument%s (%s), %d given"
                            % (name, arity, "" if arity == 1 else "s", ", ".join(arguments), len(args)))
        scalar = all(np.ndim(a) == 0 for a in args)
        try:
            arrays = [np.asarray(a, dtype=np.float64) for a in args]
        except (TypeError, ValueError):
            raise TypeError("%s() takes numbers, not %s" % (name, ", ".join(type(a).__name__ for a in args))) from None
        arrays = np.broadcast_arrays(*arrays)
        shape = arrays[0].shape
        flat = [np.ascontiguousarray(a).ravel() for a in arrays]
        out = _qelstats.call_function(index, flat).reshape(shape)
        return float(out) if scalar else out

    function.__name__ = function.__qualname__ = name
    function.__doc__ = "%s(%s)\n\n%s\n\nReturns -9999999 where the function fails." % (
        name, ", ".join(arguments), help_text)
    return function


for _index, (_name, _arity, _arguments, _help) in enumerate(_qelstats.functions()):
    globals()[_name] = _make(_index, _name, _arity, _arguments, _help)
    __all__.append(_name)
