// Drives korzip.spi (korzip.sph) as a careful host does, for korzip_test.py:
//   korzip_harness PLUGIN COMMANDS.txt
// Each line of COMMANDS.txt is one command, its fields separated by tabs; each prints one line
// of JSON.  Names and texts are printed as hex of their bytes.
//   info BUFLEN                      -> GetPluginInfo 0..7 with a buffer of BUFLEN bytes
//   supported FILE                   -> IsSupported on a zero-filled 2 KiB block of the file
//   list file|mem FILE               -> GetArchiveInfo's result and records, read no further
//                                       than the block's LocalSize
//   find file|mem FILE FLAG NAME     -> GetFileInfo's result and record
//   get file|mem FILE POSITION OUT [ABORT_AT]
//                                    -> GetFile with memory output, the bytes written to OUT;
//                                       memory input is the archive from POSITION on
//   tofolder FILE POSITION FOLDER    -> GetFile with file output into FOLDER
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/localmem.h"
#include "plugins/spi_api.h"

namespace {

struct Plugin {
  SPI_GetPluginInfo info;
  SPI_IsSupported supported;
  SPI_GetArchiveInfo archiveInfo;
  SPI_GetFileInfo fileInfo;
  SPI_GetFile file;
};

std::string Hex(const void* data, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<const unsigned char*>(data)[i];
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// A text field of the record: its bytes up to the NUL, or "!" when it has none.
std::string Text(const char* field, size_t size) {
  const void* end = std::memchr(field, 0, size);
  return end ? '"' + Hex(field, static_cast<const char*>(end) - field) + '"' : std::string("\"!\"");
}

std::string Record(const SPI_FILEINFO& r) {
  std::ostringstream s;
  s << "{\"method\":" << Text(reinterpret_cast<const char*>(r.method), sizeof r.method)
    << ",\"position\":" << r.position << ",\"compsize\":" << r.compsize << ",\"filesize\":" << r.filesize
    << ",\"timestamp\":" << r.timestamp << ",\"path\":" << Text(r.path, sizeof r.path)
    << ",\"filename\":" << Text(r.filename, sizeof r.filename) << ",\"crc\":" << r.crc << "}";
  return s.str();
}

// The whole file in a block of exactly its size, so that a read past its end is caught.
struct Bytes {
  std::unique_ptr<char[]> data;
  size_t size = 0;
};
Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Bytes b;
  b.size = all.size();
  b.data.reset(new char[b.size ? b.size : 1]);
  std::memcpy(b.data.get(), all.data(), b.size);
  return b;
}

struct Progress {
  int calls = 0;
  int abortAt = 0;
  int32_t last = -1;
  bool ordered = true;  // done never goes back and stays within total
};

int32_t SPI_CALL OnProgress(int32_t done, int32_t total, spi_len_t lData) {
  auto* p = reinterpret_cast<Progress*>(lData);
  if (done < p->last || done > total) p->ordered = false;
  p->last = done;
  return ++p->calls == p->abortAt ? 1 : 0;
}

std::string List(const Plugin& spi, bool memory, const std::string& path) {
  const Bytes bytes = memory ? ReadAll(path) : Bytes();
  spi_hlocal_t h = nullptr;
  const int32_t result = memory ? spi.archiveInfo(bytes.data.get(), static_cast<spi_len_t>(bytes.size), 1, &h)
                                : spi.archiveInfo(path.c_str(), 0, 0, &h);
  std::ostringstream s;
  s << "{\"result\":" << result << ",\"records\":[";
  bool ended = false;
  if (h) {
    const size_t count = platform::LocalBlockSize(h) / sizeof(SPI_FILEINFO);
    const auto* records = static_cast<const SPI_FILEINFO*>(platform::LocalLockBlock(h));
    for (size_t i = 0; records && i < count && !ended; ++i) {
      ended = records[i].method[0] == 0;
      if (!ended) s << (i ? "," : "") << Record(records[i]);
    }
    platform::LocalUnlockBlock(h);
    platform::LocalFreeBlock(h);
  }
  s << "],\"block\":" << (h != nullptr) << ",\"ended\":" << ended << "}";
  return s.str();
}

std::string Run(const Plugin& spi, const std::vector<std::string>& a) {
  const std::string& command = a[0];
  std::ostringstream s;
  if (command == "info") {
    const int32_t buflen = std::stoi(a[1]);
    s << "{\"info\":[";
    for (int32_t n = 0; n < 8; ++n) {
      // One byte more than the plug-in is told of, which it must leave alone.
      std::vector<char> buf(static_cast<size_t>(buflen) + 1, '\x7f');
      const int32_t got = spi.info(n, buf.data(), buflen);
      s << (n ? "," : "") << "[" << got << "," << Text(buf.data(), static_cast<size_t>(buflen)) << ","
        << (buf[static_cast<size_t>(buflen)] == '\x7f') << "]";
    }
    s << "]}";
  } else if (command == "supported") {
    std::vector<char> head(2048, 0);
    std::ifstream(a[1], std::ios::binary).read(head.data(), static_cast<std::streamsize>(head.size()));
    s << "{\"supported\":" << spi.supported(a[1].c_str(), reinterpret_cast<spi_dw_t>(head.data())) << "}";
  } else if (command == "list") {
    s << List(spi, a[1] == "mem", a[2]);
  } else if (command == "find") {
    const bool memory = a[1] == "mem";
    const Bytes bytes = memory ? ReadAll(a[2]) : Bytes();
    const uint32_t flag = static_cast<uint32_t>(std::stoul(a[3])) | (memory ? 1 : 0);
    const std::string name = Unhex(a[4]);
    SPI_FILEINFO r{};
    const int32_t result =
        spi.fileInfo(memory ? bytes.data.get() : a[2].c_str(),
                     memory ? static_cast<spi_len_t>(bytes.size) : 0, name.c_str(), flag, &r);
    s << "{\"result\":" << result << ",\"record\":" << Record(r) << "}";
  } else if (command == "get") {
    const bool memory = a[1] == "mem";
    const size_t position = std::stoul(a[3]);
    const Bytes bytes = memory ? ReadAll(a[2]) : Bytes();
    const size_t from = position < bytes.size ? position : bytes.size;
    Progress progress;
    if (a.size() > 5) progress.abortAt = std::stoi(a[5]);
    spi_hlocal_t h = nullptr;
    const int32_t result =
        memory ? spi.file(bytes.data.get() + from, static_cast<spi_len_t>(bytes.size - from),
                          reinterpret_cast<char*>(&h), 0x100 | 1, OnProgress,
                          reinterpret_cast<spi_len_t>(&progress))
               : spi.file(a[2].c_str(), static_cast<spi_len_t>(position), reinterpret_cast<char*>(&h), 0x100,
                          OnProgress, reinterpret_cast<spi_len_t>(&progress));
    const size_t size = h ? platform::LocalBlockSize(h) : 0;
    if (h) {
      std::ofstream out(a[4], std::ios::binary);
      out.write(static_cast<const char*>(platform::LocalLockBlock(h)), static_cast<std::streamsize>(size));
      platform::LocalUnlockBlock(h);
      platform::LocalFreeBlock(h);
    }
    s << "{\"result\":" << result << ",\"size\":" << size << ",\"calls\":" << progress.calls
      << ",\"last\":" << progress.last << ",\"ordered\":" << progress.ordered << "}";
  } else if (command == "tofolder") {
    std::vector<char> folder(a[3].begin(), a[3].end());
    folder.push_back(0);
    s << "{\"result\":"
      << spi.file(a[1].c_str(), static_cast<spi_len_t>(std::stoul(a[2])), folder.data(), 0, nullptr, 0)
      << "}";
  } else {
    s << "{\"error\":\"unknown command\"}";
  }
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: korzip_harness PLUGIN COMMANDS\n");
    return 2;
  }
  const platform::DynamicLibrary lib(argv[1]);
  const Plugin spi{reinterpret_cast<SPI_GetPluginInfo>(lib.Proc("GetPluginInfo")),
                   reinterpret_cast<SPI_IsSupported>(lib.Proc("IsSupported")),
                   reinterpret_cast<SPI_GetArchiveInfo>(lib.Proc("GetArchiveInfo")),
                   reinterpret_cast<SPI_GetFileInfo>(lib.Proc("GetFileInfo")),
                   reinterpret_cast<SPI_GetFile>(lib.Proc("GetFile"))};
  if (!spi.info || !spi.supported || !spi.archiveInfo || !spi.fileInfo || !spi.file) {
    std::fprintf(stderr, "cannot load %s with its five entry points\n", argv[1]);
    return 2;
  }
  std::ifstream commands(argv[2]);
  std::string line;
  while (std::getline(commands, line)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    if (!fields.empty()) std::printf("%s\n", Run(spi, fields).c_str());
  }
  return 0;
}
