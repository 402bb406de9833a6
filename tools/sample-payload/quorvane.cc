// A stand-in for the tool that the installer carries: it shows how it was
// started (arguments, working directory, PWD) and exits 0, so that a packed
// installer can be tried end to end.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string WorkingDirectory() {
  std::string buf(256, '\0');
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return std::string("(unknown: ") + std::strerror(errno) + ")";
    buf.resize(buf.size() * 2);
  }
  return buf.c_str();
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("quorvane sample payload\n");
  for (int i = 0; i < argc; ++i) std::printf("argument %d: %s\n", i, argv[i]);
  std::printf("working directory: %s\n", WorkingDirectory().c_str());
  const char* pwd = std::getenv("PWD");
  std::printf("PWD: %s\n", pwd != nullptr ? pwd : "(not set)");
  return 0;
}
