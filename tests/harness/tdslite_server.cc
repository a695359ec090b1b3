#include "tdslite_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace harness {

TdsliteServer::TdsliteServer(const std::string& program, std::vector<std::string> extra) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  std::vector<std::string> words = {program, "--port", "0", "--user", "ktdb:secret"};
  words.insert(words.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    return;
  }
  // Reads until the address line, for at most ten seconds.
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const std::string marker = "tdslite listening on ";
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char chunk[256];
    const ssize_t n = read(out[0], chunk, sizeof chunk);
    if (n <= 0) break;
    seen.append(chunk, static_cast<std::size_t>(n));
    const std::size_t at = seen.find(marker);
    const std::size_t end = at == std::string::npos ? at : seen.find('\n', at);
    if (end != std::string::npos) {
      address_ = seen.substr(at + marker.size(), end - at - marker.size());
      const std::size_t colon = address_.rfind(':');
      if (colon != std::string::npos) port_ = std::atoi(address_.c_str() + colon + 1);
      break;
    }
  }
  // The server's later output is not wanted; closing the pipe would make its
  // writes fail, so it is drained to /dev/null by a child-free redirect: the
  // read end stays open for the server's life and is closed in Kill.
  readEnd_ = out[0];
  if (port_ == 0) Kill();
}

TdsliteServer::~TdsliteServer() {
  Kill();
}

void TdsliteServer::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGCONT);
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  if (readEnd_ >= 0) close(readEnd_);
  readEnd_ = -1;
}

std::string TdsliteProgram(const char* built) {
  const char* other = std::getenv("KTDB_TDSLITE");
  return other != nullptr && *other != '\0' ? other : built;
}

int OpenDescriptors(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

int Threads(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

}  // namespace harness
