// A status listener that logs servers going down, coming back and a redundant pair changing over.
//
//   TARN_SETTINGS=settings.xml example_listener [SECONDS]
//
// Connects every server of the settings, then prints the news for SECONDS (default 30).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <ostrel/api/ostrel.h>
#include <ostrel/connection/server_settings.h>
#include <ostrel/connection/status_listener.h>

class LoggingListener : public BrennicStatusListenerBase {
 public:
  // Called on the library's monitor thread (or the thread that connects): keep it short.
  void onConnected(const char* server) override {
    const char* active = Ostrel::activeServer(server);
    std::lock_guard<std::mutex> hold(mutex_);
    std::string& last = active_[server];
    if (!last.empty() && active && last != active)
      std::printf("%s: switched %s -> %s\n", server, last.c_str(), active);
    else
      std::printf("%s: up at %s\n", server, active ? active : "?");
    last = active ? active : "";
    std::fflush(stdout);
  }
  void onDisconnected(const char* server) override {
    std::printf("%s: down (%d)\n", server, Ostrel::IsConnect(server));
    std::fflush(stdout);
  }
  void onNamingServerChanged(const char*, int) override {}
  void onDataServerChanged(const char*, const char*, int) override {}
  void onEventServerChanged(const char*, const char*, int) override {}
  void onMasterChanged(const char*, bool) override {}

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> active_;
};

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  LoggingListener listener;
  Ostrel::InstallListener(listener);  // before connecting: the first connect is news too
  BrennicServerList servers;
  Ostrel::GetServerNames(nullptr, servers);
  for (int i = 0; i < servers.count; ++i) Ostrel::ConnectTarn(servers.names[i]);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  Ostrel::RemoveListener(listener);
  Ostrel::ExitOstrel();
  return 0;
}
