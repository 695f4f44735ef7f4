// Sample data the benchmarks share: analog point records and a generated type definition file.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "ostrel/data/record.h"

namespace bench {

// An "AnalogPoint" record whose fields follow from `i`.
inline BrennicData analog(int i) {
  BrennicData record("AnalogPoint", 0);
  record.PutValue("value", i * 0.5);
  record.PutValue("quality", static_cast<unsigned>(i));
  record.PutValue("unit", "kW");
  return record;
}

// `count` analog records named prefix0, prefix1, ...
inline std::vector<BrennicData> namedAnalogs(int count, const std::string& prefix) {
  std::vector<BrennicData> all;
  all.reserve(count);
  for (int i = 0; i < count; ++i) {
    all.push_back(analog(i));
    all.back().SetFullName((prefix + std::to_string(i)).c_str());
  }
  return all;
}

// The XML of `count` types Gen0, Gen1, ... of 10 double elements each.
inline std::string manyTypesXml(int count) {
  std::ostringstream xml;
  xml << "<types>\n";
  for (int t = 0; t < count; ++t) {
    xml << "<type name=\"Gen" << t << "\" size=\"80\">";
    for (int e = 0; e < 10; ++e) xml << "<element name=\"e" << e << "\" type=\"double\" offset=\"" << 8 * e << "\"/>";
    xml << "</type>\n";
  }
  xml << "</types>\n";
  return xml.str();
}

}  // namespace bench
