// tarnd over TLS on loopback: certificates made at test time by a throwaway CA; a client whose
// certificate that CA signed (and whose subject is allowed) is served, any other is refused, and
// --tls-only opens no plain endpoint.
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/environment.h"
#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"

namespace {

using namespace testing_support;

// A folder of PEM files: ca, server (CN=tarnd), operator and intruder signed by ca, and stranger
// (CN=operator) signed by another CA. Removed with the object; keys never leave it.
class Certificates {
 public:
  Certificates() : dir_(scratchPath("ostrel-tls-" + std::to_string(processId()))) {
    std::string script = "set -e; rm -rf '" + dir_ + "'; mkdir -p '" + dir_ + "'; cd '" + dir_ + "';"
                         " key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out $1.key; };"
                         " ca() { key $1; openssl req -x509 -new -key $1.key -out $1.pem -days 2 -subj /CN=$1; };"
                         " leaf() { key $1; openssl req -new -key $1.key -out $1.csr -subj /CN=$2;"
                         "   openssl x509 -req -in $1.csr -CA $3.pem -CAkey $3.key -CAcreateserial -out $1.pem -days 2; };"
                         " ca ca; ca other; leaf server tarnd ca; leaf operator operator ca; leaf intruder intruder ca;"
                         " leaf stranger operator other";
    ok_ = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
  }
  ~Certificates() { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  bool ok() const { return ok_; }
  std::string pem(const std::string& name) const { return dir_ + "/" + name + ".pem"; }
  std::string key(const std::string& name) const { return dir_ + "/" + name + ".key"; }
  // The environment that makes a client show `name`'s certificate and trust ca.
  std::string clientEnv(const std::string& name) const {
    return "TARN_TLS_CERT=" + (name.empty() ? "" : pem(name)) + " TARN_TLS_KEY=" + (name.empty() ? "" : key(name)) +
           " TARN_TLS_CA=" + pem("ca");
  }
  std::vector<std::string> serverArgs() const {
    return {"--tls-cert", pem("server"), "--tls-key", key("server"), "--tls-ca", pem("ca")};
  }

 private:
  std::string dir_;
  bool ok_ = false;
};

// How many TCP ports process `pid` listens on.
int listeningPorts(pid_t pid) {
  std::set<std::string> inodes;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR* dir = ::opendir(fds.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      char target[64] = {};
      const ssize_t n = ::readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target - 1);
      if (n > 9 && std::string(target, 8) == "socket:[") inodes.insert(std::string(target + 8, static_cast<std::size_t>(n) - 9));
    }
    ::closedir(dir);
  }
  std::ifstream table("/proc/" + std::to_string(pid) + "/net/tcp");
  std::string line;
  std::getline(table, line);
  int listening = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (state == "0A" && inodes.count(inode)) ++listening;
  }
  return listening;
}

TEST(Tls, OnlyClientsWithACertificateOfTheCaAndAnAllowedSubjectAreServed) {
  const Certificates certs;
  ASSERT_TRUE(certs.ok()) << "openssl could not make the test certificates";
  // This process is a client of the operator too: the ORB reads its TLS files as it starts.
  setEnvironment("TARN_TLS_CERT", certs.pem("operator").c_str());
  setEnvironment("TARN_TLS_KEY", certs.key("operator").c_str());
  setEnvironment("TARN_TLS_CA", certs.pem("ca").c_str());
  std::vector<std::string> args = certs.serverArgs();
  args.insert(args.end(), {"--tls-only", "--allow-subject", "operator"});
  TarndProcess tarnd("secure", freePort(), args);
  tarnd.tls = true;
  ASSERT_TRUE(tarnd.start());
  EXPECT_EQ(1, listeningPorts(tarnd.pid())) << "--tls-only opens its TLS endpoint and nothing else";
  ScopedSettings settings({{"secure", "own", {tarnd.address()}, false, true}});

  const ToolRun served = runTool("create p1 AnalogPoint", "", certs.clientEnv("operator"));
  EXPECT_EQ(0, served.status) << served.output;
  struct Case {
    const char* client;
    const char* why;
  } refused[] = {{"", "no certificate"}, {"stranger", "a certificate of another CA"},
                 {"intruder", "a subject that is not allowed"}};
  for (const Case& c : refused) {
    const ToolRun run = runTool("create " + std::string(c.client) + ".p AnalogPoint", "", certs.clientEnv(c.client));
    EXPECT_NE(0, run.status) << c.why << ":\n" << run.output;
  }
  const ToolRun listed = runTool("points", "", certs.clientEnv("operator"));
  EXPECT_EQ(0, listed.status) << listed.output;
  EXPECT_TRUE(has(listed, "p1")) << listed.output;
  EXPECT_FALSE(has(listed, ".p")) << "a refused client's call ran:\n" << listed.output;
}

