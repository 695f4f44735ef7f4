#include "tarn/client/tls.h"

#include <cstdlib>
#include <fstream>

#include "tarn/client/settings.h"

#if !defined(_WIN32)
#  include <omniORB4/CORBA.h>
#  include <omniORB4/sslContext.h>
#endif

namespace tarn {
namespace {

#if !defined(_WIN32)
// omniORB's context reads the certificate and the key from one file; this one reads them from
// two, and lets a client without a certificate start (a server refuses it then).
class TwoFileContext : public sslContext {
 public:
  explicit TwoFileContext(const TlsFiles& files)
      : sslContext(files.ca.c_str(), files.cert.empty() ? nullptr : files.cert.c_str(), nullptr), files_(files) {}

 protected:
  void set_certificate() override {
    if (files_.cert.empty()) return;
    if (SSL_CTX_use_certificate_chain_file(get_SSL_CTX(), files_.cert.c_str()) != 1)
      throw CORBA::INITIALIZE(0, CORBA::COMPLETED_NO);
  }
  void set_privatekey() override {
    if (files_.key.empty()) return;
    if (SSL_CTX_use_PrivateKey_file(get_SSL_CTX(), files_.key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(get_SSL_CTX()) != 1)
      throw CORBA::INITIALIZE(0, CORBA::COMPLETED_NO);
  }

 private:
  TlsFiles files_;
};
#endif

std::string fromEnvironment(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

}  // namespace

TlsFiles clientTlsFiles() {
  TlsFiles files;
  files.cert = fromEnvironment("TARN_TLS_CERT", settingsAttribute("tls-cert"));
  files.key = fromEnvironment("TARN_TLS_KEY", settingsAttribute("tls-key"));
  files.ca = fromEnvironment("TARN_TLS_CA", settingsAttribute("tls-ca"));
  return files;
}

std::string tlsFilesProblem(const TlsFiles& files, bool needCert) {
#if defined(_WIN32)
  (void)needCert;
  if (files.wanted()) return "TLS is not part of the Windows build (its ORB has no SSL transport)";
#endif
  if (files.ca.empty()) return "TLS needs the CA file that signs the peers' certificates";
  if (files.cert.empty() != files.key.empty()) return "a TLS certificate needs its key, and a key its certificate";
  if (needCert && files.cert.empty()) return "a TLS server needs its certificate and key";
  for (const std::string* file : {&files.ca, &files.cert, &files.key})
    if (!file->empty() && !std::ifstream(*file)) return "cannot read " + *file;
  return std::string();
}

bool installTls(const TlsFiles& files) {
#if defined(_WIN32)
  (void)files;
  return false;
#else
  // The ORB's SSL transport makes its connections with the singleton it finds at start.
  sslContext::singleton = new TwoFileContext(files);
  return true;
#endif
}

}  // namespace tarn
