// The least work an extraction of the payload can take, as a yardstick for
// the installer: the same steps with the same zlib and SHA-256 and nothing
// else. It reads the archive file whole, inflates each file member in 64 KiB
// pieces with its CRC-32 into a fresh directory (the "amd64" members into the
// directory itself, the others into "licenses"), reads every written file
// back for its SHA-256 and compares it with the lists, runs "quorvane" there
// and waits for it, and deletes the directory.
//
// usage: floor ARCHIVE DIR   (DIR must not exist; exit 0 when all went well)
#include <fcntl.h>
#include <ftw.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kPiece = 64 * 1024;

struct Member {
  std::string name;
  uint16_t method;
  uint32_t crc;
  uint64_t compressed_size, size, local_offset;
};

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
uint32_t U32(const std::string& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

bool Die(const char* what, const std::string& about) {
  std::fprintf(stderr, "floor: %s %s\n", what, about.c_str());
  return false;
}

bool ReadWhole(const std::string& path, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  fstat(fd, &st);
  out->resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out->size()) {
    ssize_t n = read(fd, out->data() + done, out->size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == out->size();
}

// The central directory, from an end record without a comment.
std::vector<Member> Directory(const std::string& a) {
  size_t end = a.size() - 22;
  size_t at = U32(a, end + 16);
  std::vector<Member> members(U16(a, end + 10));
  for (Member& m : members) {
    m.method = static_cast<uint16_t>(U16(a, at + 10));
    m.crc = U32(a, at + 16);
    m.compressed_size = U32(a, at + 20);
    m.size = U32(a, at + 24);
    m.local_offset = U32(a, at + 42);
    uint32_t name_length = U16(a, at + 28);
    m.name = a.substr(at + 46, name_length);
    at += 46 + name_length + U16(a, at + 30) + U16(a, at + 32);
  }
  return members;
}

bool WriteAll(int fd, const unsigned char* data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool Inflate(const std::string& a, const Member& m, const std::string& path) {
  size_t data = m.local_offset + 30 + U16(a, m.local_offset + 26) + U16(a, m.local_offset + 28);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0440);
  if (fd < 0) return Die("cannot create", path);
  z_stream z{};
  inflateInit2(&z, -MAX_WBITS);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(a.data() + data));
  z.avail_in = static_cast<uInt>(m.compressed_size);
  static unsigned char out[kPiece];
  uLong crc = crc32(0, nullptr, 0);
  uint64_t total = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = out;
    z.avail_out = kPiece;
    rc = inflate(&z, Z_NO_FLUSH);
    size_t got = kPiece - z.avail_out;
    crc = crc32(crc, out, static_cast<uInt>(got));
    total += got;
    if (!WriteAll(fd, out, got)) rc = Z_ERRNO;
  }
  inflateEnd(&z);
  close(fd);
  if (rc != Z_STREAM_END || total != m.size || crc != m.crc) return Die("bad member", m.name);
  return true;
}

std::string Sha256File(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
  static unsigned char buf[kPiece];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) EVP_DigestUpdate(ctx, buf, static_cast<size_t>(n));
  close(fd);
  unsigned char md[32];
  EVP_DigestFinal_ex(ctx, md, nullptr);
  EVP_MD_CTX_free(ctx);
  char hex[65];
  for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", md[i]);
  return hex;
}

// "digest name" lines: name to digest.
std::map<std::string, std::string> List(const std::string& path) {
  std::string text;
  ReadWhole(path, &text);
  std::map<std::string, std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t eol = text.find('\n', at);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(at, eol - at);
    if (line.size() > 65) out[line.substr(65)] = line.substr(0, 64);
    at = eol + 1;
  }
  return out;
}

bool RunInstaller(const std::string& dir) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    execl("./quorvane", "quorvane", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Remove(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

bool Extract(const std::string& archive_path, const std::string& dir) {
  std::string a;
  if (!ReadWhole(archive_path, &a)) return Die("cannot read", archive_path);
  if (mkdir(dir.c_str(), 0700) != 0 || mkdir((dir + "/licenses").c_str(), 0700) != 0) {
    return Die("cannot make", dir);
  }
  std::vector<std::string> written;
  for (const Member& m : Directory(a)) {
    if (m.name.back() == '/') continue;
    bool root = m.name.compare(0, 6, "amd64/") == 0;
    std::string path = dir + (root ? "/" : "/licenses/") + m.name.substr(m.name.rfind('/') + 1);
    if (!Inflate(a, m, path)) return false;
    if (path.compare(path.size() - 13, 13, "checksums.txt") != 0) written.push_back(path);
  }
  std::map<std::string, std::string> lists[2] = {List(dir + "/checksums.txt"),
                                                 List(dir + "/licenses/checksums.txt")};
  for (const std::string& path : written) {
    bool licence = path.find("/licenses/") != std::string::npos;
    if (lists[licence][path.substr(path.rfind('/') + 1)] != Sha256File(path)) {
      return Die("digest differs:", path);
    }
  }
  chmod((dir + "/quorvane").c_str(), 0540);
  bool ran = RunInstaller(dir);
  nftw(dir.c_str(), Remove, 16, FTW_DEPTH | FTW_PHYS);
  return ran || Die("payload failed in", dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: floor ARCHIVE DIR\n");
    return 2;
  }
  return Extract(argv[1], argv[2]) ? 0 : 1;
}
