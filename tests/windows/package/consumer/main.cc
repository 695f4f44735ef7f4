// An application of the Windows package: connects the own server of TARN_SETTINGS, creates a data
// point, writes it again, reads it back, deletes it and finds it gone. Exits 0 when everything
// read is what was written, 1 with the step and its result code otherwise.
#include <cstdio>
#include <cstring>

#include <ostrel/ostrel.h>

namespace {

int failed(const char* step, int rc) {
  std::fprintf(stderr, "consumer: %s: %d %ls\n", step, rc, Ostrel::GetErrorString(rc));
  return 1;
}

}  // namespace

int main() {
  int rc = Ostrel::ConnectTarn(nullptr);  // the server at position "own"
  if (rc != 0) return failed("connect", rc);
  Ostrel::BuildOstrel();

  const char* name = "consumer.flow";
  BrennicData flow("AnalogPoint", 0);
  flow.PutValue("value", 12.5);
  flow.PutValue("unit", "m3/h");
  if ((rc = Ostrel::CreateDataPoint(name, flow, nullptr, nullptr)) != 0) return failed("create", rc);
  flow.PutValue("value", 47.25);
  if ((rc = Ostrel::PutDataPoint(name, flow, nullptr, nullptr)) != 0) return failed("put", rc);

  BrennicData back;  // untyped: takes the point's type
  if ((rc = Ostrel::GetDataPoint(name, back, nullptr, nullptr)) != 0) return failed("get", rc);
  const char* unit = back.GetStringValue("unit");
  if (std::strcmp(back.GetTypeName(), "AnalogPoint") != 0 || back.GetDoubleValue("value") != 47.25 ||
      unit == nullptr || std::strncmp(unit, "m3/h", 5) != 0) {
    std::fprintf(stderr, "consumer: read back %s value=%g unit=%.16s\n", back.GetTypeName(),
                 back.GetDoubleValue("value"), unit ? unit : "(none)");
    return 1;
  }
  std::printf("consumer: %s (%s) value=%g unit=%s\n", name, back.GetTypeName(), back.GetDoubleValue("value"), unit);

  if ((rc = Ostrel::DeleteDataPoint(name, nullptr, nullptr)) != 0) return failed("delete", rc);
  rc = Ostrel::GetDataPoint(name, back, nullptr, nullptr);
  if (rc == 0) {
    std::fprintf(stderr, "consumer: %s is still there after its delete\n", name);
    return 1;
  }
  std::printf("consumer: deleted; reading it answers %d (%ls)\n", rc, Ostrel::GetErrorString(rc));
  Ostrel::ExitOstrel();
  return 0;
}
