"""Shared timing helper of the benchmarks."""

import timeit


def per_call(call, seconds=0.1, repeat=9):
    """Best mean seconds per call over `repeat` rounds of about `seconds` each.

    The best round is the one least disturbed by other work on the machine."""
    number, spent = timeit.Timer(call).autorange()
    number = max(1, int(number * seconds / max(spent, 1e-9)))
    return min(timeit.repeat(call, number=number, repeat=repeat)) / number
