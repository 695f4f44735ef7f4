/// @file
/// The middleware's logging library: timestamped lines to standard error, or to the file named
/// by the environment variable TARN_LOG. Safe from any thread; lines are never interleaved.
#pragma once

#include "ostrel/api/middleware/kxTarn_API.h"

/// The logging library's one logger.
class KXTARN_API CScribe {
 public:
  /// The process's logger, made on first use.
  static CScribe* instance();
  /// Writes one timestamped line, formatted as printf formats `format` with the arguments.
  void kx_log(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  CScribe() = default;
};
