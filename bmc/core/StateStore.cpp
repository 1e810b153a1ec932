#include "StateStore.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RosterBmc {
namespace {

constexpr char kTempSuffix[] = ".tmp";
constexpr char kSataPrefix[] = "sata-";
constexpr char kSataSuffix[] = ".bin";

bool EndsWith(const std::string &Text, const char *Suffix) {
  size_t Length = std::strlen(Suffix);
  return Text.size() >= Length && Text.compare(Text.size() - Length, Length, Suffix) == 0;
}

// The index of a name this store gives SATA messages, or -1.
int SataIndexOf(const std::string &Name) {
  std::string Prefix = kSataPrefix;
  if (Name.size() != Prefix.size() + 2 + std::strlen(kSataSuffix) || Name.compare(0, Prefix.size(), Prefix) != 0 ||
      !EndsWith(Name, kSataSuffix)) {
    return -1;
  }
  char High = Name[Prefix.size()];
  char Low = Name[Prefix.size() + 1];
  if (High < '0' || High > '9' || Low < '0' || Low > '9') {
    return -1;
  }
  return (High - '0') * 10 + (Low - '0');
}

std::vector<std::string> ListNames(int DirFd) {
  std::vector<std::string> Names;
  int Fd = openat(DirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    return Names;
  }
  DIR *Dir = fdopendir(Fd);
  if (Dir == nullptr) {
    close(Fd);
    return Names;
  }
  while (const dirent *Entry = readdir(Dir)) {
    Names.emplace_back(Entry->d_name);
  }
  closedir(Dir);
  return Names;
}

bool WriteAll(int Fd, const uint8_t *Data, size_t Size) {
  while (Size > 0) {
    ssize_t Written = write(Fd, Data, Size);
    if (Written < 0 && errno == EINTR) {
      continue;
    }
    if (Written <= 0) {
      return false;
    }
    Data += Written;
    Size -= static_cast<size_t>(Written);
  }
  return true;
}

}  // namespace

StateStore::~StateStore() {
  if (DirFd >= 0) {
    close(DirFd);
  }
}

std::string StateStore::SataFileName(unsigned Index) {
  char Name[16];
  std::snprintf(Name, sizeof(Name), "%s%02u%s", kSataPrefix, Index % 100, kSataSuffix);
  return Name;
}

bool StateStore::Open(const std::string &Directory, std::string &Error) {
  if (Directory.empty()) {
    Error = "no state directory";
    return false;
  }
  if (mkdir(Directory.c_str(), 0700) != 0 && errno != EEXIST) {
    Error = "cannot create " + Directory + ": " + std::strerror(errno);
    return false;
  }
  int Fd = open(Directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    Error = "cannot open " + Directory + ": " + std::strerror(errno);
    return false;
  }
  if (DirFd >= 0) {
    close(DirFd);
  }
  DirFd = Fd;
  SataMessages = 0;
  for (const auto &Name : ListNames(DirFd)) {
    if (EndsWith(Name, kTempSuffix)) {
      unlinkat(DirFd, Name.c_str(), 0);
    }
  }
  // The set is numbered from 0 without gaps; after a restart the next message follows it.
  while (SataMessages < kMaxSataMessages) {
    struct stat Info;
    if (fstatat(DirFd, SataFileName(SataMessages).c_str(), &Info, AT_SYMLINK_NOFOLLOW) != 0) {
      break;
    }
    ++SataMessages;
  }
  return true;
}

bool StateStore::WriteAtomically(const std::string &Name, std::span<const uint8_t> Content, bool &Replaced) {
  Replaced = false;
  if (DirFd < 0) {
    return false;
  }
  std::string Temp = Name + kTempSuffix;
  if (!Allowed(StoreStage::Create)) {
    return false;
  }
  // O_NOFOLLOW: a link someone put in the directory under this name is not followed out of it.
  int Fd = openat(DirFd, Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (Fd < 0) {
    return false;
  }
  bool Done = Allowed(StoreStage::Write) && WriteAll(Fd, Content.data(), Content.size()) && Allowed(StoreStage::Sync) &&
              fsync(Fd) == 0;
  Done = close(Fd) == 0 && Done;
  if (Done && Allowed(StoreStage::Rename) && renameat(DirFd, Temp.c_str(), DirFd, Name.c_str()) == 0) {
    // The rename is the commit point; the directory's sync makes it survive a power loss.
    Replaced = true;
    return Allowed(StoreStage::SyncDirectory) && fsync(DirFd) == 0;
  }
  unlinkat(DirFd, Temp.c_str(), 0);
  return false;
}

void StateStore::RemoveSataSet() {
  for (const auto &Name : ListNames(DirFd)) {
    if (SataIndexOf(Name) >= 0) {
      unlinkat(DirFd, Name.c_str(), 0);
    }
  }
  SataMessages = 0;
  fsync(DirFd);
}

bool StateStore::StoreInventory(std::span<const uint8_t> Image) {
  bool Replaced = false;
  bool Stored = WriteAtomically(kInventoryFile, Image, Replaced);
  // Once renamed the new image is the one a reader sees, durable or not; its boot starts.
  if (Replaced) {
    RemoveSataSet();
  }
  return Stored;
}

bool StateStore::StoreSata(std::span<const uint8_t> Message) {
  bool Replaced = false;
  bool Stored = SataMessages < kMaxSataMessages && WriteAtomically(SataFileName(SataMessages), Message, Replaced);
  if (Replaced) {
    ++SataMessages;
  }
  return Stored;
}

std::optional<std::vector<uint8_t>> StateStore::ReadInventory() const {
  if (DirFd < 0) {
    return std::nullopt;
  }
  int Fd = openat(DirFd, kInventoryFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (Fd < 0) {
    return std::nullopt;
  }
  // Bounded: a file larger than any image is read only as far as tells that it is.
  constexpr size_t kReadLimit = 1 << 16;
  std::vector<uint8_t> Content;
  uint8_t Block[4096];
  while (Content.size() < kReadLimit) {
    ssize_t Got = read(Fd, Block, sizeof(Block));
    if (Got < 0 && errno == EINTR) {
      continue;
    }
    if (Got <= 0) {
      break;
    }
    Content.insert(Content.end(), Block, Block + Got);
  }
  close(Fd);
  return Content;
}

}  // namespace RosterBmc
