"""ostrel.get and ostrel.get_many from Python beside the same library calls looped in C++, in
one run on the embedded server: what the binding adds per call and per record.

Run by scripts/run-benchmarks.sh as: PYTHONPATH=build/python python3 bench/python_bench.py
"""
import time

import ostrel
from ostrel import _ostrel_baseline as cxx


def best(rounds, repeats, call):
    fastest = 1e9
    for _ in range(repeats):
        start = time.perf_counter()
        for _ in range(rounds):
            call()
        fastest = min(fastest, (time.perf_counter() - start) / rounds)
    return fastest


def side_by_side(rounds, repeats, py_call, cxx_call):
    """Best times of both, their repeats interleaved, so that a busy spell of the machine falls
    on both sides alike."""
    py_s = cxx_s = 1e9
    for _ in range(repeats):
        py_s = min(py_s, best(rounds, 1, py_call))
        cxx_s = min(cxx_s, cxx_call(rounds, 1))
    return py_s, cxx_s


def row(label, py_s, cxx_s, per=1):
    added = (py_s - cxx_s) / per * 1e6
    print(f"{label:<28} python {py_s * 1e6:9.2f} us   c++ {cxx_s * 1e6:9.2f} us   "
          f"ratio {py_s / cxx_s:5.2f}   added {added:6.3f} us{' per record' if per > 1 else ''}")


ostrel.connect()
names = [f"bench{i}" for i in range(1000)]
for i, name in enumerate(names):
    try:
        ostrel.create(name, ostrel.Record("AnalogPoint", value=float(i), unit="m3/h"))
    except ostrel.Error:
        pass
row("get (1 point)", *side_by_side(20000, 9, lambda: ostrel.get(names[0]), lambda n, r: cxx.get(names[0], n, r)))
row("get_many (1,000 points)", *side_by_side(50, 15, lambda: ostrel.get_many(names),
                                             lambda n, r: cxx.get_many(names, n, r)), 1000)
