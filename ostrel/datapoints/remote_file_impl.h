// The library's BrennicRemoteFile over a remote FileHandle (internal: tests and the library
// include it, applications do not).
//
// Holds its own duplicate of the FileHandle reference (released in the destructor). A reply
// longer than the caller's block is cut: its rest is kept here and handed out by the next reads
// without a remote call. Any exception of a remote call gives -1. Not copyable: two objects
// would share one remote read position. One thread at a time.
#pragma once

#include <string>

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/datapoints/remote_file.h"

class RemoteFileImpl : public BrennicRemoteFile {
 public:
  explicit RemoteFileImpl(kxTarn::FileHandle_ptr handle);
  ~RemoteFileImpl() override;
  RemoteFileImpl(const RemoteFileImpl&) = delete;
  RemoteFileImpl& operator=(const RemoteFileImpl&) = delete;

  int read(char* buffer, unsigned int size, bool* end) override;
  int getLength(unsigned int* length) override;
  int close() override;

 private:
  kxTarn::FileHandle_var handle_;
  std::string rest_;       // bytes of the last reply beyond the caller's block
  bool restEnds_ = false;  // whether that reply carried the end flag
};
