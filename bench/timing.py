"""Shared timing helpers of the benchmarks."""

import timeit


def per_call(call, seconds=0.1, repeat=9):
    """Best mean seconds per call over `repeat` rounds of about `seconds` each.

    The best round is the one least disturbed by other work on the machine."""
    return per_call_many({"call": call}, seconds, repeat)["call"]


def per_call_many(calls: dict, seconds=0.03, repeat=15) -> dict:
    """`per_call` for several calls whose rounds are interleaved, so that load from elsewhere on
    the machine falls on all of them alike and their ratios stay fair."""
    numbers = {}
    for name, call in calls.items():
        number, spent = timeit.Timer(call).autorange()
        numbers[name] = max(1, int(number * seconds / max(spent, 1e-9)))
    best = dict.fromkeys(calls, float("inf"))
    for _ in range(repeat):
        for name, call in calls.items():
            best[name] = min(best[name], timeit.timeit(call, number=numbers[name]) / numbers[name])
    return best
