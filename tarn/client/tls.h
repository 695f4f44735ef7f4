// TLS for the ORB: omniORB's SSL transport with this process's certificate, its private key and
// the certificate authority (CA) whose certificates it trusts. A server (tarnd --tls-...) takes
// only clients whose certificate the CA signed; a client takes only servers whose certificate the
// CA signed. Both sides read PEM files.
//
// A client's files come from TARN_TLS_CERT, TARN_TLS_KEY and TARN_TLS_CA, each over the settings
// file's root attributes tls-cert, tls-key and tls-ca (settings.h); a server whose settings entry
// says tls="true" is reached over TLS (corbaloc:ssliop:HOST:PORT). The files are read once, when
// the process's ORB starts (orb.h). Not on Windows: there the stand-in's client speaks plain TCP.
#pragma once

#include <string>

namespace tarn {

struct TlsFiles {
  std::string cert;  // this process's certificate (chain); empty: none to show
  std::string key;   // its private key
  std::string ca;    // the CA certificates that sign the peers'
  bool wanted() const { return !cert.empty() || !key.empty() || !ca.empty(); }
};

// The client's TLS files, as above (all empty: no TLS).
TlsFiles clientTlsFiles();
// Why `files` cannot be used, or empty: a CA is needed, a certificate goes with its key, and
// each named file must be readable. `needCert`: a server shows a certificate always. On Windows,
// where TLS is not built in, any file at all is a problem.
std::string tlsFilesProblem(const TlsFiles& files, bool needCert);
// Makes `files` the TLS context of the ORB about to start; false (nothing done) where the
// transport is not built in. Throws CORBA::INITIALIZE from the ORB's start when OpenSSL refuses
// a file.
bool installTls(const TlsFiles& files);

}  // namespace tarn
