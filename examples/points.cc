// Reading and writing data points with typed records.
//
//   TARN_SETTINGS=settings.xml example_points
//
// Connects the own server, creates "example.flow" of type AnalogPoint (or reuses it), writes a
// value by field path, reads the point back and prints its fields.
#include <cstdio>

#include <ostrel/api/ostrel.h>
#include <ostrel/data/record.h>

int main() {
  int rc = Ostrel::ConnectTarn(nullptr);  // null: the server at position "own"
  if (rc != 0) {
    std::fprintf(stderr, "connect: %d %ls\n", rc, Ostrel::GetErrorString(rc));
    return 1;
  }
  Ostrel::BuildOstrel();  // loads the data types of every server

  BrennicData flow("AnalogPoint", 0);  // a record of the type, all zero
  flow.PutValue("value", 12.5);
  flow.PutValue("quality", 192u);
  flow.PutValue("unit", "m3/h");
  rc = Ostrel::CreateDataPoint("example.flow", flow, nullptr, nullptr);
  if (rc == 2005) rc = Ostrel::PutDataPoint("example.flow", flow, nullptr, nullptr);  // it exists
  if (rc != 0) {
    std::fprintf(stderr, "write: %d %ls\n", rc, Ostrel::GetErrorString(rc));
    return 1;
  }

  BrennicData back;  // untyped: takes the point's type
  rc = Ostrel::GetDataPoint("example.flow", back, nullptr, nullptr);
  if (rc != 0) {
    std::fprintf(stderr, "read: %d %ls\n", rc, Ostrel::GetErrorString(rc));
    return 1;
  }
  std::printf("%s (%s): value=%g quality=%u unit=%s\n", back.GetDataName(), back.GetTypeName(),
              back.GetDoubleValue("value"), back.GetUnSignedIntValue("quality"), back.GetStringValue("unit"));
  Ostrel::ExitOstrel();
  return 0;
}
