// Address ranges of client hosts ("10.0.0.0/8", "192.168.1.7", "fd00::/8", "::1"), as tarnd's
// --allow and its rights file name them, and the test of an ORB peer address against them.
//
// IPv4 and IPv6; an IPv4 address seen as IPv6 (::ffff:10.0.0.7) counts as the IPv4 address.
// Plain values, safe to copy and to share between threads once made.
#pragma once

#include <array>
#include <string>

namespace tarn {

struct AddressRange {
  bool v6 = false;
  std::array<unsigned char, 16> bytes{};  // the network address (IPv4: the first four)
  int prefix = 0;                          // leading bits that must match

  // Parses "ADDR/BITS" or "ADDR" (all bits). False, with `error` saying why, when it is neither.
  static bool parse(const std::string& text, AddressRange& out, std::string& error);
  // Whether `host` (an address without its port, "10.0.0.7" or "[::1]" or "::1") lies inside.
  // False for anything that is not an address.
  bool contains(const std::string& host) const;
};

// Whether `host` (as above) is a loopback address (127.0.0.0/8, ::1).
bool loopbackHost(const std::string& host);

}  // namespace tarn
