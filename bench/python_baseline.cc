// The baseline of the Python benchmark (bench/python_bench.py): the same library calls that
// ostrel.get and ostrel.get_many make, looped in C++, so that one run shows what the binding
// adds. Each function returns the best time per call in seconds over `repeats` runs of `rounds`.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"

namespace py = pybind11;

template <typename Call>
double best(int rounds, int repeats, Call call) {
  py::gil_scoped_release unlocked;
  double fastest = 1e9;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) call();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    fastest = std::min(fastest, took.count() / rounds);
  }
  return fastest;
}

PYBIND11_MODULE(_ostrel_baseline, m) {
  m.def("get", [](const std::string& name, int rounds, int repeats) {
    return best(rounds, repeats, [&] {
      BrennicData record;
      return Ostrel::GetDataPoint(name.c_str(), record, nullptr, nullptr);
    });
  });
  m.def("get_many", [](const std::vector<std::string>& names, int rounds, int repeats) {
    return best(rounds, repeats, [&] {
      BrennicDataList list;
      Ostrel::GetDataPointN(names, list, nullptr, nullptr);
      Ostrel::DestoryBrennicDataList(&list);
    });
  });
}
