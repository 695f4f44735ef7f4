#include "ostrel/connection/server_settings.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "ostrel/api/middleware/kxNaming_Client.h"
#include "ostrel/api/middleware/kxReferenceContainer.h"
#include "ostrel/api/middleware/kxServerInfoXmlImpl.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/connection/call_frame.h"
#include "ostrel/connection/connector.h"

namespace ostrel {

void copyCut(char* field, std::size_t size, const char* text) {
  std::memset(field, 0, size);
  if (text == nullptr || size == 0) return;
  std::size_t length = std::strlen(text);
  if (length >= size) {
    length = size - 1;
    // Back off over continuation bytes so that no UTF-8 character is cut in half.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(field, text, length);
}

void fillServerInfo(_ServerInfoData& record, const char* serverName, const char* firstAddress,
                    const char* secondAddress) {
  std::memset(&record, 0, sizeof record);
  copyCut(record.serverName, sizeof record.serverName, serverName);
  const bool first = firstAddress != nullptr;
  const bool second = secondAddress != nullptr && secondAddress[0] != '\0';
  if (first) copyCut(record.firstAddress, sizeof record.firstAddress, firstAddress);
  if (second) copyCut(record.secondAddress, sizeof record.secondAddress, secondAddress);
  record.twoAddresses = first && second;
}

}  // namespace ostrel

const char* OstrelOrigin::activeServer(const char* server) {
  const auto name = ostrel::resolveServer(server);
  if (!name) return nullptr;
  return kxNaming_Client::GetInstance()->activeServer(name->c_str());
}

void OstrelOrigin::GetServerAddress(const char* server, ObjectNames& addresses) {
  addresses.count = 0;
  addresses.names = nullptr;
  const auto name = ostrel::resolveServer(server);
  if (!name) return;
  const auto found = kxNaming_Client::GetInstance()->potentialServers(name->c_str());
  // Allocated also when empty: the caller releases the list with DeatoryNameSeq either way.
  char** names = new char*[found.size()];
  for (std::size_t i = 0; i < found.size(); ++i) names[i] = CORBA::string_dup(found[i].c_str());
  addresses.names = names;
  addresses.count = static_cast<int>(found.size());
}

void OstrelOrigin::GetServerNames(const char* position, BrennicServerList& list) {
  const auto found = kxReferenceContainer::instance()->InquireServerNameWithPosition(position);
  // A position may hold more servers than the list has room for: the rest are left out rather
  // than written past its end.
  const int count = static_cast<int>(
      std::min<std::size_t>(found.size(), static_cast<std::size_t>(BrennicServerList::kCapacity)));
  for (int i = 0; i < count; ++i) {
    list.names[i] = found[static_cast<std::size_t>(i)] != nullptr
                        ? found[static_cast<std::size_t>(i)]->c_str()
                        : nullptr;
  }
  list.count = count;
}

void OstrelOrigin::setFixedAddress(const char* address, const char* server) {
  const auto name = ostrel::resolveServer(server);
  if (!name) return;
  kxNaming_Client::GetInstance()->setFixedAddress(address, name->c_str());
}

void OstrelOrigin::SetNewTarget(const char* target, const char* server) {
  const auto name = ostrel::resolveServer(server);
  if (!name) return;
  kxNaming_Client::GetInstance()->addServerInfo(name->c_str(), target);
}

void OstrelOrigin::updateServerSetting(const char* server, const char* firstAddress,
                                       const char* secondAddress) {
  // A null server means the own server; when the settings name none the record is stored under
  // the placeholder name "0000".
  const std::string name =
      server != nullptr ? std::string(server) : ostrel::ownServerName().value_or("0000");
  _ServerInfoData record;
  ostrel::fillServerInfo(record, name.c_str(), firstAddress, secondAddress);
  kxServerInfoXmlImpl().SetServerInfo("own", record);

  kxNaming_Client* naming = kxNaming_Client::GetInstance();
  naming->clearServerInfo();
  naming->InitServerInfo();
  kxReferenceContainer::instance()->BuildSettingData();

  // Every recorded state is dropped: servers must be connected again under the new settings.
  const auto own = ostrel::ownServerName();
  TarnConnector::instance()->disconnect(own ? own->c_str() : nullptr);
}

int OstrelOrigin::setMasterMiddleware(bool master, const char* server) {
  const auto name = ostrel::resolveServer(server);
  if (!name) return OstrelCode::kNoServerName;
  return ostrel::callService<kxTarn::kxTarnServiceManager, OstrelCode::kMasterCallFailed>(
      name->c_str(), nullptr, [master](kxTarn::kxTarnServiceManager_ptr manager) {
        manager->set_master(master);  // its own result is not used
        return OstrelCode::kOk;
      });
}
