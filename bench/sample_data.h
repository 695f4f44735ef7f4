// Sample data the benchmarks share: analog point records and a generated type definition file.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/data/record.h"

namespace bench {

// The raw ORB read of the first `count` names of `names` (GetDataPointN's baseline); its code.
inline int rawGetPoints(kxTarn::DT_Point_Factory_ptr points, const std::vector<std::string>& names, int count) {
  kxTarn::STRING_LIST wanted;
  wanted.length(static_cast<CORBA::ULong>(count));
  for (int i = 0; i < count; ++i) wanted[static_cast<CORBA::ULong>(i)] = names[static_cast<std::size_t>(i)].c_str();
  kxTarn::STRING_LIST_var found, types;
  kxTarn::DATA_BUFFER_SEQ_var values;
  return points->get_points(wanted, found.out(), types.out(), values.out());
}

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
