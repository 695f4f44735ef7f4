// The middleware's logging library: timestamped lines to standard error, or to the file named
// by the environment variable TARN_LOG. Safe from any thread; lines are never interleaved.
#pragma once

#include "ostrel/api/middleware/kxTarn_API.h"

class KXTARN_API CScribe {
 public:
  static CScribe* instance();
  void kx_log(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  CScribe() = default;
};
