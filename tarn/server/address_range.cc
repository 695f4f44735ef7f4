#include "tarn/server/address_range.h"

#if defined(_WIN32)
#  include <ws2tcpip.h>
#else
#  include <arpa/inet.h>
#endif

#include <cstdlib>
#include <cstring>

namespace tarn {
namespace {

// `host` as an address: IPv4 in the first four bytes, or IPv6 (an IPv4-mapped one turned IPv4).
bool toAddress(std::string host, bool& v6, std::array<unsigned char, 16>& bytes) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  bytes.fill(0);
  if (::inet_pton(AF_INET, host.c_str(), bytes.data()) == 1) {
    v6 = false;
    return true;
  }
  if (::inet_pton(AF_INET6, host.c_str(), bytes.data()) != 1) return false;
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(bytes.data(), kMapped, sizeof kMapped) == 0) {
    std::memmove(bytes.data(), bytes.data() + 12, 4);
    std::memset(bytes.data() + 4, 0, 12);
    v6 = false;
    return true;
  }
  v6 = true;
  return true;
}

}  // namespace

bool AddressRange::parse(const std::string& text, AddressRange& out, std::string& error) {
  const auto slash = text.find('/');
  AddressRange range;
  if (!toAddress(text.substr(0, slash), range.v6, range.bytes)) {
    error = "'" + text + "' is not an IPv4 or IPv6 address or ADDR/BITS range";
    return false;
  }
  const int bits = range.v6 ? 128 : 32;
  range.prefix = bits;
  if (slash != std::string::npos) {
    const std::string digits = text.substr(slash + 1);
    char* end = nullptr;
    const long n = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || digits.size() > 3 || *end != '\0' || n < 0 || n > bits) {
      error = "'" + text + "' has no prefix length from 0 to " + std::to_string(bits) + " after the /";
      return false;
    }
    range.prefix = static_cast<int>(n);
  }
  out = range;
  return true;
}

bool AddressRange::contains(const std::string& host) const {
  bool isV6 = false;
  std::array<unsigned char, 16> address{};
  if (!toAddress(host, isV6, address) || isV6 != v6) return false;
  const int whole = prefix / 8, rest = prefix % 8;
  if (std::memcmp(address.data(), bytes.data(), static_cast<std::size_t>(whole)) != 0) return false;
  if (rest == 0) return true;
  const unsigned char mask = static_cast<unsigned char>(0xff << (8 - rest));
  return (address[static_cast<std::size_t>(whole)] & mask) == (bytes[static_cast<std::size_t>(whole)] & mask);
}

bool loopbackHost(const std::string& host) {
  static const AddressRange v4{false, {127}, 8};
  static const AddressRange v6{true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128};
  return v4.contains(host) || v6.contains(host);
}

}  // namespace tarn
