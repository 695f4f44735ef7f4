// A partial-write batch: only the written fields of each record travel, many points per request.
//
//   TARN_SETTINGS=settings.xml example_partial_batch [COUNT]
//
// Creates COUNT points (default 100) "example.pump.N" of type AnalogPoint, then sets the quality
// of all of them in one batch and checks a few by reading them back.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <ostrel/api/ostrel.h>
#include <ostrel/data/partial_record.h>
#include <ostrel/data/record.h>

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 100;
  const int connected = Ostrel::ConnectTarn(nullptr);
  if (connected != 0) {
    std::fprintf(stderr, "connect: %d %ls\n", connected, Ostrel::GetErrorString(connected));
    Ostrel::ExitOstrel();
    return 1;
  }
  Ostrel::BuildOstrel();

  std::vector<BrennicData> fresh;
  for (int i = 0; i < count; ++i) {
    fresh.emplace_back("AnalogPoint", 0);
    fresh.back().SetFullName(("example.pump." + std::to_string(i)).c_str());
  }
  Ostrel::CreateDataPoints(fresh, nullptr, nullptr);  // 2005 when they exist already: fine here

  // A partial record lists each path written to it; its name says which point it is for.
  std::vector<BrennicPartialData> batch;
  for (int i = 0; i < count; ++i) {
    batch.emplace_back("AnalogPoint", 0);
    batch.back().SetFullName(("example.pump." + std::to_string(i)).c_str());
    batch.back().PutValue("quality", static_cast<unsigned>(100 + i));
  }
  int rc = Ostrel::PutPartialDataPoints(batch, nullptr, nullptr);
  if (rc != 0) {
    std::fprintf(stderr, "batch: %d %ls\n", rc, Ostrel::GetErrorString(rc));
    return 1;
  }
  BrennicData last("AnalogPoint", 0);
  rc = Ostrel::GetDataPoint(("example.pump." + std::to_string(count - 1)).c_str(), last, nullptr, nullptr);
  if (rc != 0) std::fprintf(stderr, "read back: %d %ls\n", rc, Ostrel::GetErrorString(rc));
  std::printf("%d points written; the last has quality %u\n", count, last.GetUnSignedIntValue("quality"));
  Ostrel::ExitOstrel();
  return rc == 0 ? 0 : 1;
}