// Plain and TLS endpoints of one server, and rights by certificate subject and by address.
TEST(Tls, BesidePlainTcpOnAPortOfItsOwn) {
  const Certificates certs;
  ASSERT_TRUE(certs.ok()) << "openssl could not make the test certificates";
  const std::string rights = scratchPath("tls-rights-" + std::to_string(processId()) + ".txt");
  std::ofstream(rights) << "CN=operator * admin\n127.0.0.1 * read\n";
  const int tlsPort = freePort();
  std::vector<std::string> args = certs.serverArgs();
  args.insert(args.end(), {"--tls-port", std::to_string(tlsPort), "--rights", rights});
  TarndProcess tarnd("both", freePort(), args);
  ASSERT_TRUE(tarnd.start()) << "the plain endpoint answers as ever";
  EXPECT_EQ(2, listeningPorts(tarnd.pid()));
  ScopedSettings settings({{"both", "own", {tarnd.address()}}, {"both.tls", "others", {"127.0.0.1:" + std::to_string(tlsPort)}, false, true}});
  const ToolRun plain = runTool("create plain.p AnalogPoint -s both");
  EXPECT_EQ(1, plain.status) << plain.output;
  EXPECT_TRUE(has(plain, "2026")) << "127.0.0.1 only reads:\n" << plain.output;
  const ToolRun created = runTool("create secure.p AnalogPoint -s both.tls", "", certs.clientEnv("operator"));
  EXPECT_EQ(0, created.status) << "CN=operator administers:\n" << created.output;
  const ToolRun listed = runTool("points -s both");
  EXPECT_EQ(0, listed.status) << listed.output;
  EXPECT_TRUE(has(listed, "secure.p")) << "one server behind both endpoints:\n" << listed.output;
  EXPECT_NE(0, runTool("points -s both.tls", "", certs.clientEnv("")).status) << "no certificate, no TLS service";
  EXPECT_NE(0, runTool("points -s both.tls", "", certs.clientEnv("intruder")).status) << "a subject the rights do not name";
  std::remove(rights.c_str());
  // Without a CA or with a key missing tarnd does not start, and says why.
  const std::string tarndPath = std::string(TARND_PATH) + " --port " + std::to_string(freePort());
  expectRuns({{"", 2, {"TLS needs the CA file"}}},
             tarndPath + " --tls-cert " + certs.pem("server") + " --tls-key " + certs.key("server") + " --tls-only 2>&1 #");
  expectRuns({{"", 2, {"needs its key"}}},
             tarndPath + " --tls-cert " + certs.pem("server") + " --tls-ca " + certs.pem("ca") + " --tls-only 2>&1 #");
  expectRuns({{"", 2, {"TLS needs --tls-port PORT"}}}, tarndPath + " --tls-cert " + certs.pem("server") + " --tls-key " +
                                                             certs.key("server") + " --tls-ca " + certs.pem("ca") + " 2>&1 #");
  expectRuns({{"", 2, {"need --tls-cert, --tls-key and --tls-ca"}}}, tarndPath + " --allow-subject operator 2>&1 #");
}

}  // namespace
