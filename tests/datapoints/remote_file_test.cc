// RemoteFileImpl against a FileHandle that answers as the stand-in never does (too long, failing).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ostrel/datapoints/remote_file_impl.h"
#include "tarn/client/orb.h"

namespace {

// Hands out `file` in replies of `reply` bytes whatever the size asked; the end flag comes with
// the reply holding the last byte. Raises on every call when `broken`.
class Handle : public POA_kxTarn::FileHandle {
 public:
  Handle(std::string file, unsigned reply, bool broken = false) : file_(std::move(file)), reply_(reply), broken_(broken) {}
  CORBA::Long read(CORBA::ULong, CORBA::Long& end, kxTarn::DATA_BUFFER_out data) override {
    if (broken_) throw CORBA::COMM_FAILURE();
    const std::string part = file_.substr(at_, reply_);
    at_ += part.size();
    data = new kxTarn::DATA_BUFFER(static_cast<CORBA::ULong>(part.size()));
    data->length(static_cast<CORBA::ULong>(part.size()));
    for (CORBA::ULong i = 0; i < part.size(); ++i) (*data)[i] = static_cast<CORBA::Octet>(part[i]);
    end = at_ == file_.size();
    return 0;
  }
  CORBA::Long get_length(CORBA::ULong& length) override {
    if (broken_) throw CORBA::TRANSIENT();
    length = static_cast<CORBA::ULong>(file_.size());
    return 0;
  }
  CORBA::Long close() override {
    ++closes;
    if (broken_) throw CORBA::TRANSIENT();
    return 0;
  }
  int closes = 0;

 private:
  std::string file_;
  unsigned reply_;
  bool broken_;
  std::size_t at_ = 0;
};

// A servant active for the life of a scope, reached through the ORB like a remote one.
struct Active {
  explicit Active(Handle& servant) {
    static int serial = 0;
    id = PortableServer::string_to_ObjectId(("remote-file-test/" + std::to_string(++serial)).c_str());
    tarn::insPoa()->activate_object_with_id(id.in(), &servant);
    CORBA::Object_var object = tarn::insPoa()->id_to_reference(id.in());
    reference = kxTarn::FileHandle::_narrow(object.in());
  }
  ~Active() { tarn::insPoa()->deactivate_object(id.in()); }
  PortableServer::ObjectId_var id;
  kxTarn::FileHandle_var reference;
};

TEST(RemoteFile, LongRepliesAreCutToTheBlockAndTheRestComesNext) {
  const std::string file = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (unsigned block : {1u, 4u, 10u, 11u, 64u}) {
    Handle servant(file, 10);
    Active active(servant);
    RemoteFileImpl remote(active.reference.in());
    std::string got;
    std::vector<char> buffer(block + 1, '#');
    bool end = false;
    while (!end) {
      const int n = remote.read(buffer.data(), block, &end);
      ASSERT_GT(n, 0) << "block " << block;
      ASSERT_LE(n, static_cast<int>(block));
      ASSERT_EQ('#', buffer[block]) << "written past the block";
      got.append(buffer.data(), n);
      ASSERT_EQ(end, got.size() == file.size()) << "block " << block << " at " << got.size();
    }
    EXPECT_EQ(file, got) << "block " << block;
  }
}

TEST(RemoteFile, FailuresGiveMinusOneAndCloseRunsBeforeTheDelete) {
  Handle servant("abc", 10, true);
  Active active(servant);
  BrennicRemoteFile* remote = new RemoteFileImpl(active.reference.in());
  char buffer[4];
  bool end = false;
  unsigned length = 9;
  EXPECT_EQ(-1, remote->read(buffer, sizeof buffer, &end));
  EXPECT_FALSE(end);
  EXPECT_EQ(-1, remote->getLength(&length));
  EXPECT_EQ(9u, length);
  EXPECT_EQ(-1, remote->getLength(nullptr));
  OstrelExt::closeRemoteFile(&remote);
  EXPECT_EQ(1, servant.closes) << "closed even though close fails";
  EXPECT_EQ(nullptr, remote);
  OstrelExt::closeRemoteFile(&remote);  // once more: nothing (no second delete)
  EXPECT_EQ(1, servant.closes);
}

}  // namespace
